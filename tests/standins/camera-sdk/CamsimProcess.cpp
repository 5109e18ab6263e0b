#include "CamsimProcess.h"
#include "ChildProcess.h"

#include <gtest/gtest.h>

#include <csignal>
#include <thread>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

std::string uniqueLoopbackBase()
{
    const unsigned pid = static_cast<unsigned>(::getpid());
    return "127." + std::to_string(100 + pid % 150) + "." + std::to_string((pid / 150) % 250 + 1) + ".";
}

std::string loopbackAddress(const std::string& base, int host)
{
    return base + std::to_string(host);
}

std::vector<std::string> camsimArgs(std::vector<std::string> extra)
{
    std::vector<std::string> args
        = { "--address", loopbackAddress(uniqueLoopbackBase(), 2), "--port", "0", "--search-port", "-1" };
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

KV::Protocol::Device::Info cameraInfo(const CamsimCamera& camera)
{
    KV::Protocol::Device::Info info;
    info.id = camera.id;
    info.address = camera.address;
    info.port = camera.port;
    return info;
}

CamsimProcess::CamsimProcess(std::vector<std::string> args)
    : Camsim(std::move(args))
{
    m_ready = start();
}

CamsimProcess::~CamsimProcess()
{
    if (launched())
        EXPECT_EQ(stop(), 0) << "camsim did not end cleanly\n" << log();
    for (const std::string& report : Camsim::takeSanitizerReports())
        ADD_FAILURE() << report;
}

namespace {

std::string toolPath(const std::string& name)
{
    const char* dir = std::getenv("ARDENIX_BUILD_DIR");
    return std::string(dir ? dir : "..") + "/bin/" + name;
}

} // namespace

bool toolExists(const std::string& name)
{
    return ::access(toolPath(name).c_str(), X_OK) == 0;
}

std::string runTool(const std::string& name, std::vector<std::string> args, int timeoutMs, int& exitCode)
{
    exitCode = -1;
    std::string out;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return out;
    args.insert(args.begin(), toolPath(name));
    const pid_t pid = spawnChild(std::move(args), -1, fds[1], false);
    ::close(fds[1]);
    const int fd = fds[0];
    if (pid < 0) {
        ::close(fd);
        return out;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char buf[4096];
    for (;;) {
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                  .count();
        if (left <= 0)
            break;
        pollfd p { fd, POLLIN, 0 };
        if (::poll(&p, 1, static_cast<int>(left)) <= 0)
            break;
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    int status = 0;
    bool exited = false;
    while (!(exited = ::waitpid(pid, &status, WNOHANG) == pid) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!exited) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return out;
    }
    if (WIFEXITED(status))
        exitCode = WEXITSTATUS(status);
    return out;
}
