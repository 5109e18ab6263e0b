#include "CliOptions.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace tagwrightcli {

namespace {

// The print parameter's text fields hold 127 bytes and the terminator.
constexpr std::size_t maxParamText = 127 + 1;

bool parseLong(const std::string& text, long long low, long long high, long long& value)
{
    if (text.empty() || text.size() > 20) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed < low || parsed > high) {
        return false;
    }
    value = parsed;
    return true;
}

bool parseInt(const std::string& text, int& value)
{
    long long parsed = 0;
    if (!parseLong(text, INT_MIN, INT_MAX, parsed)) {
        return false;
    }
    value = static_cast<int>(parsed);
    return true;
}

bool parseAssignment(const std::string& text, Assignment& assignment)
{
    const auto dot = text.find('.');
    const auto equals = text.find('=');
    if (dot == std::string::npos || equals == std::string::npos || dot == 0 || equals < dot + 2) {
        return false;
    }
    assignment.section = text.substr(0, dot);
    assignment.key = text.substr(dot + 1, equals - dot - 1);
    assignment.value = text.substr(equals + 1);
    return true;
}

} // namespace

bool parseTemplateInteger(const std::string& text, int& value)
{
    long long parsed = 0;
    if (!parseLong(text, INT_MIN, UINT_MAX, parsed)) {
        return false;
    }
    value = static_cast<int>(static_cast<unsigned int>(parsed));
    return true;
}

bool parseOptions(int argc, char** argv, CliOptions& options, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        const std::string value = hasValue ? argv[i + 1] : std::string();
        bool valueUsed = true;
        bool good = hasValue;
        long long number = 0;
        if (option == "--show") {
            options.show = true;
            valueUsed = false;
            good = true;
        } else if (option == "--print") {
            options.print = true;
            valueUsed = false;
            good = true;
        } else if (option == "--model") {
            options.printModel = true;
            valueUsed = false;
            good = true;
        } else if (option == "--ini") {
            options.iniPath = value;
        } else if (option == "--set") {
            Assignment assignment;
            good = good && parseAssignment(value, assignment);
            options.assignments.push_back(assignment);
        } else if (option == "--device-number") {
            good = good && parseLong(value, 0, UINT_MAX, number);
            options.deviceNumber = static_cast<unsigned int>(number);
        } else if (option == "--qr-mode") {
            good = good && parseInt(value, options.qrMode);
        } else if (option == "--device") {
            options.device = value;
            good = good && value.size() < maxParamText;
        } else if (option == "--pk") {
            options.pk = value;
            good = good && value.size() < maxParamText;
        } else if (option == "--count") {
            good = good && parseInt(value, options.count);
        } else if (option == "--copies") {
            good = good && parseInt(value, options.copies);
        } else {
            error = "unknown option " + option;
            return false;
        }
        if (!good) {
            error = "bad or missing value for " + option;
            return false;
        }
        if (valueUsed) {
            ++i;
        }
    }
    if (!options.show && !options.print && options.assignments.empty()) {
        error = "nothing to do: give --show, --set or --print";
        return false;
    }
    return true;
}

const char* usageText()
{
    return "usage: tagwright-cli [--ini PATH] [--show] [--set SECTION.KEY=VALUE]...\n"
           "                     [--print [--device-number N] [--qr-mode M] [--device TEXT] [--pk TEXT]\n"
           "                              [--model] [--count N] [--copies N]]\n"
           "Prints one JSON line per library call; exits 0 when every requested operation returned 0.\n";
}

} // namespace tagwrightcli
