#include "ProfileIni.h"

#include "Utf8Text.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <utility>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kvprint {

namespace {

std::string trimmed(const std::string& text)
{
    const char* blanks = " \t\r\f\v";
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return std::string();
    }
    const auto last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

bool sameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// "[Name]" gives true and the trimmed name.
bool sectionHeader(const std::string& line, std::string& name)
{
    const std::string text = trimmed(line);
    if (text.size() < 2 || text.front() != '[') {
        return false;
    }
    const auto close = text.find(']');
    if (close == std::string::npos) {
        return false;
    }
    name = trimmed(text.substr(1, close - 1));
    return true;
}

// "key=value" gives true with the trimmed key and value; comments do not.
bool keyLine(const std::string& line, std::string& key, std::string& value)
{
    const std::string text = trimmed(line);
    if (text.empty() || text.front() == ';') {
        return false;
    }
    const auto equals = text.find('=');
    if (equals == std::string::npos) {
        return false;
    }
    key = trimmed(text.substr(0, equals));
    value = trimmed(text.substr(equals + 1));
    return true;
}

std::string unquoted(const std::string& value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

} // namespace

ProfileIni::ProfileIni(std::string path)
    : m_path(std::move(path))
    , m_lineEnd("\n")
{
}

void ProfileIni::load()
{
    m_lines.clear();
    m_lineEnd = "\n";
    std::ifstream in(m_path, std::ios::binary);
    if (!in) {
        return;
    }
    std::string line;
    bool first = true;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
            if (first) {
                m_lineEnd = "\r\n";
            }
        }
        first = false;
        m_lines.push_back(line);
    }
}

// Writes beside the file and renames, so that a failure half-way leaves the
// old file whole. A link is written through instead, and the file keeps its
// permissions.
bool ProfileIni::replaceWhole(const std::string& bytes) const
{
#if defined(_WIN32)
    (void)bytes;
    return false;
#else
    struct stat old { };
    const bool exists = ::lstat(m_path.c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode)) {
        return false;
    }
    const std::string temporary = m_path + ".tmp" + std::to_string(static_cast<long>(getpid()));
    bool done = false;
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (out) {
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            out.close();
            done = static_cast<bool>(out);
        }
    }
    if (done && exists) {
        done = ::chmod(temporary.c_str(), old.st_mode & 07777) == 0;
    }
    done = done && std::rename(temporary.c_str(), m_path.c_str()) == 0;
    if (!done) {
        std::remove(temporary.c_str());
    }
    return done;
#endif
}

bool ProfileIni::save() const
{
    std::ostringstream text;
    for (const auto& line : m_lines) {
        text << line << m_lineEnd;
    }
    const std::string bytes = text.str();

    if (replaceWhole(bytes)) {
        return true;
    }
    // A folder that refuses new files may still hold a writable file.
    std::ofstream out(m_path, std::ios::binary | std::ios::trunc);
    if (!out) {
        return false;
    }
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

bool ProfileIni::findValue(const std::string& section, const std::string& key, std::string& value) const
{
    bool inSection = false;
    for (const auto& line : m_lines) {
        std::string name;
        if (sectionHeader(line, name)) {
            // The first section of that name is the one that counts.
            if (inSection) {
                return false;
            }
            inSection = sameName(name, section);
            continue;
        }
        std::string lineKey;
        std::string lineValue;
        if (inSection && keyLine(line, lineKey, lineValue) && sameName(lineKey, key)) {
            value = unquoted(lineValue);
            return true;
        }
    }
    return false;
}

std::string ProfileIni::readString(
    const std::string& section, const std::string& key, const std::string& fallback, std::size_t capacity) const
{
    if (capacity == 0) {
        return std::string();
    }
    std::string value;
    if (!findValue(section, key, value)) {
        value = fallback;
    }
    value.resize(utf8PrefixLength(value.data(), value.size(), capacity - 1));
    return value;
}

std::uint32_t ProfileIni::readInt(const std::string& section, const std::string& key, std::uint32_t fallback) const
{
    std::string value;
    if (!findValue(section, key, value)) {
        return fallback;
    }
    return parseInt(value);
}

std::uint32_t ProfileIni::parseInt(const std::string& value)
{
    std::size_t at = 0;
    bool negative = false;
    if (at < value.size() && (value[at] == '-' || value[at] == '+')) {
        negative = value[at] == '-';
        ++at;
    }
    std::uint32_t number = 0;
    for (; at < value.size() && std::isdigit(static_cast<unsigned char>(value[at])); ++at) {
        number = number * 10U + static_cast<std::uint32_t>(value[at] - '0');
    }
    return negative ? 0U - number : number;
}

void ProfileIni::writeString(const std::string& section, const std::string& key, const std::string& value)
{
    const std::string entry = key + "=" + value.substr(0, value.find_first_of("\r\n"));

    constexpr std::size_t none = static_cast<std::size_t>(-1);
    std::size_t sectionAt = none;
    std::size_t insertAt = none;
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        std::string name;
        if (sectionHeader(m_lines[i], name)) {
            if (sectionAt != none) {
                break;
            }
            if (sameName(name, section)) {
                sectionAt = i;
                insertAt = i + 1;
            }
            continue;
        }
        if (sectionAt == none) {
            continue;
        }
        std::string lineKey;
        std::string lineValue;
        if (keyLine(m_lines[i], lineKey, lineValue) && sameName(lineKey, key)) {
            m_lines[i] = entry;
            return;
        }
        if (!trimmed(m_lines[i]).empty()) {
            insertAt = i + 1;
        }
    }
    if (sectionAt == none) {
        m_lines.push_back("[" + section + "]");
        m_lines.push_back(entry);
        return;
    }
    // New keys go after the section's last entry, before blank lines.
    m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(insertAt), entry);
}

} // namespace kvprint
