// Helpers shared by the label printer tests: a scratch folder that removes
// itself, whole-file reads and the stand-ins' call traces.
#pragma once

#include <CTagwright.h>

#include <string>
#include <vector>

namespace tagwrighttest {

class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& text);
// Lines without their line ends, "\r\n" or "\n".
std::vector<std::string> readLines(const std::string& path);
// The whole file with "\r\n" read as "\n": the system's profile functions
// write CR LF on Windows.
std::string readText(const std::string& path);
bool fileExists(const std::string& path);
// Full paths of the folder's files whose names end so.
std::vector<std::string> filesEndingWith(const std::string& folder, const std::string& suffix);

// A template that prints every item somewhere sensible.
kvprint::CTagwright::_sructPrinterConfig sampleTemplate(int port);
kvprint::CTagwright::_structPrintParam sampleParam(unsigned int deviceNumber, int qrMode, bool printModel);
void setText(char (&field)[128], const std::string& text);

// Sets or clears an environment variable for the life of the object. On
// Windows "PRINTER" also becomes the user's default printer meanwhile.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    bool m_had;
    std::string m_old;
    std::string m_oldDevice;
};

} // namespace tagwrighttest
