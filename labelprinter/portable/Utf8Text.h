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

} // namespace kvprint
