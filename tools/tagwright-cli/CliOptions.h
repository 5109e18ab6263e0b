// Command line of tagwright-cli, parsed and checked before the library is
// touched.
#pragma once

#include <string>
#include <vector>

namespace tagwrightcli {

struct Assignment {
    std::string section;
    std::string key;
    std::string value;
};

struct CliOptions {
    std::string iniPath;
    bool show = false;
    std::vector<Assignment> assignments;
    bool print = false;
    unsigned int deviceNumber = 0;
    int qrMode = 0;
    std::string device;
    std::string pk;
    bool printModel = false;
    int count = 1;
    int copies = 1;
};

// False with a message for anything it does not understand.
bool parseOptions(int argc, char** argv, CliOptions& options, std::string& error);

// Decimal text of a 32-bit value, signed or unsigned ("-1" and "4294967295"
// alike), as a template integer.
bool parseTemplateInteger(const std::string& text, int& value);

const char* usageText();

} // namespace tagwrightcli
