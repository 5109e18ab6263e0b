// Length limits for texts held in fixed buffers: never split a character,
// never read past the buffer.
#pragma once

#include <cstddef>
#include <string>

namespace kvprint {

// The longest prefix of text[0..length) of at most maxBytes bytes that does
// not end inside a UTF-8 sequence.
std::size_t utf8PrefixLength(const char* text, std::size_t length, std::size_t maxBytes);

// The text in a char buffer of the given size, whether or not the caller
// terminated it.
std::string textInBuffer(const char* buffer, std::size_t size);

// The length of the well-formed UTF-8 character at text[0..left) (1 to 4),
// or 0 for a broken, overlong or surrogate sequence.
std::size_t utf8SequenceLength(const char* text, std::size_t left);

// The text with every byte that does not belong to a well-formed UTF-8
// character replaced by U+FFFD, so it can go where only UTF-8 may.
std::string validUtf8(const std::string& text);

} // namespace kvprint
