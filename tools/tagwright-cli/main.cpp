// tagwright-cli: the label template and label printing of Tagwright from
// the command line, one JSON line per library call on standard output.

#include "CliOptions.h"

#include <CTagwright.h>
#include <TemplateFields.h>
#include <portable/Utf8Text.h>

#include <json/json.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

namespace {

using kvprint::CTagwright;
using tagwrightcli::CliOptions;

bool sameName(const std::string& a, const char* b)
{
    return a.size() == std::strlen(b) && strncasecmp(a.c_str(), b, a.size()) == 0;
}

void emit(const Json::Value& line)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    std::cout << Json::writeString(builder, line) << std::endl;
}

Json::Value result(const char* operation, int code)
{
    Json::Value line;
    line["op"] = operation;
    line["result"] = code;
    return line;
}

Json::Value templateJson(CTagwright::_sructPrinterConfig& config)
{
    Json::Value sections(Json::objectValue);
    kvprint::forEachTemplateField(config, [&sections](const kvprint::TemplateField& field) {
        if (field.integer) {
            sections[field.section][field.key] = *field.integer;
        } else {
            // A hand-edited file may hold any bytes; the line stays UTF-8.
            sections[field.section][field.key]
                = kvprint::validUtf8(std::string(field.text, strnlen(field.text, field.textSize)));
        }
    });
    return sections;
}

// Puts one --set into the template; false for an unknown key or bad value.
bool assign(CTagwright::_sructPrinterConfig& config, const tagwrightcli::Assignment& assignment, std::string& error)
{
    bool found = false;
    bool good = false;
    kvprint::forEachTemplateField(config, [&](const kvprint::TemplateField& field) {
        if (found || !sameName(assignment.section, field.section) || !sameName(assignment.key, field.key)) {
            return;
        }
        found = true;
        if (field.integer) {
            good = tagwrightcli::parseTemplateInteger(assignment.value, *field.integer);
        } else {
            // The INI file would keep only the first line.
            good = assignment.value.size() < field.textSize
                && assignment.value.find_first_of("\r\n") == std::string::npos;
            if (good) {
                std::memset(field.text, 0, field.textSize);
                std::memcpy(field.text, assignment.value.data(), assignment.value.size());
            }
        }
    });
    if (!found) {
        error = "unknown template entry " + assignment.section + "." + assignment.key;
    } else if (!good) {
        error = "bad value for " + assignment.section + "." + assignment.key;
    }
    return found && good;
}

// The options were checked to fit.
void copyText(char (&target)[128], const std::string& text)
{
    std::memset(target, 0, sizeof target);
    std::memcpy(target, text.data(), text.size());
}

int run(const CliOptions& options)
{
    bool allGood = true;
    const int initResult = CTagwright::Init();
    emit(result("Init", initResult));

    {
        CTagwright printer(options.iniPath.c_str());
        CTagwright::_sructPrinterConfig config {};

        if (!options.assignments.empty()) {
            const int got = printer.GetConfig(config);
            emit(result("GetConfig", got));
            std::string error;
            for (const auto& assignment : options.assignments) {
                if (!assign(config, assignment, error)) {
                    Json::Value line = result("set", -1);
                    line["error"] = error;
                    emit(line);
                    allGood = false;
                }
            }
            if (allGood) {
                const int set = printer.SetConfig(config);
                emit(result("SetConfig", set));
                allGood = allGood && got == 0 && set == 0;
            }
        }
        if (options.show) {
            const int got = printer.GetConfig(config);
            Json::Value line = result("GetConfig", got);
            if (got == 0) {
                line["config"] = templateJson(config);
            }
            emit(line);
            allGood = allGood && got == 0;
        }
        if (options.print) {
            CTagwright::_structPrintParam param {};
            param.deviceNumber = options.deviceNumber;
            param.printModel = options.printModel;
            param.count = options.count;
            param.copies = options.copies;
            copyText(param.device, options.device);
            copyText(param.pk, options.pk);
            param.qrMode = options.qrMode;
            const int printed = printer.Print(param);
            emit(result("Print", printed));
            allGood = allGood && printed == 0;
        }
    }

    emit(result("Uninit", CTagwright::Uninit()));
    return allGood ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "--version") == 0)) {
        std::fputs(std::strcmp(argv[1], "--help") == 0 ? tagwrightcli::usageText()
                                                       : "tagwright-cli " ARDENIX_VERSION_TEXT "\n",
            stdout);
        return 0;
    }
    CliOptions options;
    std::string error;
    if (!tagwrightcli::parseOptions(argc, argv, options, error)) {
        std::cerr << "tagwright-cli: " << error << "\n" << tagwrightcli::usageText();
        return 1;
    }
    return run(options);
}
