// Where the TSC stand-in sends its TSPL bytes, chosen by the printer name
// given to openport:
//   a name with a '/'      a file, appended to (on Windows also a '\\');
//   "host:port"           a raw TCP printer, which must be on loopback;
//   any other plain name  a CUPS queue, fed in raw mode through "lp" when
//                         the port closes (on Windows a printer of the
//                         spooler, sent one raw document).
// Used under the stand-in's lock, from whichever thread calls the library.
#pragma once

#include <string>

namespace printerstandin {

class TsplPort {
public:
    TsplPort() = default;
    ~TsplPort();
    TsplPort(const TsplPort&) = delete;
    TsplPort& operator=(const TsplPort&) = delete;

    bool open(const std::string& name);
    bool isOpen() const { return m_kind != Kind::Closed; }
    bool send(const std::string& bytes);
    // Hands a queued job to CUPS; false when that fails.
    bool close();

private:
    enum class Kind { Closed, File, Socket, Queue };

    bool openSocket(const std::string& host, const std::string& service);
    bool submitToQueue();

    Kind m_kind = Kind::Closed;
#if defined(_WIN32)
    void* m_file = nullptr; // HANDLE of a file port
    unsigned long long m_socket = ~0ULL; // SOCKET of a raw printer
#else
    int m_fd = -1;
#endif
    std::string m_queue;
    std::string m_job;
};

} // namespace printerstandin
