// tagwright-cli end to end: a template shown and changed, a label printed
// through each stand-in, the vendor preview's QR code read back by a
// decoder, and a missing vendor SDK reported by Init.

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <sys/wait.h>

using namespace tagwrighttest;

namespace {

std::string buildDir()
{
    const char* dir = std::getenv("ARDENIX_BUILD_DIR");
    return dir ? dir : "..";
}

std::string sourceDir()
{
    const char* dir = std::getenv("ARDENIX_SOURCE_DIR");
    return dir ? dir : "../..";
}

std::string quoted(const std::string& text)
{
    std::string result = "'";
    for (const char c : text) {
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return result + "'";
}

struct Outcome {
    int exitCode = -1;
    std::vector<std::string> lines;
};

// Runs a shell command line with a bounded time, collecting its output.
Outcome run(const std::string& commandLine)
{
    Outcome result;
    FILE* pipe = ::popen(("timeout 60 " + commandLine + " 2>/dev/null").c_str(), "r");
    if (!pipe) {
        return result;
    }
    char buffer[8192];
    while (std::fgets(buffer, sizeof buffer, pipe)) {
        std::string line = buffer;
        if (!line.empty() && line.back() == '\n') {
            line.pop_back();
        }
        result.lines.push_back(line);
    }
    const int status = ::pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

bool hasLine(const Outcome& r, const std::string& line)
{
    return std::find(r.lines.begin(), r.lines.end(), line) != r.lines.end();
}

class CliTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        writeFile(m_dir.file("printer.ini"), readFile(sourceDir() + "/tests/data/labelprinter/label-template.ini"));
        m_env = "PRINTER_TRACE=" + quoted(m_dir.file("trace")) + " PRINTER=" + quoted(m_dir.file("out.tspl"))
            + " PRINTER_PREVIEW_DIR=" + quoted(m_dir.path()) + " LC_ALL=C.UTF-8 ";
    }

    Outcome cli(const std::string& arguments, const std::string& extraEnv = std::string())
    {
        return run("env -u PRINTER_FAIL " + m_env + extraEnv + " " + quoted(buildDir() + "/bin/tagwright-cli")
            + " --ini " + quoted(m_dir.file("printer.ini")) + " " + arguments);
    }

    ScratchDir m_dir;
    std::string m_env;
};

} // namespace

TEST_F(CliTest, ShowsAndChangesTheTemplate)
{
    Outcome shown = cli("--show");
    ASSERT_EQ(shown.exitCode, 0);
    ASSERT_EQ(shown.lines.size(), 3U);
    EXPECT_EQ(shown.lines[0], "{\"op\":\"Init\",\"result\":0}");
    EXPECT_NE(shown.lines[1].find("\"Label\":{\"direct\":1,\"gaph\":2,\"height\":240,\"id\":10"), std::string::npos);
    EXPECT_NE(shown.lines[1].find("\"value\":\"测温仪 T1\""), std::string::npos);
    EXPECT_EQ(shown.lines[2], "{\"op\":\"Uninit\",\"result\":0}");

    Outcome changed = cli("--set Label.port=0 --set qr.qrx=-2 --set User.value=操作员");
    EXPECT_EQ(changed.exitCode, 0);
    EXPECT_TRUE(hasLine(changed, "{\"op\":\"SetConfig\",\"result\":0}"));
    const std::string text = readFile(m_dir.file("printer.ini"));
    EXPECT_NE(text.find("[Label]\nport=0\n"), std::string::npos);
    EXPECT_NE(text.find("QRx=4294967294\n"), std::string::npos);
    EXPECT_NE(text.find("value=操作员\n"), std::string::npos);
    EXPECT_NE(text.find("; Label template"), std::string::npos);

    EXPECT_EQ(cli("--set Label.nosuch=1").exitCode, 1);
    EXPECT_EQ(cli("--set Label.port=abc").exitCode, 1);
    EXPECT_EQ(cli("--set Label.port=4294967296").exitCode, 1);
    EXPECT_EQ(cli("--set " + quoted("Pwd.value=first\nsecond")).exitCode, 1);
    EXPECT_EQ(cli("--print --count").exitCode, 1);
    EXPECT_EQ(cli("").exitCode, 1);
    EXPECT_NE(readFile(m_dir.file("printer.ini")).find("[Label]\nport=0\n"), std::string::npos);
}

TEST_F(CliTest, ShowKeepsItsLineUtf8WhateverTheFileHolds)
{
    writeFile(m_dir.file("printer.ini"), "[User]\nvalue=a\xFF\xED\xA0\x80\xE6\xB5\x8B\xC3\n");
    Outcome shown = cli("--show");
    ASSERT_EQ(shown.exitCode, 0);
    ASSERT_EQ(shown.lines.size(), 3U);
    const std::string replacement = "\xEF\xBF\xBD";
    EXPECT_NE(shown.lines[1].find("\"value\":\"a" + replacement + replacement + replacement + replacement
                  + "\xE6\xB5\x8B" + replacement + "\""),
        std::string::npos)
        << shown.lines[1];
}

TEST_F(CliTest, PrintsThroughTheVendorStandInAndTheQrCodeReadsBack)
{
    Outcome printed = cli("--print --qr-mode 1 --device A1 --pk K9 --model --count 1 --copies 1");
    ASSERT_EQ(printed.exitCode, 0);
    EXPECT_TRUE(hasLine(printed, "{\"op\":\"Print\",\"result\":0}"));
    const auto pictures = filesEndingWith(m_dir.path(), ".png");
    ASSERT_EQ(pictures.size(), 1U);
    const auto trace = readLines(m_dir.file("trace"));
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace.front(), "OpenPort(255)");
    EXPECT_EQ(trace.back(), "ClosePort()");

    if (run("sh -c 'command -v zbarimg'").exitCode != 0) {
        GTEST_SKIP() << "zbarimg (zbar-tools) is not installed; the QR code was not read back";
    }
    const Outcome decoded = run("zbarimg --quiet --raw " + quoted(pictures.front()));
    EXPECT_EQ(decoded.exitCode, 0);
    EXPECT_EQ(decoded.lines,
        std::vector<std::string> {
            "http://update.ardenix.lan/updateApp/LumiscopeUpdate.php?device=A1?locale=zh-CN&pk=K9" });

    std::remove(pictures.front().c_str());
    ASSERT_EQ(cli("--print --device-number 4000000000").exitCode, 0);
    const auto second = filesEndingWith(m_dir.path(), ".png");
    ASSERT_EQ(second.size(), 1U);
    EXPECT_EQ(run("zbarimg --quiet --raw " + quoted(second.front())).lines,
        std::vector<std::string> { "QRRESULT^111^4000000000" });
}

TEST_F(CliTest, PrintsThroughTheTscStandIn)
{
    ASSERT_EQ(cli("--set Label.port=0").exitCode, 0);
    Outcome printed = cli("--print --device-number 7 --model");
    ASSERT_EQ(printed.exitCode, 0);
    EXPECT_TRUE(hasLine(printed, "{\"op\":\"Print\",\"result\":0}"));
    const std::string tspl = readFile(m_dir.file("out.tspl"));
    EXPECT_EQ(tspl.rfind("CLS\r\nSIZE 320 mm,240 mm\r\n", 0), 0U) << tspl;
    EXPECT_NE(tspl.find("QRCODE 16,16,L,5,M,0,M2,S1,\"QRRESULT^111^7\"\r\n"), std::string::npos);
    EXPECT_NE(tspl.find("TEXT 180,90,\"0\",0,20,20,\"测温仪 T1\"\r\n"), std::string::npos);
    EXPECT_NE(tspl.find("PRINT 1,1\r\n"), std::string::npos);

    Outcome refused = cli("--print --device-number 7", "PRINTER_FAIL=openport");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(hasLine(refused, "{\"op\":\"Print\",\"result\":-1}"));
}

TEST_F(CliTest, MissingVendorSdkMakesInitFail)
{
    // A copy of the library in a folder without the SDK: the loader looks
    // beside the library and in LD_LIBRARY_PATH only.
    const std::string lib = m_dir.file("lib");
    ASSERT_EQ(run("mkdir " + quoted(lib) + " && cp " + quoted(buildDir() + "/lib/libTagwright.so") + " "
                  + quoted(buildDir() + "/lib/libTSCLIB.so") + " " + quoted(lib))
                  .exitCode,
        0);
    Outcome printed = cli("--print", "LD_LIBRARY_PATH=" + quoted(lib));
    EXPECT_EQ(printed.exitCode, 1);
    EXPECT_TRUE(hasLine(printed, "{\"op\":\"Init\",\"result\":-2}"));
    EXPECT_TRUE(hasLine(printed, "{\"op\":\"Print\",\"result\":-1}"));
    EXPECT_TRUE(hasLine(printed, "{\"op\":\"Uninit\",\"result\":-1}"));
    EXPECT_FALSE(fileExists(m_dir.file("trace")));
}

TEST_F(CliTest, SdkEntryPointThatIsMissingFailsItsStep)
{
    const Outcome printed = cli("--print", "LD_LIBRARY_PATH=" + quoted(buildDir() + "/tests/partial-sdk"));
    EXPECT_EQ(printed.exitCode, 1);
    EXPECT_TRUE(hasLine(printed, "{\"op\":\"Init\",\"result\":0}"));
    EXPECT_TRUE(hasLine(printed, "{\"op\":\"Print\",\"result\":-3}"));
}
