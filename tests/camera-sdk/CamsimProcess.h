// Runs build/bin/camsim for a test: starts it with the given options (its
// cameras on OS-chosen ports unless the options say otherwise), waits for
// "ready", and stops it again in the destructor. Its log lines are kept so
// that tests can wait for them.
#pragma once

#include "KV_DeviceTypes.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

struct CamsimCamera {
    int id = 0;
    std::string address;
    int port = 0;
};

class CamsimProcess {
public:
    explicit CamsimProcess(std::vector<std::string> args);
    ~CamsimProcess();
    CamsimProcess(const CamsimProcess&) = delete;
    CamsimProcess& operator=(const CamsimProcess&) = delete;

    bool ready() const { return m_ready; }
    const std::vector<CamsimCamera>& cameras() const { return m_cameras; }
    int searchPort() const { return m_searchPort; }
    // Waits until a log line contains `text` (counting from line `from`).
    bool waitForLog(const std::string& text, std::chrono::milliseconds timeout, size_t from = 0);
    size_t countLog(const std::string& text);
    // Waits until `count` log lines contain `text`, or the time is up; returns
    // the number seen. camsim's log arrives through a pipe, so lines about a
    // client that has just ended may still be on their way.
    size_t waitForLogCount(const std::string& text, size_t count, std::chrono::milliseconds timeout);
    size_t lineCount();
    std::string log();
    // Stops camsim (SIGTERM); its exit status, or -1 when it had to be killed.
    int stop();

private:
    void readLines(int fd);

    pid_t m_pid = -1;
    int m_lifeline = -1; // camsim's standard input
    std::thread m_reader;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_lines;
    bool m_ready = false;
    std::vector<CamsimCamera> m_cameras;
    int m_searchPort = -1;
};

// A loopback address block of this test process's own, so that tests that
// run side by side never meet: 127.<a>.<b>.1 and up.
std::string uniqueLoopbackBase();
std::string loopbackAddress(const std::string& base, int host);
// camsim's options for one camera at this process's own address, on a port
// the system chooses, without search answers; `extra` goes last.
std::vector<std::string> camsimArgs(std::vector<std::string> extra = {});
KV::Protocol::Device::Info cameraInfo(const CamsimCamera& camera);

// Runs a program of the build (bin/<name>) to its end, at most `timeoutMs`,
// and returns its standard output; `exitCode` gets its exit status (-1 when
// it had to be killed or could not start).
std::string runTool(const std::string& name, std::vector<std::string> args, int timeoutMs, int& exitCode);
bool toolExists(const std::string& name);
