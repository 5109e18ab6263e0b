// camsim: simulated thermal network cameras on loopback addresses.

#include "../media/Crowd.h"
#include "../media/Scene.h"
#include "../media/VideoEncoder.h"
#include "Log.h"
#include "Options.h"
#include "Server.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cmath>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = { -1, -1 };

void onSignal(int)
{
    const char c = 's';
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &c, 1);
}

int writeClip(const camsim::Options& o)
{
    camsim::Crowd crowd(o.peoplePerMinute, o.abnormalShare, o.seed);
    camsim::Scene scene(crowd, o.clipWidth, o.clipHeight, 2, 2,
        o.bitrateKbit > 0 ? camsim::SceneLook::Sensor : camsim::SceneLook::Flat);
    camsim::VideoEncoder encoder(o.codec, o.clipWidth, o.clipHeight, 25, 25, o.bitrateKbit);
    if (!encoder.ok()) {
        camsim::logLine("cannot encode: " + encoder.error());
        return 1;
    }
    std::FILE* f = std::fopen(o.clipPath.c_str(), "wb");
    if (!f) {
        camsim::logLine("cannot write " + o.clipPath);
        return 1;
    }
    const auto frames = static_cast<int64_t>(std::llround(o.clipSeconds * 25));
    bool ok = true;
    int64_t written = 0;
    for (int64_t i = 0; i < frames && ok; ++i) {
        std::vector<camsim::EncodedPicture> out;
        ok = encoder.encode(scene.renderVideo(i * 40, i, false), out);
        for (const auto& p : out) {
            ok = ok && std::fwrite(p.data.data(), 1, p.data.size(), f) == p.data.size();
            written += static_cast<int64_t>(p.data.size());
        }
    }
    ok = std::fclose(f) == 0 && ok;
    camsim::logLine(std::string(ok ? "wrote " : "failed writing ") + o.clipPath + ": " + std::to_string(frames)
        + " pictures, " + std::to_string(written) + " bytes");
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::puts("camsim " ARDENIX_VERSION_TEXT);
        return 0;
    }
    camsim::Options options;
    std::string error;
    switch (camsim::parseOptions(argc, argv, options, error)) {
    case camsim::ParseResult::Help:
        std::fputs(camsim::usageText(), stdout);
        return 0;
    case camsim::ParseResult::Error:
        std::fprintf(stderr, "camsim: %s\n%s", error.c_str(), "Try 'camsim --help'.\n");
        return 2;
    case camsim::ParseResult::Run:
        break;
    }
    av_log_set_level(AV_LOG_ERROR);
    if (!options.clipPath.empty())
        return writeClip(options);

    std::signal(SIGPIPE, SIG_IGN);
    if (::pipe2(g_signalPipe, O_CLOEXEC) != 0)
        return 1;
    struct sigaction sa { };
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);

    camsim::Server server(options);
    if (!server.start()) {
        server.stop();
        return 1;
    }
    pollfd p[2] = { { g_signalPipe[0], POLLIN, 0 }, { 0, POLLIN, 0 } };
    const nfds_t watched = options.exitWithStdin ? 2 : 1;
    for (;;) {
        if (::poll(p, watched, -1) <= 0)
            continue;
        if (p[0].revents)
            break;
        // Standard input: data is read and ignored; its end stops camsim.
        char buf[256];
        if ((p[1].revents & (POLLHUP | POLLERR)) || ::read(0, buf, sizeof buf) <= 0)
            break;
    }
    camsim::logLine("stopping");
    server.stop();
    return 0;
}
