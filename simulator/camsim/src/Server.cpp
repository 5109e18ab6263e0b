#include "Server.h"

#include "Alarm.h"
#include "Log.h"

#include "CamSearch.h"
#include "Protocol.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

using namespace KV::Protocol::Device;

namespace camsim {

namespace {

constexpr size_t MaxConnections = 64;
constexpr int FirstBytesMs = 5000;
constexpr int ControlIdleMs = 15000;
constexpr int SendMs = 2000;

std::string endpoint(const sockaddr_in& sa)
{
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &sa.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(sa.sin_port));
}

// Listeners are non-blocking: a connection that goes away between poll and
// accept must not leave the accept thread stuck in accept for ever.
kvnet::Socket bindSocket(int type, const std::string& address, uint16_t port, uint16_t& boundPort)
{
    const int flags = type == SOCK_STREAM ? SOCK_CLOEXEC | SOCK_NONBLOCK : SOCK_CLOEXEC;
    kvnet::Socket s(::socket(AF_INET, type | flags, 0));
    if (!s.valid())
        return s;
    const int one = 1;
    ::setsockopt(s.fd(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa {};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (!kvnet::parseIpv4(address, sa.sin_addr.s_addr)
        || ::bind(s.fd(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0
        || (type == SOCK_STREAM && ::listen(s.fd(), 16) != 0)) {
        s.close();
        return s;
    }
    socklen_t len = sizeof sa;
    ::getsockname(s.fd(), reinterpret_cast<sockaddr*>(&sa), &len);
    boundPort = ntohs(sa.sin_port);
    return s;
}

void copyText(char* field, size_t size, const std::string& text)
{
    std::memset(field, 0, size);
    std::snprintf(field, size, "%s", text.c_str());
}

} // namespace

Server::Server(const Options& options)
    : m_options(options)
{
}

Server::~Server()
{
    stop();
}

bool Server::start()
{
    for (int i = 0; i < m_options.cameras; ++i) {
        auto site = std::make_unique<Site>();
        site->camera = std::make_unique<Camera>(m_options, i);
        uint16_t port = 0;
        site->listener = bindSocket(SOCK_STREAM, site->camera->address(), static_cast<uint16_t>(m_options.port), port);
        if (!site->listener.valid()) {
            logLine("cannot listen on " + site->camera->address() + ":" + std::to_string(m_options.port) + ": "
                + std::strerror(errno));
            return false;
        }
        site->camera->setPort(port);
        site->hub = std::make_unique<StreamHub>(*site->camera);
        if (m_options.alarms) {
            site->alarms = std::make_unique<AlarmService>(*site->camera);
            if (!site->alarms->start()) {
                logLine("cannot start the alarm service of " + site->camera->address());
                return false;
            }
        }
        logLine("camera " + std::to_string(site->camera->id()) + " listening on " + site->camera->address() + ":"
            + std::to_string(port));
        m_sites.push_back(std::move(site));
    }
    if (m_options.searchPort >= 0) {
        uint16_t port = 0;
        m_search = bindSocket(SOCK_DGRAM, m_options.searchAddress, static_cast<uint16_t>(m_options.searchPort), port);
        if (!m_search.valid()) {
            logLine("cannot bind the search port " + m_options.searchAddress + ":"
                + std::to_string(m_options.searchPort) + ": " + std::strerror(errno));
            return false;
        }
        logLine("search answers on " + m_options.searchAddress + ":" + std::to_string(port));
        m_searchThread = std::thread([this] { searchLoop(); });
    }
    m_acceptThread = std::thread([this] { acceptLoop(); });
    m_started = true;
    logLine("ready");
    return true;
}

void Server::stop()
{
    m_cancel.cancel();
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    if (m_searchThread.joinable())
        m_searchThread.join();
    for (auto& site : m_sites)
        if (site->alarms)
            site->alarms->stop();
    reapConnections(true);
    for (auto& site : m_sites)
        site->hub->stop();
    if (m_started)
        logLine("stopped");
    m_started = false;
}

void Server::reapConnections(bool all)
{
    std::list<std::unique_ptr<Connection>> finished;
    {
        std::lock_guard<std::mutex> lock(m_connectionsMutex);
        for (auto it = m_connections.begin(); it != m_connections.end();) {
            if (all || (*it)->done) {
                finished.push_back(std::move(*it));
                it = m_connections.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& c : finished)
        if (c->thread.joinable())
            c->thread.join();
}

void Server::acceptLoop()
{
    std::vector<pollfd> fds;
    for (auto& site : m_sites)
        fds.push_back({ site->listener.fd(), POLLIN, 0 });
    fds.push_back({ m_cancel.readFd(), POLLIN, 0 });
    for (;;) {
        const int n = ::poll(fds.data(), fds.size(), 500);
        reapConnections(false);
        if (n < 0 && errno != EINTR)
            return;
        // After a signal or a time-out the revents are stale or empty.
        if (n <= 0)
            continue;
        if (fds.back().revents & POLLIN)
            return;
        for (size_t i = 0; i + 1 < fds.size(); ++i) {
            if (!(fds[i].revents & POLLIN))
                continue;
            sockaddr_in sa {};
            socklen_t len = sizeof sa;
            kvnet::Socket s(::accept4(fds[i].fd, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_CLOEXEC));
            if (!s.valid())
                continue;
            Site& site = *m_sites[i];
            const std::string peer = endpoint(sa);
            std::lock_guard<std::mutex> lock(m_connectionsMutex);
            if (m_connections.size() >= MaxConnections) {
                logLine(site.camera->address() + " refused " + peer + ": too many connections");
                continue;
            }
            auto c = std::make_unique<Connection>();
            Connection* raw = c.get();
            c->thread = std::thread([this, &site, raw, peer, sock = std::move(s)]() mutable {
                serve(site, std::move(sock), peer);
                raw->done = true;
            });
            m_connections.push_back(std::move(c));
        }
    }
}

void Server::searchLoop()
{
    std::vector<uint8_t> buf(1500);
    for (;;) {
        const kvnet::IoResult r = m_search.waitReadable(1000, &m_cancel);
        if (r == kvnet::IoResult::Cancelled || r == kvnet::IoResult::Error)
            return;
        if (r != kvnet::IoResult::Ok)
            continue;
        sockaddr_in from {};
        socklen_t len = sizeof from;
        const ssize_t got
            = ::recvfrom(m_search.fd(), buf.data(), buf.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &len);
        uint16_t type = 0;
        uint32_t length = 0;
        uint32_t seq = 0;
        if (got != static_cast<ssize_t>(kvproto::HeaderSize + 4)
            || !kvproto::decodeHeader(buf.data(), type, length, seq) || type != kvproto::SearchProbe || length != 4) {
            if (got > 0)
                logLine("search: ignored " + std::to_string(got) + " bytes from " + endpoint(from));
            continue;
        }
        const uint32_t nonce = kvwire::getU32(buf.data() + kvproto::HeaderSize);
        logLine("search probe from " + endpoint(from));
        for (auto& site : m_sites) {
            const Camera& cam = *site->camera;
            const AllConfigInfo config = cam.config();
            CamSearchRecord record {};
            copyText(record.deviceName, sizeof record.deviceName, config.deviceName);
            copyText(record.ipAddress, sizeof record.ipAddress, cam.address());
            copyText(record.macAddress, sizeof record.macAddress, config.macAddress);
            copyText(record.serialNumber, sizeof record.serialNumber, config.serialNumber);
            record.port = cam.port();
            const int32_t caps[5] = { 1, 1920, 1080, 25, 1 };
            std::memcpy(record.capability, caps, sizeof caps);
            record.deviceNumber = cam.id();
            copyText(record.userName, sizeof record.userName, m_options.user);
            std::vector<uint8_t> answer
                = kvproto::encodeHeader(kvproto::SearchAnswer, static_cast<uint32_t>(4 + sizeof record), 0);
            uint8_t n[4];
            kvwire::putU32(n, nonce);
            answer.insert(answer.end(), n, n + 4);
            const auto* bytes = reinterpret_cast<const uint8_t*>(&record);
            answer.insert(answer.end(), bytes, bytes + sizeof record);
            ::sendto(
                m_search.fd(), answer.data(), answer.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&from), len);
        }
    }
}

bool Server::dropDue(int64_t openedMs) const
{
    return m_options.dropAfterSeconds > 0
        && kvnet::monotonicMs() - openedMs >= static_cast<int64_t>(m_options.dropAfterSeconds * 1000);
}

void Server::serve(Site& site, kvnet::Socket socket, const std::string& peer)
{
    Camera& cam = *site.camera;
    const std::string where = cam.address() + " " + peer;
    const int64_t openedMs = kvnet::monotonicMs();
    uint8_t first[4];
    if (socket.recvAll(first, sizeof first, FirstBytesMs, &m_cancel) != kvnet::IoResult::Ok) {
        logLine(where + " closed before a request");
        return;
    }
    if (kvwire::getU32(first) == kvproto::AlarmLoginKind) {
        if (!site.alarms) {
            logLine(where + " alarm login, but the alarm service is off");
            return;
        }
        logLine(where + " alarm login");
        site.alarms->adopt(socket.release(), first, sizeof first);
        return;
    }
    kvproto::Message m;
    if (kvwire::getU32(first) != kvproto::Magic
        || kvproto::readMessageAfter(
               socket, first, sizeof first, m, FirstBytesMs, &m_cancel, kvproto::MaxRequestPayload)
            != kvnet::IoResult::Ok) {
        logLine(where + " sent something that is not a request; closed");
        return;
    }
    switch (m.type) {
    case kvproto::LoginRequest:
    case kvproto::ResumeRequest:
        serveLogin(site, socket, m, where, openedMs);
        return;
    case kvproto::ConfigGet:
    case kvproto::ConfigSetThermal:
    case kvproto::ConfigSetAlarmPrompt:
        serveConfig(site, socket, m, where);
        return;
    case kvproto::PreviewOpen:
        servePreview(site, socket, m.payload, openedMs);
        return;
    default: {
        kvwire::ByteWriter w;
        w.i32(Code::ProtocolError);
        kvproto::sendMessage(socket, kvproto::ErrorAnswer, w.data(), SendMs, &m_cancel);
        logLine(where + " unknown request " + std::to_string(m.type) + "; closed");
        return;
    }
    }
}

// A login with user name and password, or the resumption of one by its
// value; either way the connection then stays open as the control connection.
void Server::serveLogin(
    Site& site, kvnet::Socket& socket, const kvproto::Message& m, const std::string& where, int64_t openedMs)
{
    Camera& cam = *site.camera;
    kvwire::ByteReader rd(m.payload);
    kvwire::ByteWriter w;
    int32_t value = 0;
    int32_t result = Code::ProtocolError;
    if (m.type == kvproto::LoginRequest) {
        const std::string user = rd.str();
        const std::string password = rd.str();
        rd.u8();
        if (rd.ok())
            result = cam.login(user, password, value);
        logLine(where + " login " + user + ": " + std::to_string(result)
            + (result == Code::Success ? " value " + std::to_string(value) : std::string()));
    } else {
        value = rd.i32();
        if (rd.ok())
            result = cam.resume(value) ? Code::Success : Code::NotLoggedIn;
        logLine(where + " login resumed: " + (result == Code::Success ? "ok" : "refused"));
    }
    w.i32(result);
    if (result == Code::Success)
        kvproto::writeLoginInfo(w, cam.loginInfo(value));
    if (kvproto::sendMessage(socket, kvproto::LoginAnswer, w.data(), SendMs, &m_cancel) != kvnet::IoResult::Ok) {
        if (result == Code::Success)
            cam.controlClosed(value);
        return;
    }
    if (result == Code::Success)
        serveControl(site, socket, value, openedMs);
}

void Server::serveConfig(Site& site, kvnet::Socket& socket, const kvproto::Message& m, const std::string& where)
{
    Camera& cam = *site.camera;
    kvwire::ByteReader rd(m.payload);
    const int32_t value = rd.i32();
    int32_t result = Code::Success;
    std::string what;
    if (!rd.ok() || !cam.isCurrent(value)) {
        result = rd.ok() ? Code::NotLoggedIn : Code::ProtocolError;
    } else if (m.type == kvproto::ConfigSetThermal) {
        ThermalInfo t;
        t.highTemp = rd.i32();
        t.lowTemp = rd.i32();
        t.allowUnitSwitch = rd.u8();
        t.tempUnit = rd.u8();
        result = rd.ok() ? cam.setThermal(t) : Code::ProtocolError;
        what = " high " + std::to_string(t.highTemp) + " unit " + std::to_string(t.tempUnit);
    } else if (m.type == kvproto::ConfigSetAlarmPrompt) {
        AlarmPromptInfo p;
        p.enable = rd.u8();
        p.highTemp = rd.i32();
        p.lowTemp = rd.i32();
        result = rd.ok() ? cam.setAlarmPrompt(p) : Code::ProtocolError;
        what = " high " + std::to_string(p.highTemp);
    }
    kvwire::ByteWriter w;
    w.i32(result);
    if (m.type == kvproto::ConfigGet) {
        if (result == Code::Success)
            kvproto::writeAllConfig(w, cam.config());
        kvproto::sendMessage(socket, kvproto::ConfigAnswer, w.data(), SendMs, &m_cancel);
        logLine(where + " configuration read: " + std::to_string(result));
    } else {
        kvproto::sendMessage(socket, kvproto::ConfigSetAnswer, w.data(), SendMs, &m_cancel);
        logLine(where + " configuration written" + what + ": " + std::to_string(result));
    }
}

void Server::serveControl(Site& site, kvnet::Socket& socket, int32_t loginValue, int64_t openedMs)
{
    Camera& cam = *site.camera;
    bool loggedOut = false;
    int64_t lastHeard = kvnet::monotonicMs();
    while (!dropDue(openedMs) && kvnet::monotonicMs() - lastHeard < ControlIdleMs) {
        const kvnet::IoResult r = socket.waitReadable(250, &m_cancel);
        if (r == kvnet::IoResult::Timeout)
            continue;
        kvproto::Message m;
        if (r != kvnet::IoResult::Ok
            || kvproto::readMessage(socket, m, 2000, &m_cancel, kvproto::MaxRequestPayload) != kvnet::IoResult::Ok)
            break;
        lastHeard = kvnet::monotonicMs();
        if (m.type == kvproto::Heartbeat) {
            kvproto::sendMessage(socket, kvproto::HeartbeatAnswer, {}, SendMs, &m_cancel);
        } else if (m.type == kvproto::Logout) {
            loggedOut = true;
            break;
        }
    }
    if (loggedOut) {
        cam.logout(loginValue);
        logLine(cam.address() + " logout, value " + std::to_string(loginValue));
    } else {
        cam.controlClosed(loginValue);
        logLine(cam.address() + " control connection closed, value " + std::to_string(loginValue));
    }
}

void Server::servePreview(Site& site, kvnet::Socket& socket, const std::vector<uint8_t>& request, int64_t openedMs)
{
    Camera& cam = *site.camera;
    kvwire::ByteReader rd(request);
    const int32_t value = rd.i32();
    const bool hd = rd.u8() == 0;
    const bool audio = rd.u8() != 0;
    kvwire::ByteWriter w;
    const bool ok = rd.ok() && cam.isCurrent(value);
    w.i32(ok ? Code::PreviewOk : Code::PreviewRefused);
    w.i32(hd ? 1920 : 640);
    w.i32(hd ? 1080 : 360);
    w.i32(25);
    if (kvproto::sendMessage(socket, kvproto::PreviewAnswer, w.data(), SendMs, &m_cancel) != kvnet::IoResult::Ok
        || !ok) {
        logLine(cam.address() + " preview refused");
        return;
    }
    logLine(cam.address() + " preview opened (" + (hd ? "main" : "sub") + " stream)");
    auto viewer = std::make_shared<Viewer>(hd, audio, m_options, m_options.codec);
    site.hub->attach(viewer);
    std::vector<WireMessage> out;
    bool open = true;
    while (open && !dropDue(openedMs)) {
        out.clear();
        viewer->take(out, 20);
        for (const WireMessage& message : out) {
            if (socket.sendAll(message->data(), message->size(), SendMs, &m_cancel) != kvnet::IoResult::Ok) {
                open = false;
                break;
            }
        }
        // Requests from the viewer: the audio and mirror switches.
        while (open) {
            const kvnet::IoResult r = socket.waitReadable(0, &m_cancel);
            if (r == kvnet::IoResult::Timeout)
                break;
            kvproto::Message m;
            if (r != kvnet::IoResult::Ok
                || kvproto::readMessage(socket, m, 2000, &m_cancel, kvproto::MaxRequestPayload)
                    != kvnet::IoResult::Ok) {
                open = false;
                break;
            }
            if (m.type == kvproto::PreviewSetAudio && m.payload.size() == 1) {
                viewer->setAudio(m.payload[0] != 0);
                logLine(cam.address() + " audio " + (m.payload[0] ? "on" : "off"));
            } else if (m.type == kvproto::PreviewMirror) {
                cam.toggleMirror();
                logLine(cam.address() + " mirror " + (cam.mirrored() ? "on" : "off"));
            }
        }
    }
    site.hub->detach(viewer);
    logLine(cam.address() + " preview closed");
}

} // namespace camsim
