// Converts UTF-8 texts to the narrow encoding of the user's locale, the
// encoding printer libraries expect for their text arguments.
#pragma once

#include <cstddef>
#include <string>

namespace kvprint {

// At most maxBytes bytes, cut between characters. Characters the target
// encoding lacks, and bytes that are not UTF-8, become '?'. Under the plain
// C/POSIX locale, which names no encoding beyond ASCII, the text stays UTF-8.
std::string toNarrowText(const std::string& utf8, std::size_t maxBytes);

} // namespace kvprint
