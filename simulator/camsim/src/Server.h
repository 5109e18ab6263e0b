// camsim's network side: one listening socket per camera at its address and
// port, the search responder on UDP, and one thread per open connection,
// which the first bytes route to the login, configuration, preview or alarm
// service. Created and stopped on the main thread.
#pragma once

#include "Camera.h"
#include "Stream.h"

#include "Net.h"
#include "Protocol.h"

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace camsim {

class AlarmService;

class Server {
public:
    explicit Server(const Options& options);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds every socket and starts the threads; false (with a log line)
    // when something could not be bound.
    bool start();
    void stop();

private:
    struct Site {
        std::unique_ptr<Camera> camera;
        std::unique_ptr<StreamHub> hub;
        kvnet::Socket listener;
        std::unique_ptr<AlarmService> alarms;
    };
    struct Connection {
        std::thread thread;
        std::atomic<bool> done { false };
    };

    void acceptLoop();
    void searchLoop();
    void serve(Site& site, kvnet::Socket socket, const std::string& peer);
    void serveLogin(
        Site& site, kvnet::Socket& socket, const kvproto::Message& m, const std::string& where, int64_t openedMs);
    void serveConfig(Site& site, kvnet::Socket& socket, const kvproto::Message& m, const std::string& where);
    void serveControl(Site& site, kvnet::Socket& socket, int32_t loginValue, int64_t openedMs);
    void servePreview(Site& site, kvnet::Socket& socket, const std::vector<uint8_t>& request, int64_t openedMs);
    bool dropDue(int64_t openedMs) const;
    void reapConnections(bool all);

    const Options& m_options;
    std::vector<std::unique_ptr<Site>> m_sites;
    kvnet::Socket m_search;
    kvnet::CancelPipe m_cancel;
    std::thread m_acceptThread;
    std::thread m_searchThread;
    std::mutex m_connectionsMutex;
    std::list<std::unique_ptr<Connection>> m_connections;
    bool m_started = false;
};

} // namespace camsim
