#include "LabelContent.h"

#include "portable/NarrowText.h"
#include "portable/Utf8Text.h"

#ifndef TAGWRIGHT_UPDATE_SERVER
#define TAGWRIGHT_UPDATE_SERVER "http://update.ardenix.lan"
#endif

namespace kvprint {

namespace {

std::string cutToLimit(const std::string& text)
{
    return text.substr(0, utf8PrefixLength(text.data(), text.size(), labelTextLimit));
}

std::string qrContentFor(const CTagwright::_structPrintParam& param)
{
    if (param.qrMode == 1) {
        return cutToLimit(std::string(TAGWRIGHT_UPDATE_SERVER)
            + "/updateApp/LumiscopeUpdate.php?device=" + textInBuffer(param.device, sizeof param.device)
            + "?locale=zh-CN&pk=" + textInBuffer(param.pk, sizeof param.pk));
    }
    return "QRRESULT^111^" + std::to_string(param.deviceNumber);
}

std::string printedText(const CTagwright::_structValueItem& item)
{
    return toNarrowText(textInBuffer(item.value, sizeof item.value), labelTextLimit);
}

bool controlIn(const std::string& text)
{
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20U || byte == 0x7FU) {
            return true;
        }
    }
    return false;
}

} // namespace

LabelContent composeLabel(const CTagwright::_sructPrinterConfig& config, const CTagwright::_structPrintParam& param)
{
    LabelContent content;
    content.qrContent = qrContentFor(param);
    content.showDeviceNumber = param.qrMode != 1;
    content.deviceNumber = std::to_string(param.deviceNumber);
    content.user = printedText(config.User);
    content.pwd = printedText(config.Pwd);
    content.showModel = param.printModel;
    if (content.showModel) {
        content.model = printedText(config.Model);
    }
    return content;
}

bool holdsControlCharacters(const LabelContent& content)
{
    return controlIn(content.qrContent) || controlIn(content.user) || controlIn(content.pwd)
        || (content.showModel && controlIn(content.model));
}

std::string tsplQuoted(const std::string& text)
{
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"') {
            quoted += "\\[\"]";
        } else {
            quoted += c;
        }
    }
    quoted += '"';
    return quoted;
}

} // namespace kvprint
