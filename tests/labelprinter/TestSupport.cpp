#include "TestSupport.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tagwrighttest {

namespace {

int removeEntry(const char* path, const struct stat*, int, struct FTW*)
{
    return ::remove(path);
}

} // namespace

ScratchDir::ScratchDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tagwright-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) {
        throw std::runtime_error("mkdtemp failed");
    }
    m_path = buffer.data();
}

ScratchDir::~ScratchDir()
{
    nftw(m_path.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::vector<std::string> readLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

bool fileExists(const std::string& path)
{
    struct stat info { };
    return ::stat(path.c_str(), &info) == 0;
}

std::vector<std::string> filesEndingWith(const std::string& folder, const std::string& suffix)
{
    std::vector<std::string> found;
    DIR* dir = opendir(folder.c_str());
    if (!dir) {
        return found;
    }
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
            found.push_back(folder + "/" + name);
        }
    }
    closedir(dir);
    return found;
}

void setText(char (&field)[128], const std::string& text)
{
    std::memset(field, 0, sizeof field);
    std::memcpy(field, text.data(), text.size() < sizeof field ? text.size() : sizeof field);
}

kvprint::CTagwright::_sructPrinterConfig sampleTemplate(int port)
{
    kvprint::CTagwright::_sructPrinterConfig config {};
    config.port = port;
    config.height = 30;
    config.width = 40;
    config.gaph = 2;
    config.id = 12;
    config.px = 3;
    config.direct = 1;
    config.movex = 5;
    config.movey = 6;
    config.QRx = 20;
    config.QRy = 10;
    config.QRo = 1;
    config.QRr = 4;
    config.BCx = 7;
    config.DeviceID = { 10, 150, 0, 2, 2, 2 };
    config.User = { 10, 180, 0, 3, 1, 1, {} };
    config.Pwd = { 10, 210, 0, 3, 1, 1, {} };
    config.Model = { 10, 240, 1, 3, 1, 1, {} };
    setText(config.User.value, "admin");
    setText(config.Pwd.value, "secret");
    setText(config.Model.value, "KV-100");
    return config;
}

kvprint::CTagwright::_structPrintParam sampleParam(unsigned int deviceNumber, int qrMode, bool printModel)
{
    kvprint::CTagwright::_structPrintParam param {};
    param.deviceNumber = deviceNumber;
    param.printModel = printModel;
    param.count = 2;
    param.copies = 3;
    param.qrMode = qrMode;
    setText(param.device, "A1");
    setText(param.pk, "K9");
    return param;
}

ScopedEnv::ScopedEnv(const char* name, const char* value)
    : m_name(name)
    , m_had(std::getenv(name) != nullptr)
    , m_old(m_had ? std::getenv(name) : "")
{
    if (value) {
        ::setenv(name, value, 1);
    } else {
        ::unsetenv(name);
    }
}

ScopedEnv::~ScopedEnv()
{
    if (m_had) {
        ::setenv(m_name.c_str(), m_old.c_str(), 1);
    } else {
        ::unsetenv(m_name.c_str());
    }
}

} // namespace tagwrighttest
