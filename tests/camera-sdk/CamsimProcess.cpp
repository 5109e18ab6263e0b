#include "CamsimProcess.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

std::string camsimPath()
{
    const char* dir = std::getenv("ARDENIX_BUILD_DIR");
    return std::string(dir ? dir : "..") + "/bin/camsim";
}

// Starts `path` with `args`, its descriptor `targetFd` (1 or 2) on a pipe
// whose reading end goes to `readFd`; the child's pid, or -1.
pid_t spawn(const std::string& path, std::vector<std::string> args, int targetFd, int& readFd, int stdinFd = -1)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    args.insert(args.begin(), path);
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], targetFd);
    if (stdinFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, stdinFd, 0);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        return -1;
    }
    readFd = fds[0];
    return pid;
}

} // namespace

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
{
    // camsim ends when this pipe closes, which it does with this process,
    // however the test ends.
    int lifeline[2];
    if (::pipe2(lifeline, O_CLOEXEC) != 0)
        return;
    args.push_back("--exit-with-stdin");
    int fd = -1;
    m_pid = spawn(camsimPath(), std::move(args), 2, fd, lifeline[0]);
    ::close(lifeline[0]);
    m_lifeline = lifeline[1];
    if (m_pid < 0)
        return;
    m_reader = std::thread([this, fd] { readLines(fd); });
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait_for(lock, std::chrono::seconds(20), [this] {
        for (const auto& l : m_lines)
            if (l.find("camsim: ready") != std::string::npos || l.find("cannot") != std::string::npos)
                return true;
        return false;
    });
    for (const std::string& l : m_lines) {
        // "camsim: camera 3 listening on 127.0.0.4:8800"
        const size_t c = l.find("camsim: camera ");
        const size_t on = l.find(" listening on ");
        if (c != std::string::npos && on != std::string::npos) {
            CamsimCamera cam;
            cam.id = std::atoi(l.c_str() + c + 15);
            const std::string ep = l.substr(on + 14);
            const size_t colon = ep.rfind(':');
            cam.address = ep.substr(0, colon);
            cam.port = std::atoi(ep.c_str() + colon + 1);
            m_cameras.push_back(cam);
        }
        const size_t s = l.find("search answers on ");
        if (s != std::string::npos)
            m_searchPort = std::atoi(l.c_str() + l.rfind(':') + 1);
        if (l.find("camsim: ready") != std::string::npos)
            m_ready = true;
    }
}

CamsimProcess::~CamsimProcess()
{
    const bool wasRunning = m_pid > 0;
    const int status = stop();
    // camsim ends cleanly on SIGTERM; anything else is a fault of its own.
    if (wasRunning)
        EXPECT_EQ(status, 0) << "camsim did not end cleanly\n" << log();
    const std::string all = log();
    for (const char* marker : { "AddressSanitizer", "runtime error:", "ThreadSanitizer", "LeakSanitizer" })
        EXPECT_EQ(all.find(marker), std::string::npos) << all;
}

void CamsimProcess::readLines(int fd)
{
    std::string partial;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        partial.append(buf, static_cast<size_t>(n));
        size_t nl;
        while ((nl = partial.find('\n')) != std::string::npos) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_lines.push_back(partial.substr(0, nl));
            partial.erase(0, nl + 1);
            m_changed.notify_all();
        }
    }
    ::close(fd);
}

bool CamsimProcess::waitForLog(const std::string& text, std::chrono::milliseconds timeout, size_t from)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] {
        for (size_t i = from; i < m_lines.size(); ++i)
            if (m_lines[i].find(text) != std::string::npos)
                return true;
        return false;
    });
}

size_t CamsimProcess::countLog(const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    size_t n = 0;
    for (const auto& l : m_lines)
        n += l.find(text) != std::string::npos ? 1 : 0;
    return n;
}

size_t CamsimProcess::waitForLogCount(const std::string& text, size_t count, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    size_t n = 0;
    m_changed.wait_for(lock, timeout, [&] {
        n = 0;
        for (const auto& l : m_lines)
            n += l.find(text) != std::string::npos ? 1 : 0;
        return n >= count;
    });
    return n;
}

size_t CamsimProcess::lineCount()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines.size();
}

std::string CamsimProcess::log()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string all;
    for (const auto& l : m_lines)
        all += l + "\n";
    return all;
}

int CamsimProcess::stop()
{
    int result = -1;
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        int status = 0;
        bool exited = false;
        for (int i = 0; i < 100 && !exited; ++i) {
            exited = ::waitpid(m_pid, &status, WNOHANG) == m_pid;
            if (!exited)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (!exited) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &status, 0);
        } else if (WIFEXITED(status)) {
            result = WEXITSTATUS(status);
        }
        m_pid = -1;
    }
    if (m_reader.joinable())
        m_reader.join();
    if (m_lifeline >= 0)
        ::close(m_lifeline);
    m_lifeline = -1;
    return result;
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
    int fd = -1;
    const pid_t pid = spawn(toolPath(name), std::move(args), 1, fd);
    std::string out;
    if (pid < 0)
        return out;
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
