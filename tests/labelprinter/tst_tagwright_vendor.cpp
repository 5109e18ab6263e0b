// Labels on the vendor SDK printer: the calls made, their order and
// arguments, the result code of each failing step, and the port closed
// whatever happens once it is open.

#include "TagwrightFixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using kvprint::CTagwright;
using namespace tagwrighttest;

namespace {

const std::string updateAddress
    = "http://update.ardenix.lan/updateApp/LumiscopeUpdate.php?device=A1?locale=zh-CN&pk=K9";

std::vector<std::string> expectedCalls(const std::string& qrContent, const std::string* deviceLine, bool model)
{
    std::vector<std::string> calls = {
        "OpenPort(255)",
        "PTK_ClearBuffer()",
        "PTK_SetLabelHeight(30, 2, 0, 0)",
        "PTK_SetLabelWidth(40)",
        "PTK_SetDarkness(12)",
        "PTK_SetPrintSpeed(3)",
        "PTK_SetDirection('B')",
        "PTK_SetCoordinateOrigin(5, 6)",
        "PTK_DrawBar2D_QREx(20, 10, 1, 4, 0, 0, 8, \"1\", \"" + qrContent + "\")",
    };
    if (deviceLine) {
        calls.push_back("PTK_DrawText(10, 150, 0, 2, 2, 2, 'N', \"" + *deviceLine + "\")");
    }
    calls.push_back("PTK_DrawText(10, 180, 0, 3, 1, 1, 'N', \"admin\")");
    calls.push_back("PTK_DrawText(10, 210, 0, 3, 1, 1, 'N', \"secret\")");
    if (model) {
        calls.push_back("PTK_DrawText(10, 240, 1, 3, 1, 1, 'N', \"KV-100\")");
    }
    calls.push_back("PTK_PrintLabel(2, 3)");
    calls.push_back("ClosePort()");
    return calls;
}

#if !defined(_WIN32)
// The text of the QR code that zbarimg finds in a picture; empty when it
// finds none or cannot be run.
std::string qrCodeIn(const std::string& png)
{
    FILE* pipe = ::popen(("timeout 60 zbarimg --quiet --raw '" + png + "' 2>/dev/null").c_str(), "r");
    if (!pipe) {
        return std::string();
    }
    std::string text;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe)) {
        text += buffer;
    }
    ::pclose(pipe);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

bool zbarimgAvailable()
{
    return std::system("command -v zbarimg >/dev/null 2>&1") == 0;
}
#endif

} // namespace

TEST_F(TagwrightFixture, VendorDeviceNumberLabelWithModel)
{
    auto printer = printerWith(sampleTemplate(255));
    clearTrace();
    ASSERT_EQ(printer->Print(sampleParam(4000000000U, 0, true)), 0);
    const std::string number = "4000000000";
    EXPECT_EQ(trace(), expectedCalls("QRRESULT^111^" + number, &number, true));
}

TEST_F(TagwrightFixture, VendorUpdateAddressLabelWithoutModel)
{
    auto printer = printerWith(sampleTemplate(255));
    clearTrace();
    ASSERT_EQ(printer->Print(sampleParam(77, 1, false)), 0);
    EXPECT_EQ(trace(), expectedCalls(updateAddress, nullptr, false));
}

TEST_F(TagwrightFixture, VendorQrModesOtherThanOneCarryTheDeviceNumber)
{
    auto printer = printerWith(sampleTemplate(255));
    for (const int mode : { 0, 2, -1 }) {
        clearTrace();
        ASSERT_EQ(printer->Print(sampleParam(0, mode, false)), 0);
        const std::string number = "0";
        EXPECT_EQ(trace(), expectedCalls("QRRESULT^111^0", &number, false)) << mode;
    }
}

TEST_F(TagwrightFixture, VendorDirectionOtherThanOneIsT)
{
    for (const int direct : { 0, 2 }) {
        auto config = sampleTemplate(255);
        config.direct = direct;
        auto printer = printerWith(config);
        clearTrace();
        ASSERT_EQ(printer->Print(sampleParam(1, 0, false)), 0);
        const auto lines = trace();
        ASSERT_GT(lines.size(), 6U);
        EXPECT_EQ(lines[6], "PTK_SetDirection('T')") << direct;
    }
}

TEST_F(TagwrightFixture, VendorFailureAtEachStepGivesItsCodeAndClosesThePort)
{
    struct Case {
        const char* function;
        bool printModel;
        int code;
        std::size_t callsBeforeClose; // calls traced up to and including the failing one
    };
    const Case cases[] = {
        { "PTK_ClearBuffer", false, -12, 2 },
        { "PTK_SetLabelHeight", false, -1, 3 },
        { "PTK_SetLabelWidth", false, -12, 4 },
        { "PTK_SetDarkness", false, -3, 5 },
        { "PTK_SetPrintSpeed", false, -4, 6 },
        { "PTK_SetDirection", false, -11, 7 },
        { "PTK_SetCoordinateOrigin", false, -11, 8 },
        { "PTK_DrawBar2D_QREx", false, -5, 9 },
        { "PTK_PrintLabel", true, -10, 14 },
    };
    auto printer = printerWith(sampleTemplate(255));
    for (const auto& c : cases) {
        setEnv("PRINTER_FAIL", c.function);
        clearTrace();
        EXPECT_EQ(printer->Print(sampleParam(1, 0, c.printModel)), c.code) << c.function;
        const auto lines = trace();
        ASSERT_EQ(lines.size(), c.callsBeforeClose + 1) << c.function;
        EXPECT_EQ(lines[c.callsBeforeClose - 1].rfind(c.function, 0), 0U) << c.function;
        EXPECT_EQ(lines.back(), "ClosePort()") << c.function;
    }
}

TEST_F(TagwrightFixture, VendorTextFailuresAreToldApart)
{
    // Every text goes through the same SDK call; a template position the
    // stand-in refuses makes exactly that line fail.
    for (const char* item : { "DeviceID", "User", "Pwd", "Model" }) {
        auto config = sampleTemplate(255);
        const std::string name = item;
        int expected = 0;
        if (name == "DeviceID") {
            config.DeviceID.x = -5;
            expected = -6;
        } else if (name == "User") {
            config.User.x = -5;
            expected = -7;
        } else if (name == "Pwd") {
            config.Pwd.x = -5;
            expected = -8;
        } else {
            config.Model.x = -5;
            expected = -9;
        }
        auto printer = printerWith(config);
        clearTrace();
        EXPECT_EQ(printer->Print(sampleParam(1, 0, true)), expected) << item;
        const auto lines = trace();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), "ClosePort()") << item;
        EXPECT_EQ(lines[lines.size() - 2].find("PTK_DrawText(-5,"), 0U) << item;
    }
}

TEST_F(TagwrightFixture, VendorPortThatWillNotOpenGivesMinusTwoAndNothingElse)
{
    auto printer = printerWith(sampleTemplate(255));
    setEnv("PRINTER_FAIL", "OpenPort");
    clearTrace();
    EXPECT_EQ(printer->Print(sampleParam(1, 0, false)), -2);
    EXPECT_EQ(trace(), std::vector<std::string> { "OpenPort(255)" });
}

TEST_F(TagwrightFixture, VendorPreviewShowsTheLabel)
{
    setEnv("PRINTER_PREVIEW_DIR", m_dir.path().c_str());
    auto printer = printerWith(sampleTemplate(255));
    ASSERT_EQ(printer->Print(sampleParam(1, 0, false)), 0);
    EXPECT_EQ(filesEndingWith(m_dir.path(), ".png").size(), 1U);
}

TEST_F(TagwrightFixture, VendorPreviewTakesWildTextFactors)
{
    setEnv("PRINTER_PREVIEW_DIR", m_dir.path().c_str());
    CTagwright::_sructPrinterConfig config = sampleTemplate(255);
    config.User.horizontal = 2147483647;
    config.User.vertical = 2147483647;
    config.Pwd.vertical = -2147483647 - 1;
    auto printer = printerWith(config);
    ASSERT_EQ(printer->Print(sampleParam(1, 0, false)), 0);
    EXPECT_EQ(filesEndingWith(m_dir.path(), ".png").size(), 1U);
}

TEST_F(TagwrightFixture, VendorNegativeOriginFromTheFileShiftsTheLabelBack)
{
    // Templates keep negative offsets in their unsigned form; the label is
    // moved back onto the stock rather than refused.
    setEnv("PRINTER_PREVIEW_DIR", m_dir.path().c_str());
    auto printer = printerWith(sampleTemplate(255));
    std::string text = readText(iniPath());
    text.replace(text.find("movex=5"), 7, "movex=3");
    text.replace(text.find("movey=6"), 7, "movey=4294967294");
    writeFile(iniPath(), text);
    CTagwright::_sructPrinterConfig config {};
    ASSERT_EQ(printer->GetConfig(config), 0);
    ASSERT_EQ(config.movey, -2);

    clearTrace();
    ASSERT_EQ(printer->Print(sampleParam(4000000000U, 0, false)), 0);
    const auto lines = trace();
    ASSERT_GT(lines.size(), 7U);
    EXPECT_EQ(lines[7], "PTK_SetCoordinateOrigin(3, -2)");
    const auto pictures = filesEndingWith(m_dir.path(), ".png");
    ASSERT_EQ(pictures.size(), 1U);
#if !defined(_WIN32)
    if (!zbarimgAvailable()) {
        GTEST_SKIP() << "zbarimg (zbar-tools) is not installed; the QR code was not read back";
    }
    EXPECT_EQ(qrCodeIn(pictures.front()), "QRRESULT^111^4000000000");
#endif
}

TEST_F(TagwrightFixture, VendorOriginPastTheLabelCutsWhatFallsOutside)
{
    // A QR code moved half over the top edge loses that half: zbarimg can
    // no longer read it, while the same label without the move reads.
    setEnv("PRINTER_PREVIEW_DIR", m_dir.path().c_str());
    auto config = sampleTemplate(255);
    config.QRy = 0;
    config.QRo = 0;
    config.movex = 0;
    config.movey = -60;
    auto printer = printerWith(config);
    ASSERT_EQ(printer->Print(sampleParam(7, 0, false)), 0);
    const auto cut = filesEndingWith(m_dir.path(), ".png");
    ASSERT_EQ(cut.size(), 1U);
    // Far outside any label, an origin is still refused.
    config.movey = -100000;
    printer->SetConfig(config);
    EXPECT_EQ(printer->Print(sampleParam(7, 0, false)), -11);
#if !defined(_WIN32)
    if (!zbarimgAvailable()) {
        GTEST_SKIP() << "zbarimg (zbar-tools) is not installed; the QR code was not read back";
    }
    EXPECT_EQ(qrCodeIn(cut.front()), "");
    std::remove(cut.front().c_str());
    config.movey = 0;
    printer->SetConfig(config);
    ASSERT_EQ(printer->Print(sampleParam(7, 0, false)), 0);
    const auto whole = filesEndingWith(m_dir.path(), ".png");
    ASSERT_EQ(whole.size(), 1U);
    EXPECT_EQ(qrCodeIn(whole.front()), "QRRESULT^111^7");
#endif
}
