// The label template's 47 INI entries: section, key and where each one
// lives in the template record. The order is the record's field order.
#pragma once

#include "CTagwright.h"

#include <cstddef>
#include <functional>
#include <string>

namespace kvprint {

using LabelTemplate = CTagwright::_sructPrinterConfig;

struct TemplateField {
    const char* section;
    const char* key;
    int* integer; // set for integer entries
    char* text; // set for text entries
    std::size_t textSize;
};

constexpr int templateFieldCount = 47;

void forEachTemplateField(LabelTemplate& config, const std::function<void(const TemplateField&)>& visit);

// Reads and writes all entries of a template file.
void readTemplate(const std::string& iniPath, LabelTemplate& config);
void writeTemplate(const std::string& iniPath, const LabelTemplate& config);

} // namespace kvprint
