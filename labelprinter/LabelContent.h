// The texts one label carries, worked out from the template and the print
// parameters before any printer is touched: the QR content, the device
// number, and the User, Pwd and Model texts in the locale's narrow encoding.
#pragma once

#include "CTagwright.h"

#include <cstddef>
#include <string>

namespace kvprint {

// Every text goes into a printer buffer of 256 characters.
constexpr std::size_t labelTextLimit = 255;

struct LabelContent {
    std::string qrContent;
    bool showDeviceNumber = true;
    std::string deviceNumber;
    std::string user;
    std::string pwd;
    bool showModel = false;
    std::string model;
};

LabelContent composeLabel(const CTagwright::_sructPrinterConfig& config, const CTagwright::_structPrintParam& param);

// The texts that end up inside printer commands hold no control characters.
bool holdsControlCharacters(const LabelContent& content);

// A TSPL string literal: the text in double quotes, each double quote in it
// written as the \["] escape so it cannot end the string early.
std::string tsplQuoted(const std::string& text);

} // namespace kvprint
