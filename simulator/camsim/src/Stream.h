// The live stream of one camera. While at least one viewer is attached a
// thread of the hub's own draws the scene 25 times a second, encodes it once
// per picture size and hands the same coded frames to every viewer's queue,
// with the temperature picture and the sound. Viewers are fed by their
// connection threads; all member functions are thread-safe.
#pragma once

#include "Camera.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace camsim {

using WireMessage = std::shared_ptr<const std::vector<uint8_t>>;

// One frame message as it travels on the wire.
WireMessage buildFrameMessage(int32_t type, int32_t rate, int64_t pts, const uint8_t* payload, size_t size);

// One open preview connection's queue, with the faults that act per stream.
class Viewer {
public:
    enum class Kind { Video, Audio, Temperature };

    Viewer(bool hd, bool audio, const Options& options, VideoCodec codec);

    bool hd() const { return m_hd; }
    void setAudio(bool on);
    bool audio() const;
    // Takes one frame from the hub (may drop it or swap in a malformed one).
    void offer(const WireMessage& message, Kind kind, bool key, int64_t pts);
    // Waits up to `waitMs` for messages and moves them to `out`.
    void take(std::vector<WireMessage>& out, int waitMs);

private:
    WireMessage malformed(int64_t pts);

    const bool m_hd;
    const Options& m_options;
    const VideoCodec m_codec;
    const std::chrono::steady_clock::time_point m_start;
    mutable std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<WireMessage> m_queue;
    bool m_audio;
    bool m_waitKey = true;
    uint64_t m_frames = 0;
    uint32_t m_malformedKind = 0;
};

class StreamHub {
public:
    explicit StreamHub(Camera& camera);
    ~StreamHub();
    StreamHub(const StreamHub&) = delete;
    StreamHub& operator=(const StreamHub&) = delete;

    void attach(const std::shared_ptr<Viewer>& viewer);
    void detach(const std::shared_ptr<Viewer>& viewer);
    void stop();

private:
    void run();

    Camera& m_camera;
    std::mutex m_mutex; // guards the viewers and the thread's state
    std::condition_variable m_wake;
    std::vector<std::shared_ptr<Viewer>> m_viewers;
    std::thread m_thread;
    bool m_active = false;
    bool m_stopping = false;
};

} // namespace camsim
