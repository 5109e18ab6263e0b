// The library's life cycle and its template file: what works when, what the
// file holds, and which template a label is printed with.

#include "TagwrightFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <locale.h>
#include <unistd.h>
#endif

using kvprint::CTagwright;
using namespace tagwrighttest;

namespace {

using Config = CTagwright::_sructPrinterConfig;

std::string programDir()
{
#if defined(_WIN32)
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string text(path, length < MAX_PATH ? length : 0);
    return text.substr(0, text.rfind('\\'));
#else
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    const std::string text(path, length > 0 ? static_cast<std::size_t>(length) : 0);
    return text.substr(0, text.rfind('/'));
#endif
}

// The User, Pwd and Model texts as the printers get them: in the narrow
// encoding of the locale (Linux, UTF-8 in these tests) or of the system's
// ANSI code page (Windows). Empty when the test knows no form for it.
std::string narrow(const std::string& utf8)
{
#if defined(_WIN32)
    if (GetACP() == 65001) {
        return utf8;
    }
    const std::pair<const char*, const char*> gbk[] = {
        { "管理员", "\xB9\xDC\xC0\xED\xD4\xB1" },
        { "密码一二三", "\xC3\xDC\xC2\xEB\xD2\xBB\xB6\xFE\xC8\xFD" },
        { "测温型号 KV-100", "\xB2\xE2\xCE\xC2\xD0\xCD\xBA\xC5 KV-100" },
    };
    const std::pair<const char*, const char*> western[] = {
        // Characters the code page lacks become question marks.
        { "管理员", "???" },
        { "密码一二三", "?????" },
        { "测温型号 KV-100", "???? KV-100" },
    };
    const auto& table = GetACP() == 936 ? gbk : western;
    for (const auto& [text, form] : table) {
        if (utf8 == text && (GetACP() == 936 || GetACP() == 1252)) {
            return form;
        }
    }
    return std::string();
#else
    return utf8;
#endif
}

bool sameTemplate(const Config& a, const Config& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

int keyLines(const std::vector<std::string>& lines)
{
    return static_cast<int>(std::count_if(
        lines.begin(), lines.end(), [](const std::string& line) { return line.find('=') != std::string::npos; }));
}

} // namespace

TEST(TagwrightLifecycle, EveryOperationFailsWhileNotInitialised)
{
    ScratchDir dir;
    ScopedEnv trace("PRINTER_TRACE", dir.file("trace").c_str());
    ScopedEnv printerName("PRINTER", dir.file("out.tspl").c_str());
    const std::string ini = dir.file("printer.ini");

    EXPECT_EQ(CTagwright::Uninit(), -1);
    {
        CTagwright printer(ini.c_str());
        // Construction before Init neither reads nor writes the file.
        EXPECT_FALSE(fileExists(ini));
        Config config = sampleTemplate(0);
        EXPECT_EQ(printer.GetConfig(config), -1);
        EXPECT_EQ(printer.SetConfig(sampleTemplate(0)), -1);
        EXPECT_EQ(printer.Print(sampleParam(1, 0, false)), -1);
        EXPECT_FALSE(fileExists(ini));
    }

    ASSERT_EQ(CTagwright::Init(), 0);
    CTagwright printer(ini.c_str());
    EXPECT_EQ(printer.SetConfig(sampleTemplate(0)), 0);
    ASSERT_EQ(CTagwright::Uninit(), 0);

    // The object outlives the library's state; both back ends answer -1.
    Config config {};
    EXPECT_EQ(printer.GetConfig(config), -1);
    EXPECT_EQ(printer.SetConfig(sampleTemplate(255)), -1);
    EXPECT_EQ(printer.Print(sampleParam(1, 0, false)), -1);
    EXPECT_EQ(CTagwright::Uninit(), -1);
    EXPECT_FALSE(fileExists(dir.file("trace")));
}

TEST_F(TagwrightFixture, InitTwiceFailsAndChangesNothing)
{
    EXPECT_EQ(CTagwright::Init(), -1);
    auto printer = printerWith(sampleTemplate(255));
    EXPECT_EQ(printer->Print(sampleParam(1, 0, false)), 0);
    EXPECT_EQ(CTagwright::Uninit(), 0);
    EXPECT_EQ(CTagwright::Init(), 0);
    EXPECT_EQ(printer->Print(sampleParam(1, 0, false)), 0);
}

TEST_F(TagwrightFixture, FreshObjectOnMissingFileWritesAll47Keys)
{
    CTagwright printer(iniPath().c_str());
    const auto lines = readLines(iniPath());
    EXPECT_EQ(keyLines(lines), 47);
    for (const char* section : { "[Label]", "[QR]", "[BARCODE]", "[DeviceID]", "[User]", "[Pwd]", "[Model]" }) {
        EXPECT_EQ(std::count(lines.begin(), lines.end(), std::string(section)), 1) << section;
    }
    for (const auto& line : lines) {
        if (line.find('=') == std::string::npos) {
            continue;
        }
        const bool isText = line.rfind("value=", 0) == 0;
        EXPECT_EQ(line.substr(line.find('=') + 1), isText ? "" : "0") << line;
    }
    EXPECT_EQ(std::count(lines.begin(), lines.end(), std::string("value=")), 3);

    Config config = sampleTemplate(9);
    EXPECT_EQ(printer.GetConfig(config), 0);
    EXPECT_TRUE(sameTemplate(config, Config {}));
}

TEST_F(TagwrightFixture, ExistingEntriesAreKeptAndMissingOnesAdded)
{
    writeFile(iniPath(), "; shop floor printer\n[Label]\nport=255\nwidth=60\n[Extra]\nnote=keep\n");
    CTagwright printer(iniPath().c_str());
    Config config {};
    ASSERT_EQ(printer.GetConfig(config), 0);
    EXPECT_EQ(config.port, 255);
    EXPECT_EQ(config.width, 60);
    const std::string text = readText(iniPath());
    EXPECT_NE(text.find("; shop floor printer\n"), std::string::npos);
    EXPECT_NE(text.find("[Extra]\nnote=keep\n"), std::string::npos);
    EXPECT_EQ(keyLines(readLines(iniPath())), 48);
}

TEST_F(TagwrightFixture, SetConfigRoundTripsEveryField)
{
    Config written = sampleTemplate(255);
    written.BCtext = 77;
    written.BCVertical = -3;
    written.Model.vertical = 2147483647;
    written.DeviceID.x = -2147483647 - 1;
    auto printer = printerWith(written);

    CTagwright other(iniPath().c_str());
    Config read {};
    ASSERT_EQ(other.GetConfig(read), 0);
    EXPECT_TRUE(sameTemplate(read, written));
}

TEST_F(TagwrightFixture, NegativeValuesAreWrittenAsTwosComplement)
{
    Config config = sampleTemplate(0);
    config.movex = -1;
    config.QRy = -20;
    config.DeviceID.x = -2147483647 - 1;
    auto printer = printerWith(config);
    const std::string text = readText(iniPath());
    EXPECT_NE(text.find("\nmovex=4294967295\n"), std::string::npos);
    EXPECT_NE(text.find("\nQRy=4294967276\n"), std::string::npos);
    EXPECT_NE(text.find("[DeviceID]\nx=2147483648\n"), std::string::npos);

    Config read {};
    ASSERT_EQ(printer->GetConfig(read), 0);
    EXPECT_EQ(read.movex, -1);
    EXPECT_EQ(read.QRy, -20);
    EXPECT_EQ(read.DeviceID.x, -2147483647 - 1);
}

TEST_F(TagwrightFixture, HandEditsReachGetConfigButNotAnEarlierPrint)
{
    auto printer = printerWith(sampleTemplate(255));
    std::string text = readFile(iniPath());
    text.replace(text.find("QRx=20"), 6, "QRx=33");
    text.replace(text.find("port=255"), 8, "port=0");
    writeFile(iniPath(), text);

    clearTrace();
    ASSERT_EQ(printer->Print(sampleParam(5, 0, false)), 0);
    auto lines = trace();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "OpenPort(255)");
    EXPECT_NE(
        std::find(lines.begin(), lines.end(), "PTK_DrawBar2D_QREx(20, 10, 1, 4, 0, 0, 8, \"1\", \"QRRESULT^111^5\")"),
        lines.end());

    Config read {};
    ASSERT_EQ(printer->GetConfig(read), 0);
    EXPECT_EQ(read.QRx, 33);
    EXPECT_EQ(read.port, 0);
    clearTrace();
    ASSERT_EQ(printer->Print(sampleParam(5, 0, false)), 0);
    lines = trace();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "openport(\"" + m_dir.file("out.tspl") + "\")");
    EXPECT_NE(
        std::find(lines.begin(), lines.end(), "sendcommand(\"QRCODE 33,10,L,4,M,90,M2,S1,\\\"QRRESULT^111^5\\\"\")"),
        lines.end());
}

TEST_F(TagwrightFixture, PortSelectsTheBackEnd)
{
    for (const int port : { 255, 0, 1, 254, -1 }) {
        auto printer = printerWith(sampleTemplate(port));
        clearTrace();
        EXPECT_EQ(printer->Print(sampleParam(1, 0, false)), 0) << port;
        const auto lines = trace();
        ASSERT_FALSE(lines.empty()) << port;
        EXPECT_EQ(lines.front().substr(0, 9), port == 255 ? "OpenPort(" : "openport(") << port;
    }
}

TEST_F(TagwrightFixture, EmptyPathMeansPrinterIniBesideTheProgram)
{
    const std::string beside = programDir() + "/printer.ini";
    std::remove(beside.c_str());
    {
        CTagwright printer("");
        EXPECT_EQ(printer.SetConfig(sampleTemplate(255)), 0);
        CTagwright printerNull(nullptr);
        Config read {};
        EXPECT_EQ(printerNull.GetConfig(read), 0);
        EXPECT_EQ(read.port, 255);
    }
    EXPECT_TRUE(fileExists(beside));
    EXPECT_EQ(keyLines(readLines(beside)), 47);
    std::remove(beside.c_str());
}

TEST_F(TagwrightFixture, ChineseTextsRoundTripThroughTheFileOntoTheLabel)
{
    const std::string user = "管理员";
    const std::string pwd = "密码一二三";
    const std::string model = "测温型号 KV-100";
    Config config = sampleTemplate(255);
    setText(config.User.value, user);
    setText(config.Pwd.value, pwd);
    setText(config.Model.value, model);
    auto printer = printerWith(config);

    const std::string text = readText(iniPath());
    EXPECT_NE(text.find("[User]\nx=10\ny=180\ndirect=0\nfont=3\nhorizontal=1\nvertical=1\nvalue=" + user + "\n"),
        std::string::npos);
    EXPECT_NE(text.find("value=" + pwd + "\n"), std::string::npos);
    EXPECT_NE(text.find("value=" + model + "\n"), std::string::npos);

    CTagwright reader(iniPath().c_str());
    Config read {};
    ASSERT_EQ(reader.GetConfig(read), 0);
    EXPECT_STREQ(read.User.value, user.c_str());
    EXPECT_STREQ(read.Pwd.value, pwd.c_str());
    EXPECT_STREQ(read.Model.value, model.c_str());

    clearTrace();
    ASSERT_EQ(reader.Print(sampleParam(8, 0, true)), 0);
    if (narrow(user).empty()) {
        GTEST_SKIP() << "no expected form of the texts in this code page";
    }
    const auto lines = trace();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "PTK_DrawText(10, 180, 0, 3, 1, 1, 'N', \"" + narrow(user) + "\")"),
        lines.end());
    EXPECT_NE(
        std::find(lines.begin(), lines.end(), "PTK_DrawText(10, 240, 1, 3, 1, 1, 'N', \"" + narrow(model) + "\")"),
        lines.end());

    reader.SetConfig([&read] {
        Config tsc = read;
        tsc.port = 0;
        return tsc;
    }());
    clearTrace();
    ASSERT_EQ(reader.Print(sampleParam(8, 0, true)), 0);
    const auto tscLines = trace();
    EXPECT_NE(std::find(tscLines.begin(), tscLines.end(),
                  "windowsfont(10, 210, 30, 0, 0, 0, \"Arial\", \"" + narrow(pwd) + "\")"),
        tscLines.end());
    EXPECT_NE(readFile(m_dir.file("out.tspl")).find("TEXT 10,180,\"0\",0,30,30,\"" + narrow(user) + "\"\r\n"),
        std::string::npos);
}

TEST_F(TagwrightFixture, UnterminatedAndOverlongTextsStayInsideTheirBuffers)
{
    Config config = sampleTemplate(255);
    // 128 bytes without a terminator, ending in the middle of a character.
    std::string filled(126, 'u');
    filled += "\xE4\xB8";
    std::memcpy(config.User.value, filled.data(), 128);
    auto printer = printerWith(config);

    Config read {};
    ASSERT_EQ(printer->GetConfig(read), 0);
    EXPECT_EQ(std::string(read.User.value), std::string(126, 'u'));

    auto param = sampleParam(3, 1, false);
    std::memset(param.device, 'd', sizeof param.device);
    std::memset(param.pk, 'k', sizeof param.pk);
    clearTrace();
    ASSERT_EQ(printer->Print(param), 0);
    for (const auto& line : trace()) {
        if (line.rfind("PTK_DrawBar2D_QREx", 0) == 0) {
            const auto start = line.find("\"http");
            ASSERT_NE(start, std::string::npos);
            const std::string content = line.substr(start + 1, line.size() - start - 3);
            EXPECT_EQ(content.size(), 255U);
            EXPECT_NE(content.find("?device=" + std::string(128, 'd') + "?locale=zh-CN&pk=kkk"), std::string::npos);
        }
    }
}

#if !defined(_WIN32)
// Locales choose the narrow encoding on POSIX systems only.
TEST_F(TagwrightFixture, PlainCLocaleKeepsUtf8Texts)
{
    setEnv("LC_ALL", "C");
    Config config = sampleTemplate(255);
    setText(config.User.value, "管理员");
    auto printer = printerWith(config);
    clearTrace();
    ASSERT_EQ(printer->Print(sampleParam(8, 0, false)), 0);
    const auto lines = trace();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "PTK_DrawText(10, 180, 0, 3, 1, 1, 'N', \"管理员\")"), lines.end());
}

TEST_F(TagwrightFixture, NarrowLocaleGetsItsOwnEncoding)
{
    // Build the locale here when the machine lacks it (a second or so).
    locale_t gbk = newlocale(LC_CTYPE_MASK, "zh_CN.GBK", static_cast<locale_t>(nullptr));
    if (!gbk) {
        const std::string folder = m_dir.file("locales");
        const std::string command
            = "mkdir -p " + folder + " && localedef -c -i zh_CN -f GBK " + folder + "/zh_CN.GBK >/dev/null 2>&1";
        if (std::system(command.c_str()) == 0) {
            setEnv("LOCPATH", folder.c_str());
            gbk = newlocale(LC_CTYPE_MASK, "zh_CN.GBK", static_cast<locale_t>(nullptr));
        }
    }
    if (!gbk) {
        GTEST_SKIP() << "no zh_CN.GBK locale, and localedef could not build one";
    }
    freelocale(gbk);
    setEnv("LC_ALL", "zh_CN.GBK");
    Config config = sampleTemplate(255);
    setText(config.User.value, "用户\xF0\x9F\x98\x80x"); // the emoji has no GBK form
    auto printer = printerWith(config);
    clearTrace();
    ASSERT_EQ(printer->Print(sampleParam(8, 0, false)), 0);
    const auto lines = trace();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "PTK_DrawText(10, 180, 0, 3, 1, 1, 'N', \"\xD3\xC3\xBB\xA7?x\")"),
        lines.end());
}
#endif
