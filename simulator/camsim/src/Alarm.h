// A camera's alarm service: takes over connections whose first four bytes
// say "alarm login", grants a session only for the camera's id and a login
// value of a current SDK login, and sends one temperature-alarm event per
// person the camera measures. Its own thread watches the crowd; the peer
// runs the sessions on its thread. Started and stopped by the Server.
#pragma once

#include "Camera.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace camsim {

class AlarmService {
public:
    explicit AlarmService(Camera& camera);
    ~AlarmService();
    AlarmService(const AlarmService&) = delete;
    AlarmService& operator=(const AlarmService&) = delete;

    bool start();
    void stop();
    // Takes over `fd` (the first `size` bytes were read from it already).
    void adopt(int fd, const uint8_t* first, size_t size);

private:
    void watchCrowd();
    void dropOldSessions();

    Camera& m_camera;
    struct Peer;
    std::unique_ptr<Peer> m_peer;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace camsim
