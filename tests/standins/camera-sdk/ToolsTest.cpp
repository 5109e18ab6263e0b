// The command lines of camsim and camctl: the help text, the clip writer,
// and camctl's JSON lines against a running camsim.

#include "CamSearch.h"
#include "CamsimProcess.h"
#include "Protocol.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// Counts the pictures libavcodec decodes from an Annex-B elementary stream.
int countPictures(AVCodecID id, const std::vector<uint8_t>& stream, int& width, int& height)
{
    const AVCodec* codec = avcodec_find_decoder(id);
    AVCodecParserContext* parser = av_parser_init(id);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    int pictures = 0;
    if (parser && ctx && pkt && frame && avcodec_open2(ctx, codec, nullptr) == 0) {
        std::vector<uint8_t> buf(stream);
        buf.resize(stream.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        const uint8_t* p = buf.data();
        int left = static_cast<int>(stream.size());
        auto drain = [&] {
            while (avcodec_receive_frame(ctx, frame) == 0) {
                ++pictures;
                width = frame->width;
                height = frame->height;
            }
        };
        for (int guard = 0; guard < 100000; ++guard) {
            const bool flushing = left == 0; // an empty input hands out what the parser holds
            uint8_t* out = nullptr;
            int outSize = 0;
            const int used = av_parser_parse2(parser, ctx, &out, &outSize, p, left, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
            if (used < 0)
                break;
            p += used;
            left -= used;
            if (outSize > 0) {
                pkt->data = out;
                pkt->size = outSize;
                avcodec_send_packet(ctx, pkt);
                drain();
            }
            if (flushing && outSize == 0)
                break;
        }
        avcodec_send_packet(ctx, nullptr);
        drain();
    }
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);
    av_parser_close(parser);
    return pictures;
}

std::vector<std::string> linesWith(const std::string& out, const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find('\n', start);
        if (end == std::string::npos)
            end = out.size();
        const std::string line = out.substr(start, end - start);
        if (line.find(text) != std::string::npos)
            lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

} // namespace

TEST(Camsim, HelpNamesEveryOption)
{
    int code = -1;
    const std::string help = runTool("camsim", { "--help" }, 5000, code);
    EXPECT_EQ(code, 0);
    for (const char* option : { "--cameras", "--address", "--port", "--search-port", "--user", "--password", "--codec",
             "--audio", "--people-per-minute", "--abnormal-share", "--timezone", "--unit", "--legacy-config",
             "--no-unit-switch", "--drop-after", "--stop-video-after", "--malformed-every", "--refuse-alarm-logins",
             "--stall-alarm-auth", "--fail-alarm-registration", "--write-clip" })
        EXPECT_NE(help.find(option), std::string::npos) << option;
    runTool("camsim", { "--cameras", "0" }, 5000, code);
    EXPECT_EQ(code, 2);
    runTool("camsim", { "--address", "192.0.2.1" }, 5000, code);
    EXPECT_EQ(code, 2) << "only loopback addresses";
    runTool("camsim", { "--abnormal-share", "1.5" }, 5000, code);
    EXPECT_EQ(code, 2);
    runTool("camsim", { "--stall-alarm-auth", "-1" }, 5000, code);
    EXPECT_EQ(code, 2);
}

TEST(Camsim, WritesDecodableClips)
{
    const std::string dir = std::string(std::getenv("ARDENIX_BUILD_DIR") ? std::getenv("ARDENIX_BUILD_DIR") : "..");
    for (const auto& [name, id] : { std::pair<const char*, AVCodecID> { "h264", AV_CODEC_ID_H264 },
             std::pair<const char*, AVCodecID> { "h265", AV_CODEC_ID_HEVC } }) {
        const std::string path = dir + "/tests/camsim-clip-" + std::to_string(::getpid()) + "." + name;
        int code = -1;
        runTool("camsim", { "--write-clip", path, "--clip-seconds", "2", "--codec", name, "--clip-size", "640x360" },
            30000, code);
        ASSERT_EQ(code, 0) << name;
        std::ifstream f(path, std::ios::binary);
        const std::vector<uint8_t> bytes { std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>() };
        std::remove(path.c_str());
        int width = 0;
        int height = 0;
        EXPECT_EQ(countPictures(id, bytes, width, height), 50) << name;
        EXPECT_EQ(width, 640);
        EXPECT_EQ(height, 360);
    }
}

TEST(Camctl, PrintsOneJsonObjectPerLine)
{
    CamsimProcess sim({ "--address", loopbackAddress(uniqueLoopbackBase(), 2), "--port", "0", "--search-port", "0",
        "--search-address", loopbackAddress(uniqueLoopbackBase(), 1), "--no-alarms", "--cameras", "2", "--timezone",
        "-8", "--password", "pw" });
    ASSERT_TRUE(sim.ready()) << sim.log();
    const CamsimCamera cam = sim.cameras().at(0);
    const std::vector<std::string> where
        = { "--address", cam.address, "--port", std::to_string(cam.port), "--user", "admin", "--password", "pw" };
    auto with = [&where](std::vector<std::string> args) {
        args.insert(args.end(), where.begin(), where.end());
        return args;
    };
    int code = -1;
    std::string out = runTool("camctl", with({ "login" }), 10000, code);
    EXPECT_EQ(code, 0);
    ASSERT_EQ(linesWith(out, "\"event\":\"login\",\"result\":1001,\"loginValue\":").size(), 1u) << out;

    out = runTool("camctl", with({ "config", "--set-high", "381", "--toggle-unit" }), 10000, code);
    EXPECT_EQ(code, 0) << out;
    const auto configs = linesWith(out, "\"event\":\"config\"");
    ASSERT_EQ(configs.size(), 2u) << out;
    EXPECT_NE(configs[0].find("\"high\":373,\"low\":300,\"unit\":0"), std::string::npos) << configs[0];
    EXPECT_NE(configs[0].find("\"timezone\":65528"), std::string::npos);
    EXPECT_NE(configs[0].find("\"thermalBlock\":true"), std::string::npos);
    EXPECT_NE(configs[1].find("\"high\":381,\"low\":300,\"unit\":1"), std::string::npos) << configs[1];

    out = runTool("camctl", with({ "preview", "--seconds", "1.5" }), 15000, code);
    EXPECT_EQ(code, 0) << out;
    const auto key = linesWith(out, "\"event\":\"frames\",\"type\":0,");
    ASSERT_EQ(key.size(), 1u) << out;
    EXPECT_NE(key[0].find("\"width\":1920,\"height\":1080"), std::string::npos);
    EXPECT_EQ(linesWith(out, "\"event\":\"frames\",\"type\":10,").size(), 1u);
    EXPECT_EQ(linesWith(out, "\"event\":\"frames\",\"type\":26,").size(), 1u);

    runTool("camctl",
        { "login", "--address", cam.address, "--port", std::to_string(cam.port), "--user", "admin", "--password",
            "wrong" },
        10000, code);
    EXPECT_EQ(code, 1);

    ::setenv("KVSDK_SEARCH_TARGETS",
        (loopbackAddress(uniqueLoopbackBase(), 1) + ":" + std::to_string(sim.searchPort())).c_str(), 1);
    ::setenv("KVSDK_SEARCH_WINDOW_MS", "500", 1);
    out = runTool("camctl", { "search" }, 10000, code);
    ::unsetenv("KVSDK_SEARCH_TARGETS");
    ::unsetenv("KVSDK_SEARCH_WINDOW_MS");
    EXPECT_EQ(code, 0);
    EXPECT_EQ(linesWith(out, "\"event\":\"found\"").size(), 2u) << out;
    EXPECT_EQ(linesWith(out, "\"event\":\"searchDone\",\"count\":2").size(), 1u) << out;
}

// A camera whose search answer carries a quote, a stray byte and a valid
// accented letter in its name: camctl's line stays valid JSON.
TEST(Camctl, EscapesWhateverACameraCallsItself)
{
    const std::string address = loopbackAddress(uniqueLoopbackBase(), 3);
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in sa {};
    sa.sin_family = AF_INET;
    ::inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
    socklen_t len = sizeof sa;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len), 0);

    std::thread camera([fd] {
        pollfd p { fd, POLLIN, 0 };
        uint8_t probe[64];
        sockaddr_in from {};
        socklen_t fromLen = sizeof from;
        if (::poll(&p, 1, 5000) != 1)
            return;
        const ssize_t got = ::recvfrom(fd, probe, sizeof probe, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (got != static_cast<ssize_t>(kvproto::HeaderSize + 4))
            return;
        CamSearchRecord record {};
        std::snprintf(record.deviceName, sizeof record.deviceName, "%s", "Cam\xff\"q\xc3\xa9\xed\xa0\x80");
        std::snprintf(record.ipAddress, sizeof record.ipAddress, "%s", "127.0.0.9");
        std::vector<uint8_t> answer
            = kvproto::encodeHeader(kvproto::SearchAnswer, static_cast<uint32_t>(4 + sizeof record), 0);
        answer.insert(answer.end(), probe + kvproto::HeaderSize, probe + kvproto::HeaderSize + 4);
        const auto* bytes = reinterpret_cast<const uint8_t*>(&record);
        answer.insert(answer.end(), bytes, bytes + sizeof record);
        ::sendto(fd, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLen);
    });
    ::setenv("KVSDK_SEARCH_TARGETS", (address + ":" + std::to_string(ntohs(sa.sin_port))).c_str(), 1);
    ::setenv("KVSDK_SEARCH_WINDOW_MS", "500", 1);
    int code = -1;
    const std::string out = runTool("camctl", { "search" }, 10000, code);
    ::unsetenv("KVSDK_SEARCH_TARGETS");
    ::unsetenv("KVSDK_SEARCH_WINDOW_MS");
    camera.join();
    ::close(fd);
    EXPECT_EQ(code, 0);
    const auto found = linesWith(out, "\"event\":\"found\"");
    ASSERT_EQ(found.size(), 1u) << out;
    EXPECT_NE(found[0].find("\"name\":\"Cam\\ufffd\\\"q\xc3\xa9\\ufffd\\ufffd\\ufffd\""), std::string::npos)
        << found[0];
}
