#pragma once
// The camera simulator the build made (bin/camsim), run for a test: started
// with the given options, its log lines collected by a thread of its own (so
// its pipe never fills, whatever the test's thread is doing), stopped with
// SIGTERM when the object goes. camsim also ends with the test process (its
// standard input is a pipe from here) and after a bounded lifetime, should
// the test hang. Restartable; the log of every run is kept, and copied into
// a file when one is named.

#include <chrono>
#include <condition_variable>
#include <cstddef>
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

// The sanitizer reports in a process's log lines, each from the line that
// opens it with up to 80 lines of stacks, headed by "<name>:".
std::vector<std::string> sanitizerReportsIn(const std::string& name, const std::vector<std::string>& lines);

class Camsim {
public:
    // The simulator's path, or an empty string when the build has none.
    static std::string program();
    // Sanitizer reports found in the logs of runs that have ended, each with
    // up to 80 lines of stacks; taking them clears the list.
    static std::vector<std::string> takeSanitizerReports();

    explicit Camsim(std::vector<std::string> arguments, std::string logFile = {}, int lifetimeSeconds = 900);
    ~Camsim();
    Camsim(const Camsim&) = delete;
    Camsim& operator=(const Camsim&) = delete;

    // Starts a run (ending the one before) and waits until it is ready.
    bool start();
    // Starts a run without waiting, for tests that start several at once.
    bool launch();
    // Waits (bounded) until the current run says it is ready; false early
    // when it ends or cannot listen.
    bool waitReady();
    // Ends the current run (SIGTERM, then SIGKILL); its exit status, or -1
    // when it had to be killed or was not running.
    int stop();
    bool running();
    // A run was started and not yet stopped (it may have ended by itself).
    bool launched() const { return m_pid > 0; }
    void setArguments(std::vector<std::string> arguments) { m_arguments = std::move(arguments); }

    // What the current run said about its cameras and its search port.
    std::vector<CamsimCamera> cameras();
    int searchPort();

    // Log lines of all runs. Waits count from line `from`.
    bool waitForLog(const std::string& text, std::chrono::milliseconds timeout, size_t from = 0);
    size_t countLog(const std::string& text);
    // Waits until `count` lines contain `text`; the number seen.
    size_t waitForLogCount(const std::string& text, size_t count, std::chrono::milliseconds timeout);
    size_t lineCount();
    std::string log();

private:
    bool reaped(); // the run has ended and its status is in m_status
    void readLines(int fd);

    std::vector<std::string> m_arguments;
    std::string m_logFile;
    int m_lifetimeSeconds;
    pid_t m_pid = -1;
    bool m_reaped = false;
    int m_status = 0;
    int m_lifeline = -1; // the run's standard input
    std::thread m_reader;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_lines;
    size_t m_runStart = 0; // first line of the current run
    bool m_runEnded = false; // its log pipe closed
};
