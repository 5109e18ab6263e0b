#include "SystemPaths.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#if defined(_WIN32)
#include <windows.h>
#include <winspool.h>
#else
#include <climits>
#include <unistd.h>
#endif

namespace kvprint {

#if defined(_WIN32)

std::string programDirectory()
{
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string text(path, length < MAX_PATH ? length : 0);
    const auto slash = text.find_last_of('\\');
    return slash == std::string::npos ? std::string() : text.substr(0, slash);
}

std::string defaultPrinterName()
{
    char name[256] = {};
    DWORD size = sizeof name;
    if (!GetDefaultPrinterA(name, &size)) {
        return std::string();
    }
    return std::string(name);
}

#else

std::string programDirectory()
{
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        return std::string();
    }
    const std::string text(path, static_cast<std::size_t>(length));
    const auto slash = text.find_last_of('/');
    return slash == std::string::npos ? std::string() : text.substr(0, slash);
}

namespace {

// "Default name[/instance] options…" in an lpoptions file.
std::string lpoptionsDefault(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    for (int lines = 0; lines < 10000 && std::getline(in, line); ++lines) {
        std::istringstream words(line);
        std::string keyword;
        std::string destination;
        if (words >> keyword >> destination && keyword == "Default") {
            return destination.substr(0, destination.find('/'));
        }
    }
    return std::string();
}

// "<DefaultPrinter name>" in printers.conf, which is often readable by
// root only; then there is simply no answer here.
std::string printersConfDefault(const std::string& path)
{
    std::ifstream in(path);
    const std::string tag = "<DefaultPrinter ";
    std::string line;
    for (int lines = 0; lines < 100000 && std::getline(in, line); ++lines) {
        if (line.compare(0, tag.size(), tag) == 0) {
            const auto end = line.find('>', tag.size());
            if (end != std::string::npos) {
                return line.substr(tag.size(), end - tag.size());
            }
        }
    }
    return std::string();
}

} // namespace

std::string defaultPrinterName()
{
    const char* printer = std::getenv("PRINTER");
    if (printer && *printer) {
        return printer;
    }
    std::string name;
    const char* home = std::getenv("HOME");
    if (home && *home) {
        name = lpoptionsDefault(std::string(home) + "/.cups/lpoptions");
    }
    if (name.empty()) {
        name = lpoptionsDefault("/etc/cups/lpoptions");
    }
    if (name.empty()) {
        name = printersConfDefault("/etc/cups/printers.conf");
    }
    return name;
}

#endif

} // namespace kvprint
