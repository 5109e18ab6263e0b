#include "TsplPort.h"
#include "PortAddress.h"

// The POSIX port is in TsplPort.cpp.
#if defined(_WIN32)

#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>
#include <winspool.h>

#include <algorithm>
#include <vector>

namespace printerstandin {

namespace {

constexpr int connectTimeoutMs = 3000;
constexpr DWORD sendTimeoutMs = 3000;
constexpr std::size_t maxJobBytes = std::size_t { 16 } * 1024 * 1024;
constexpr unsigned long long noSocket = ~0ULL;

bool startSockets()
{
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

bool pathName(const std::string& name)
{
    return name.find_first_of("/\\") != std::string::npos;
}

// A printer name as the spooler knows it: printable, no quotes, bounded.
bool plainQueueName(const std::string& name)
{
    if (name.empty() || name.size() > 220) {
        return false;
    }
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20U || byte == 0x7FU || c == '"' || c == ',') {
            return false;
        }
    }
    return true;
}

} // namespace

TsplPort::~TsplPort()
{
    close();
}

bool TsplPort::open(const std::string& name)
{
    close();
    std::string host;
    std::string service;
    if (pathName(name)) {
        const HANDLE file = CreateFileA(name.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return false;
        }
        m_file = file;
        m_kind = Kind::File;
        return true;
    }
    if (splitHostPort(name, host, service)) {
        return openSocket(host, service);
    }
    if (plainQueueName(name)) {
        // Only a printer the spooler knows opens the port.
        HANDLE printer = nullptr;
        std::vector<char> printerName(name.begin(), name.end());
        printerName.push_back('\0');
        if (!OpenPrinterA(printerName.data(), &printer, nullptr)) {
            return false;
        }
        ClosePrinter(printer);
        m_queue = name;
        m_job.clear();
        m_kind = Kind::Queue;
        return true;
    }
    return false;
}

bool TsplPort::openSocket(const std::string& host, const std::string& service)
{
    if (!startSockets()) {
        return false;
    }
    // Numeric addresses only: looking a name up could already ask a name
    // server off this machine.
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | AI_NUMERICHOST;
    const std::string address = host == "localhost" ? "127.0.0.1" : host;
    addrinfo* found = nullptr;
    if (getaddrinfo(address.c_str(), service.c_str(), &hints, &found) != 0) {
        return false;
    }
    for (const addrinfo* a = found; a && m_socket == noSocket; a = a->ai_next) {
        // Printers are reached on this machine only.
        if (!loopback(a->ai_addr)) {
            continue;
        }
        const SOCKET s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (s == INVALID_SOCKET) {
            continue;
        }
        u_long on = 1;
        ioctlsocket(s, FIONBIO, &on);
        int rc = ::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen));
        if (rc != 0 && WSAGetLastError() == WSAEWOULDBLOCK) {
            WSAPOLLFD p {};
            p.fd = s;
            p.events = POLLOUT;
            int error = 0;
            int length = sizeof error;
            rc = (WSAPoll(&p, 1, connectTimeoutMs) == 1
                     && getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) == 0
                     && error == 0)
                ? 0
                : -1;
        }
        if (rc == 0) {
            u_long off = 0;
            ioctlsocket(s, FIONBIO, &off);
            const DWORD limit = sendTimeoutMs;
            setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
            m_socket = s;
        } else {
            closesocket(s);
        }
    }
    freeaddrinfo(found);
    if (m_socket == noSocket) {
        return false;
    }
    m_kind = Kind::Socket;
    return true;
}

bool TsplPort::send(const std::string& bytes)
{
    if (m_kind == Kind::Queue) {
        if (m_job.size() + bytes.size() > maxJobBytes) {
            return false;
        }
        m_job += bytes;
        return true;
    }
    std::size_t done = 0;
    for (int attempts = 0; done < bytes.size() && attempts < 1000; ++attempts) {
        const auto piece = static_cast<int>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
        long n = -1;
        if (m_kind == Kind::Socket) {
            n = ::send(static_cast<SOCKET>(m_socket), bytes.data() + done, piece, 0);
        } else if (m_kind == Kind::File) {
            DWORD written = 0;
            n = WriteFile(m_file, bytes.data() + done, static_cast<DWORD>(piece), &written, nullptr)
                ? static_cast<long>(written)
                : -1;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return done == bytes.size();
}

bool TsplPort::submitToQueue()
{
    std::vector<char> printerName(m_queue.begin(), m_queue.end());
    printerName.push_back('\0');
    HANDLE printer = nullptr;
    if (!OpenPrinterA(printerName.data(), &printer, nullptr)) {
        return false;
    }
    char documentName[] = "label";
    char dataType[] = "RAW";
    DOC_INFO_1A document {};
    document.pDocName = documentName;
    document.pDatatype = dataType;
    bool done = false;
    if (StartDocPrinterA(printer, 1, reinterpret_cast<LPBYTE>(&document)) != 0) {
        DWORD written = 0;
        done = StartPagePrinter(printer)
            && WritePrinter(printer, m_job.data(), static_cast<DWORD>(m_job.size()), &written)
            && written == m_job.size();
        EndPagePrinter(printer);
        done = EndDocPrinter(printer) && done;
    }
    ClosePrinter(printer);
    return done;
}

bool TsplPort::close()
{
    bool ok = true;
    if (m_kind == Kind::Queue) {
        ok = submitToQueue();
    }
    if (m_file) {
        ok = CloseHandle(m_file) && ok;
        m_file = nullptr;
    }
    if (m_socket != noSocket) {
        ::shutdown(static_cast<SOCKET>(m_socket), SD_SEND);
        ok = closesocket(static_cast<SOCKET>(m_socket)) == 0 && ok;
        m_socket = noSocket;
    }
    m_kind = Kind::Closed;
    m_queue.clear();
    m_job.clear();
    return ok;
}

} // namespace printerstandin

#endif
