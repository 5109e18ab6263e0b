#include "Camsim.h"
#include "ChildProcess.h"
#include "TestPatience.h"

#include <algorithm>
#include <utility>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// How long camsim may take to end after SIGTERM: it joins its camera
// threads, and a sanitizer build checks for leaks on the way out, which on
// a busy machine has taken more than five seconds.
constexpr int kEndWithinMs = patient(10000);

std::mutex g_reportsMutex;
std::vector<std::string> g_sanitizerReports;

bool contains(const std::string& line, const char* text)
{
    return line.find(text) != std::string::npos;
}

bool opensSanitizerReport(const std::string& line)
{
    return contains(line, "ERROR: AddressSanitizer") || contains(line, "ERROR: LeakSanitizer")
        || contains(line, "WARNING: ThreadSanitizer") || contains(line, "runtime error:");
}

} // namespace

std::vector<std::string> sanitizerReportsIn(const std::string& name, const std::vector<std::string>& lines)
{
    std::vector<std::string> reports;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!opensSanitizerReport(lines[i]))
            continue;
        const size_t end = std::min(lines.size(), i + 80);
        std::string report = name + ":";
        for (size_t j = i; j < end; ++j)
            report += "\n" + lines[j];
        reports.push_back(std::move(report));
        i = end - 1;
    }
    return reports;
}

std::string Camsim::program()
{
    const char* dir = std::getenv("ARDENIX_BUILD_DIR");
    const std::string path = std::string(dir ? dir : "..") + "/bin/camsim";
    return ::access(path.c_str(), X_OK) == 0 ? path : std::string();
}

std::vector<std::string> Camsim::takeSanitizerReports()
{
    std::lock_guard<std::mutex> lock(g_reportsMutex);
    return std::exchange(g_sanitizerReports, {});
}

Camsim::Camsim(std::vector<std::string> arguments, std::string logFile, int lifetimeSeconds)
    : m_arguments(std::move(arguments))
    , m_logFile(std::move(logFile))
    , m_lifetimeSeconds(lifetimeSeconds)
{
}

Camsim::~Camsim()
{
    stop();
}

bool Camsim::start()
{
    return launch() && waitReady();
}

bool Camsim::launch()
{
    stop();
    const std::string path = program();
    if (path.empty())
        return false;
    int lifeline[2];
    int output[2];
    if (::pipe2(lifeline, O_CLOEXEC) != 0)
        return false;
    if (::pipe2(output, O_CLOEXEC) != 0) {
        ::close(lifeline[0]);
        ::close(lifeline[1]);
        return false;
    }
    // A run ends within kEndWithinMs of SIGTERM, or is killed by timeout.
    std::vector<std::string> args { "timeout", "--kill-after=" + std::to_string(kEndWithinMs / 1000),
        std::to_string(m_lifetimeSeconds), path };
    args.insert(args.end(), m_arguments.begin(), m_arguments.end());
    args.push_back("--exit-with-stdin");
    m_pid = spawnChild(std::move(args), lifeline[0], output[1], true);
    ::close(lifeline[0]);
    ::close(output[1]);
    if (m_pid < 0) {
        ::close(lifeline[1]);
        ::close(output[0]);
        return false;
    }
    m_lifeline = lifeline[1];
    m_reaped = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_runStart = m_lines.size();
        m_runEnded = false;
    }
    m_reader = std::thread([this, fd = output[0]] { readLines(fd); });
    return true;
}

bool Camsim::waitReady()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    bool ready = false;
    m_changed.wait_for(lock, std::chrono::milliseconds(patient(20000)), [this, &ready] {
        for (size_t i = m_runStart; i < m_lines.size(); ++i) {
            if (contains(m_lines[i], "camsim: ready")) {
                ready = true;
                return true;
            }
            if (contains(m_lines[i], "cannot"))
                return true;
        }
        return m_runEnded;
    });
    return ready;
}

bool Camsim::running()
{
    return m_pid > 0 && !reaped();
}

bool Camsim::reaped()
{
    if (!m_reaped)
        m_reaped = ::waitpid(m_pid, &m_status, WNOHANG) == m_pid;
    return m_reaped;
}

int Camsim::stop()
{
    int result = -1;
    if (m_pid > 0) {
        if (!reaped())
            ::kill(m_pid, SIGTERM);
        for (int i = 0; i < kEndWithinMs / 50 + 40 && !reaped(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (!reaped()) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &m_status, 0);
        } else if (WIFEXITED(m_status)) {
            result = WEXITSTATUS(m_status);
        }
        m_pid = -1;
    }
    if (m_reader.joinable()) {
        m_reader.join();
        std::vector<std::string> run;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            run.assign(m_lines.begin() + static_cast<std::ptrdiff_t>(m_runStart), m_lines.end());
        }
        std::vector<std::string> reports = sanitizerReportsIn("camsim", run);
        std::lock_guard<std::mutex> lock(g_reportsMutex);
        g_sanitizerReports.insert(g_sanitizerReports.end(), reports.begin(), reports.end());
    }
    if (m_lifeline >= 0)
        ::close(m_lifeline);
    m_lifeline = -1;
    return result;
}

void Camsim::readLines(int fd)
{
    std::ofstream file;
    if (!m_logFile.empty())
        file.open(m_logFile, std::ios::app);
    std::string partial;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        partial.append(buf, static_cast<size_t>(n));
        size_t nl = 0;
        while ((nl = partial.find('\n')) != std::string::npos) {
            if (file.is_open())
                file << partial.substr(0, nl + 1) << std::flush;
            std::lock_guard<std::mutex> lock(m_mutex);
            m_lines.push_back(partial.substr(0, nl));
            partial.erase(0, nl + 1);
            m_changed.notify_all();
        }
    }
    ::close(fd);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!partial.empty())
        m_lines.push_back(partial);
    m_runEnded = true;
    m_changed.notify_all();
}

std::vector<CamsimCamera> Camsim::cameras()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<CamsimCamera> cameras;
    for (size_t i = m_runStart; i < m_lines.size(); ++i) {
        // "camsim: camera 3 listening on 127.0.0.4:8800"
        const std::string& l = m_lines[i];
        const size_t c = l.find("camsim: camera ");
        const size_t on = l.find(" listening on ");
        if (c == std::string::npos || on == std::string::npos)
            continue;
        CamsimCamera camera;
        camera.id = std::atoi(l.c_str() + c + 15);
        const std::string endpoint = l.substr(on + 14);
        const size_t colon = endpoint.rfind(':');
        camera.address = endpoint.substr(0, colon);
        camera.port = std::atoi(endpoint.c_str() + colon + 1);
        cameras.push_back(camera);
    }
    return cameras;
}

int Camsim::searchPort()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (size_t i = m_runStart; i < m_lines.size(); ++i) {
        if (contains(m_lines[i], "search answers on "))
            return std::atoi(m_lines[i].c_str() + m_lines[i].rfind(':') + 1);
    }
    return -1;
}

bool Camsim::waitForLog(const std::string& text, std::chrono::milliseconds timeout, size_t from)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] {
        for (size_t i = from; i < m_lines.size(); ++i)
            if (m_lines[i].find(text) != std::string::npos)
                return true;
        return false;
    });
}

size_t Camsim::countLog(const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<size_t>(
        std::count_if(m_lines.begin(), m_lines.end(), [&](const std::string& l) { return contains(l, text.c_str()); }));
}

size_t Camsim::waitForLogCount(const std::string& text, size_t count, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    size_t n = 0;
    m_changed.wait_for(lock, timeout, [&] {
        n = static_cast<size_t>(std::count_if(
            m_lines.begin(), m_lines.end(), [&](const std::string& l) { return contains(l, text.c_str()); }));
        return n >= count;
    });
    return n;
}

size_t Camsim::lineCount()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines.size();
}

std::string Camsim::log()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string all;
    for (const auto& l : m_lines)
        all += l + "\n";
    return all;
}
