#include "TestSupport.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <system_error>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace tagwrighttest {

namespace fs = std::filesystem;

ScratchDir::ScratchDir()
{
    std::error_code error;
    const char* base = std::getenv("TMPDIR");
    const fs::path folder = base && *base ? fs::path(base) : fs::temp_directory_path(error);
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = folder / ("tagwright-test-" + std::to_string(random() % 1000000000ULL));
        if (fs::create_directory(candidate, error)) {
            m_path = candidate.generic_string();
            return;
        }
    }
    throw std::runtime_error("no scratch folder could be made");
}

ScratchDir::~ScratchDir()
{
    std::error_code error;
    fs::remove_all(fs::u8path(m_path), error);
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
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

std::string readText(const std::string& path)
{
    const std::string bytes = readFile(path);
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (!(bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')) {
            text += bytes[i];
        }
    }
    return text;
}

bool fileExists(const std::string& path)
{
    std::error_code error;
    return fs::exists(fs::u8path(path), error);
}

std::vector<std::string> filesEndingWith(const std::string& folder, const std::string& suffix)
{
    std::vector<std::string> found;
    std::error_code error;
    for (fs::directory_iterator it(fs::u8path(folder), error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().u8string();
        if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
            found.push_back(folder + "/" + name);
        }
    }
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

namespace {

#if defined(_WIN32)
// The library asks the spooler for the default printer there, which takes
// it from the user's profile ("device" in [windows]); "PRINTER" names it.
std::string windowsDefaultPrinter()
{
    char device[512] = {};
    GetProfileStringA("windows", "device", "", device, sizeof device);
    return device;
}

void setWindowsDefaultPrinter(const char* device)
{
    WriteProfileStringA("windows", "device", device);
}
#endif

void setVariable(const std::string& name, const char* value)
{
#if defined(_WIN32)
    _putenv_s(name.c_str(), value ? value : "");
    if (name == "PRINTER") {
        setWindowsDefaultPrinter(value && *value ? (std::string(value) + ",winspool,FILE:").c_str() : nullptr);
    }
#else
    if (value) {
        ::setenv(name.c_str(), value, 1);
    } else {
        ::unsetenv(name.c_str());
    }
#endif
}

} // namespace

ScopedEnv::ScopedEnv(const char* name, const char* value)
    : m_name(name)
    , m_had(std::getenv(name) != nullptr)
    , m_old(m_had ? std::getenv(name) : "")
{
#if defined(_WIN32)
    if (m_name == "PRINTER") {
        m_oldDevice = windowsDefaultPrinter();
    }
#endif
    setVariable(m_name, value);
}

ScopedEnv::~ScopedEnv()
{
    setVariable(m_name, m_had ? m_old.c_str() : nullptr);
#if defined(_WIN32)
    if (m_name == "PRINTER") {
        setWindowsDefaultPrinter(m_oldDevice.empty() ? nullptr : m_oldDevice.c_str());
    }
#endif
}

} // namespace tagwrighttest
