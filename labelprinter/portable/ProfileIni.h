// An INI file of "[Section]" and "key=value" lines, read and written with
// private-profile semantics: a missing file, section or key gives the
// caller's default; a write creates the file, the section and the key and
// keeps every other line as it stands. Section and key names match without
// regard to case. Plain value class; use it from one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kvprint {

class ProfileIni {
public:
    explicit ProfileIni(std::string path);

    // Reads the file; a missing or unreadable one reads as empty.
    void load();
    // Writes the lines back. Failures are silent, as with the profile API;
    // the result is only for diagnostics.
    bool save() const;

    // At most capacity - 1 bytes, cut at a UTF-8 character boundary.
    std::string readString(
        const std::string& section, const std::string& key, const std::string& fallback, std::size_t capacity) const;
    // Decimal text with an optional sign, taken modulo 2^32, so that
    // "4294967295" and "-1" read alike.
    std::uint32_t readInt(const std::string& section, const std::string& key, std::uint32_t fallback) const;
    // The same reading of one value's text.
    static std::uint32_t parseInt(const std::string& value);
    // A value never spans lines: it is cut at the first line break.
    void writeString(const std::string& section, const std::string& key, const std::string& value);

    const std::string& path() const { return m_path; }

private:
    bool replaceWhole(const std::string& bytes) const;
    bool findValue(const std::string& section, const std::string& key, std::string& value) const;

    std::string m_path;
    std::vector<std::string> m_lines;
    std::string m_lineEnd;
};

} // namespace kvprint
