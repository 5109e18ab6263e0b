#include "TemplateFields.h"

#include "portable/ProfileIni.h"
#include "portable/Utf8Text.h"

#include <cstring>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace kvprint {

namespace {

template <typename Item>
void visitItemNumbers(const char* section, Item& item, const std::function<void(const TemplateField&)>& visit)
{
    visit({ section, "x", &item.x, nullptr, 0 });
    visit({ section, "y", &item.y, nullptr, 0 });
    visit({ section, "direct", &item.direct, nullptr, 0 });
    visit({ section, "font", &item.font, nullptr, 0 });
    visit({ section, "horizontal", &item.horizontal, nullptr, 0 });
    visit({ section, "vertical", &item.vertical, nullptr, 0 });
}

void visitValueItem(
    const char* section, CTagwright::_structValueItem& item, const std::function<void(const TemplateField&)>& visit)
{
    visitItemNumbers(section, item, visit);
    visit({ section, "value", nullptr, item.value, sizeof item.value });
}

} // namespace

void forEachTemplateField(LabelTemplate& config, const std::function<void(const TemplateField&)>& visit)
{
    visit({ "Label", "port", &config.port, nullptr, 0 });
    visit({ "Label", "height", &config.height, nullptr, 0 });
    visit({ "Label", "width", &config.width, nullptr, 0 });
    visit({ "Label", "gaph", &config.gaph, nullptr, 0 });
    visit({ "Label", "id", &config.id, nullptr, 0 });
    visit({ "Label", "px", &config.px, nullptr, 0 });
    visit({ "Label", "direct", &config.direct, nullptr, 0 });
    visit({ "Label", "movex", &config.movex, nullptr, 0 });
    visit({ "Label", "movey", &config.movey, nullptr, 0 });
    visit({ "QR", "QRx", &config.QRx, nullptr, 0 });
    visit({ "QR", "QRy", &config.QRy, nullptr, 0 });
    visit({ "QR", "QRo", &config.QRo, nullptr, 0 });
    visit({ "QR", "QRr", &config.QRr, nullptr, 0 });
    visit({ "BARCODE", "BCx", &config.BCx, nullptr, 0 });
    visit({ "BARCODE", "BCy", &config.BCy, nullptr, 0 });
    visit({ "BARCODE", "BCo", &config.BCo, nullptr, 0 });
    visit({ "BARCODE", "BCNarrowWidth", &config.BCNarrowWidth, nullptr, 0 });
    visit({ "BARCODE", "BCHorizontal", &config.BCHorizontal, nullptr, 0 });
    visit({ "BARCODE", "BCVertical", &config.BCVertical, nullptr, 0 });
    visit({ "BARCODE", "BCtext", &config.BCtext, nullptr, 0 });
    visitItemNumbers("DeviceID", config.DeviceID, visit);
    visitValueItem("User", config.User, visit);
    visitValueItem("Pwd", config.Pwd, visit);
    visitValueItem("Model", config.Model, visit);
}

#if defined(_WIN32)

// The system's private-profile functions. Integers are read as text so that
// the unsigned form written for negative values ("4294967294") reads back as
// the same int, as ProfileIni does.
void readTemplate(const std::string& iniPath, LabelTemplate& config)
{
    forEachTemplateField(config, [&iniPath](const TemplateField& field) {
        char buffer[256] = {};
        const std::size_t capacity = field.integer ? sizeof buffer : field.textSize;
        const DWORD length = GetPrivateProfileStringA(
            field.section, field.key, "", buffer, static_cast<DWORD>(capacity), iniPath.c_str());
        const std::string value(buffer, length < capacity ? length : 0);
        if (field.integer) {
            *field.integer = static_cast<int>(ProfileIni::parseInt(value));
        } else {
            std::memset(field.text, 0, field.textSize);
            std::memcpy(field.text, value.data(), utf8PrefixLength(value.data(), value.size(), field.textSize - 1));
        }
    });
}

void writeTemplate(const std::string& iniPath, const LabelTemplate& config)
{
    LabelTemplate copy = config;
    forEachTemplateField(copy, [&iniPath](const TemplateField& field) {
        std::string value;
        if (field.integer) {
            value = std::to_string(static_cast<unsigned int>(*field.integer));
        } else {
            const std::string text = textInBuffer(field.text, field.textSize);
            value = text.substr(0, utf8PrefixLength(text.data(), text.size(), field.textSize - 1));
            // A line break would start entries of its own.
            value = value.substr(0, value.find_first_of("\r\n"));
        }
        WritePrivateProfileStringA(field.section, field.key, value.c_str(), iniPath.c_str());
    });
}

#else

void readTemplate(const std::string& iniPath, LabelTemplate& config)
{
    ProfileIni ini(iniPath);
    ini.load();
    forEachTemplateField(config, [&ini](const TemplateField& field) {
        if (field.integer) {
            *field.integer = static_cast<int>(ini.readInt(field.section, field.key, 0));
        } else {
            const std::string value = ini.readString(field.section, field.key, std::string(), field.textSize);
            std::memset(field.text, 0, field.textSize);
            std::memcpy(field.text, value.data(), value.size());
        }
    });
}

void writeTemplate(const std::string& iniPath, const LabelTemplate& config)
{
    ProfileIni ini(iniPath);
    ini.load();
    LabelTemplate copy = config;
    forEachTemplateField(copy, [&ini](const TemplateField& field) {
        if (field.integer) {
            // Unsigned text: a negative value goes out as its 32-bit two's
            // complement, which reads back as the same int.
            ini.writeString(field.section, field.key, std::to_string(static_cast<unsigned int>(*field.integer)));
        } else {
            const std::string value = textInBuffer(field.text, field.textSize);
            ini.writeString(field.section, field.key,
                value.substr(0, utf8PrefixLength(value.data(), value.size(), field.textSize - 1)));
        }
    });
    ini.save();
}

#endif

} // namespace kvprint
