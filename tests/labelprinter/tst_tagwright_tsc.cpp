// Labels on the TSC printer: the exact command strings, a printer that
// rejects commands, texts carried safely inside the QR command, and the
// default printer as a file or a raw TCP printer on loopback.

#include "TagwrightFixture.h"

#include <TSCLIB.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using kvprint::CTagwright;
using namespace tagwrighttest;

namespace {

const std::string updateAddress
    = "http://update.ardenix.lan/updateApp/LumiscopeUpdate.php?device=A1?locale=zh-CN&pk=K9";

// The TSPL the stand-in sent for the sample template.
std::string expectedTspl(const std::string& quotedQr, bool deviceLine, bool model, const std::string& number)
{
    std::string tspl = "CLS\r\n"
                       "SIZE 40 mm,30 mm\r\n"
                       "GAP 2 mm,0 mm\r\n"
                       "SPEED 3\r\n"
                       "DENSITY 15\r\n"
                       "DIRECTION 1\r\n"
                       "QRCODE 20,10,L,4,M,90,M2,S1,"
        + quotedQr + "\r\n";
    if (deviceLine) {
        tspl += "TEXT 10,150,\"0\",0,20,20,\"" + number + "\"\r\n";
    }
    tspl += "TEXT 10,180,\"0\",0,30,30,\"admin\"\r\n";
    tspl += "TEXT 10,210,\"0\",0,30,30,\"secret\"\r\n";
    if (model) {
        tspl += "TEXT 10,240,\"0\",90,30,30,\"KV-100\"\r\n";
    }
    return tspl + "PRINT 1,1\r\n";
}

#if defined(_WIN32)
using Socket = SOCKET;
constexpr Socket noSocket = INVALID_SOCKET;
using PollFd = WSAPOLLFD;
int pollOne(PollFd* p, int ms)
{
    return WSAPoll(p, 1, ms);
}
void closeSocket(Socket s)
{
    closesocket(s);
}
#else
using Socket = int;
constexpr Socket noSocket = -1;
using PollFd = pollfd;
int pollOne(PollFd* p, int ms)
{
    return ::poll(p, 1, ms);
}
void closeSocket(Socket s)
{
    ::close(s);
}
#endif

// A raw printer: a listening socket on loopback with a port of the OS's
// choosing.
class RawPrinter {
public:
    RawPrinter()
    {
#if defined(_WIN32)
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
#endif
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
            && ::listen(m_listener, 4) == 0
            && ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            m_port = ntohs(address.sin_port);
        }
    }
    ~RawPrinter()
    {
        closeSocket(m_listener);
    }
    RawPrinter(const RawPrinter&) = delete;
    RawPrinter& operator=(const RawPrinter&) = delete;

    std::string name(const std::string& host = "127.0.0.1") const
    {
        return host + ":" + std::to_string(m_port);
    }

    // Everything one connection sent until it closed; waits at most 5 s.
    std::string received()
    {
        PollFd ready {};
        ready.fd = m_listener;
        ready.events = POLLIN;
        if (pollOne(&ready, 5000) != 1) {
            return std::string();
        }
        const Socket peer = ::accept(m_listener, nullptr, nullptr);
        if (peer == noSocket) {
            return std::string();
        }
        std::string bytes;
        char buffer[4096];
        for (int reads = 0; reads < 10000; ++reads) {
            PollFd data {};
            data.fd = peer;
            data.events = POLLIN;
            if (pollOne(&data, 5000) != 1) {
                break;
            }
            const auto n = ::recv(peer, buffer, sizeof buffer, 0);
            if (n <= 0) {
                break;
            }
            bytes.append(buffer, static_cast<std::size_t>(n));
        }
        closeSocket(peer);
        return bytes;
    }

private:
    Socket m_listener = noSocket;
    int m_port = 0;
};

} // namespace

TEST_F(TagwrightFixture, TscDeviceNumberLabelWithModel)
{
    auto printer = printerWith(sampleTemplate(0));
    clearTrace();
    ASSERT_EQ(printer->Print(sampleParam(4000000000U, 0, true)), 0);
    const std::vector<std::string> calls = {
        "openport(\"" + m_dir.file("out.tspl") + "\")",
        "sendcommand(\"CLS\")",
        "sendcommand(\"SIZE 40 mm,30 mm\")",
        "sendcommand(\"GAP 2 mm,0 mm\")",
        "sendcommand(\"SPEED 3\")",
        "sendcommand(\"DENSITY 15\")",
        "sendcommand(\"DIRECTION 1\")",
        "sendcommand(\"QRCODE 20,10,L,4,M,90,M2,S1,\\\"QRRESULT^111^4000000000\\\"\")",
        "windowsfont(10, 150, 20, 0, 0, 0, \"Arial\", \"4000000000\")",
        "windowsfont(10, 180, 30, 0, 0, 0, \"Arial\", \"admin\")",
        "windowsfont(10, 210, 30, 0, 0, 0, \"Arial\", \"secret\")",
        "windowsfont(10, 240, 30, 90, 0, 0, \"Arial\", \"KV-100\")",
        "printlabel(\"1\", \"1\")",
        "closeport()",
    };
    EXPECT_EQ(trace(), calls);
    EXPECT_EQ(readFile(m_dir.file("out.tspl")), expectedTspl("\"QRRESULT^111^4000000000\"", true, true, "4000000000"));
}

TEST_F(TagwrightFixture, TscUpdateAddressLabelHasNoDeviceNumberLine)
{
    auto config = sampleTemplate(0);
    config.direct = 0;
    config.QRo = 0;
    auto printer = printerWith(config);
    clearTrace();
    ASSERT_EQ(printer->Print(sampleParam(12, 1, false)), 0);
    std::string expected = expectedTspl("\"" + updateAddress + "\"", false, false, "");
    expected.replace(expected.find("DIRECTION 1"), 11, "DIRECTION 0");
    expected.replace(expected.find(",M,90,"), 6, ",M,0,");
    EXPECT_EQ(readFile(m_dir.file("out.tspl")), expected);
    for (const auto& line : trace()) {
        EXPECT_EQ(line.find("\"12\""), std::string::npos) << line;
    }
}

TEST_F(TagwrightFixture, TscPrinterRejectingCommandsStillGivesZero)
{
    auto printer = printerWith(sampleTemplate(0));
    setEnv("PRINTER_FAIL", "sendcommand,windowsfont,printlabel,closeport");
    clearTrace();
    EXPECT_EQ(printer->Print(sampleParam(1, 0, true)), 0);
    const auto lines = trace();
    ASSERT_EQ(lines.size(), 14U);
    EXPECT_EQ(lines.back(), "closeport()");
}

TEST_F(TagwrightFixture, TscPortThatWillNotOpenGivesMinusOneAndNothingElse)
{
    auto printer = printerWith(sampleTemplate(0));
    setEnv("PRINTER_FAIL", "openport");
    clearTrace();
    EXPECT_EQ(printer->Print(sampleParam(1, 0, false)), -1);
    EXPECT_EQ(trace().size(), 1U);

    setEnv("PRINTER_FAIL", nullptr);
    setEnv("PRINTER", m_dir.file("no/such/folder").c_str());
    clearTrace();
    EXPECT_EQ(printer->Print(sampleParam(1, 0, false)), -1);
    EXPECT_EQ(trace().size(), 1U);
}

TEST_F(TagwrightFixture, TscQuoteInTheQrTextIsEscaped)
{
    auto printer = printerWith(sampleTemplate(0));
    auto param = sampleParam(1, 1, false);
    setText(param.device, "A\",0,0,\"x\"\r\nPRINT 9");
    clearTrace();
    // The line break in the same text is refused outright.
    EXPECT_EQ(printer->Print(param), -1);
    EXPECT_TRUE(trace().empty());

    setText(param.device, "A\"1");
    setText(param.pk, "\"K\"");
    ASSERT_EQ(printer->Print(param), 0);
    const std::string tspl = readFile(m_dir.file("out.tspl"));
    const std::string qr = "QRCODE 20,10,L,4,M,90,M2,S1,"
                           "\"http://update.ardenix.lan/updateApp/LumiscopeUpdate.php?device=A\\[\"]1"
                           "?locale=zh-CN&pk=\\[\"]K\\[\"]\"\r\n";
    EXPECT_NE(tspl.find(qr), std::string::npos) << tspl;
}

TEST_F(TagwrightFixture, TscControlCharactersAreRefusedBeforeOpeningThePort)
{
    struct Case {
        const char* what;
        std::string device;
        std::string pk;
        std::string pwd;
        bool printModel;
        std::string model;
    };
    const Case cases[] = {
        { "device", "A\n1", "K9", "secret", false, "KV" },
        { "pk", "A1", "K\t9", "secret", false, "KV" },
        { "pwd", "A1", "K9", "se\rcret", false, "KV" },
        { "model", "A1", "K9", "secret", true, "K\x7FV" },
        { "escape", "A1", "K9",
            "\x1b"
            "secret",
            false, "KV" },
    };
    for (const auto& c : cases) {
        auto config = sampleTemplate(0);
        setText(config.Pwd.value, c.pwd);
        setText(config.Model.value, c.model);
        auto printer = printerWith(config);
        auto param = sampleParam(1, 1, c.printModel);
        setText(param.device, c.device);
        setText(param.pk, c.pk);
        clearTrace();
        EXPECT_EQ(printer->Print(param), -1) << c.what;
        EXPECT_TRUE(trace().empty()) << c.what;
    }
    EXPECT_FALSE(fileExists(m_dir.file("out.tspl")));

    // A control character in a text that is not printed does no harm, and
    // the vendor printer takes texts as call arguments, not commands.
    auto config = sampleTemplate(0);
    setText(config.Model.value, "K\nV");
    auto printer = printerWith(config);
    EXPECT_EQ(printer->Print(sampleParam(1, 0, false)), 0);
    config.port = 255;
    printer->SetConfig(config);
    EXPECT_EQ(printer->Print(sampleParam(1, 0, true)), 0);
}

TEST_F(TagwrightFixture, TscRawPrinterOnLoopback)
{
    RawPrinter raw;
    setEnv("PRINTER", raw.name().c_str());
    auto printer = printerWith(sampleTemplate(0));
    ASSERT_EQ(printer->Print(sampleParam(42, 0, false)), 0);
    EXPECT_EQ(raw.received(), expectedTspl("\"QRRESULT^111^42\"", true, false, "42"));

    RawPrinter byName;
    setEnv("PRINTER", byName.name("localhost").c_str());
    ASSERT_EQ(printer->Print(sampleParam(43, 0, false)), 0);
    EXPECT_EQ(byName.received(), expectedTspl("\"QRRESULT^111^43\"", true, false, "43"));

    // Other host names are not looked up at all.
    setEnv("PRINTER", "printer.invalid:9100");
    EXPECT_EQ(printer->Print(sampleParam(44, 0, false)), -1);
}

#if defined(_WIN32)
TEST_F(TagwrightFixture, TscWithoutADefaultPrinterGivesMinusOne)
{
    setEnv("PRINTER", nullptr);
    auto printer = printerWith(sampleTemplate(0));
    clearTrace();
    EXPECT_EQ(printer->Print(sampleParam(1, 0, false)), -1);
    EXPECT_TRUE(trace().empty());

    // A printer the spooler does not know does not open.
    setEnv("PRINTER", "No Such Label Printer");
    EXPECT_EQ(printer->Print(sampleParam(1, 0, false)), -1);
    EXPECT_EQ(trace(), std::vector<std::string> { "openport(\"No Such Label Printer\")" });
}
#else
// CUPS queues and FIFOs are POSIX printers.
TEST_F(TagwrightFixture, TscWithoutADefaultPrinterGivesMinusOne)
{
    if (fileExists("/etc/cups/lpoptions") || fileExists("/etc/cups/printers.conf")) {
        GTEST_SKIP() << "this machine has a CUPS default printer configured";
    }
    setEnv("PRINTER", nullptr);
    setEnv("HOME", m_dir.path().c_str());
    auto printer = printerWith(sampleTemplate(0));
    clearTrace();
    EXPECT_EQ(printer->Print(sampleParam(1, 0, false)), -1);
    EXPECT_TRUE(trace().empty());

    // The user's CUPS default is the next place to look.
    setEnv("PATH", "/nonexistent");
    ASSERT_EQ(::mkdir(m_dir.file(".cups").c_str(), 0700), 0);
    writeFile(m_dir.file(".cups/lpoptions"), "Dest other\nDefault labelq/sticker media=custom\n");
    EXPECT_EQ(printer->Print(sampleParam(1, 0, false)), -1);
    EXPECT_EQ(trace(), std::vector<std::string> { "openport(\"labelq\")" });
}

TEST_F(TagwrightFixture, TscCupsQueueGetsTheJobRaw)
{
    // A stand-in "lp" that keeps its arguments and the job.
    const std::string lp = m_dir.file("lp");
    writeFile(lp, "#!/bin/sh\necho \"$@\" > '" + m_dir.file("lp-args") + "'\ncat > '" + m_dir.file("lp-job") + "'\n");
    ASSERT_EQ(::chmod(lp.c_str(), 0755), 0);
    const char* path = std::getenv("PATH");
    setEnv("PATH", (m_dir.path() + ":" + (path ? path : "/usr/bin:/bin")).c_str());
    setEnv("PRINTER", "label-queue_1");

    auto printer = printerWith(sampleTemplate(0));
    ASSERT_EQ(printer->Print(sampleParam(42, 0, false)), 0);
    EXPECT_EQ(readFile(m_dir.file("lp-args")), "-d label-queue_1 -o raw\n");
    EXPECT_EQ(readFile(m_dir.file("lp-job")), expectedTspl("\"QRRESULT^111^42\"", true, false, "42"));

    // Queue names are plain words; anything else never reaches the shell.
    setEnv("PRINTER", "queue;rm");
    EXPECT_EQ(printer->Print(sampleParam(42, 0, false)), -1);
}

TEST_F(TagwrightFixture, TscQueueThatReadsNothingFailsTheJob)
{
    const std::string lp = m_dir.file("lp");
    writeFile(lp, "#!/bin/sh\nexit 0\n");
    ASSERT_EQ(::chmod(lp.c_str(), 0755), 0);
    const char* path = std::getenv("PATH");
    setEnv("PATH", (m_dir.path() + ":" + (path ? path : "/usr/bin:/bin")).c_str());

    ASSERT_EQ(openport("label-queue"), 1);
    // More than a pipe holds, so the job is still going out when lp has
    // already gone: a failed close, not a SIGPIPE that ends this program.
    const std::string command(256 * 1024, 'A');
    ASSERT_EQ(sendcommand(command.c_str()), 1);
    EXPECT_NE(closeport(), 1);
}

TEST_F(TagwrightFixture, TscPrinterFifoWithoutReaderFailsAtOnce)
{
    const std::string fifo = m_dir.file("printer-fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    setEnv("PRINTER", fifo.c_str());
    auto printer = printerWith(sampleTemplate(0));
    EXPECT_EQ(printer->Print(sampleParam(1, 0, false)), -1);
}

TEST_F(TagwrightFixture, TscPrinterFifoWhoseReaderLeavesFailsTheCommand)
{
    const std::string fifo = m_dir.file("printer-fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_EQ(openport(fifo.c_str()), 1);
    ::close(reader);
    // Without a reader the write fails; it must not end this program.
    EXPECT_NE(sendcommand("CLS"), 1);
    closeport();
}
#endif
