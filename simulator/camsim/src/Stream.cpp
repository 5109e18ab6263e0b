#include "Stream.h"

#include "../media/AudioEncoder.h"
#include "../media/Scene.h"
#include "../media/ThermalFrame.h"
#include "../media/VideoEncoder.h"
#include "Log.h"

#include "Protocol.h"

#include <algorithm>

namespace camsim {

namespace {

constexpr int Fps = 25;
constexpr int FrameMs = 1000 / Fps;
constexpr size_t MaxQueued = 150;
constexpr int SubWidth = 640;
constexpr int SubHeight = 360;
constexpr int ThermalWidth = 256;
constexpr int ThermalHeight = 192;

} // namespace

WireMessage buildFrameMessage(int32_t type, int32_t rate, int64_t pts, const uint8_t* payload, size_t size)
{
    kvwire::ByteWriter w;
    std::vector<uint8_t> header = kvproto::encodeHeader(kvproto::PreviewFrame, static_cast<uint32_t>(16 + size), 0);
    w.data().reserve(header.size() + 16 + size);
    w.bytes(header.data(), header.size());
    w.i32(type);
    w.i32(rate);
    w.i64(pts);
    if (size)
        w.bytes(payload, size);
    return std::make_shared<const std::vector<uint8_t>>(std::move(w.data()));
}

Viewer::Viewer(bool hd, bool audio, const Options& options, VideoCodec codec)
    : m_hd(hd)
    , m_options(options)
    , m_codec(codec)
    , m_start(std::chrono::steady_clock::now())
    , m_audio(audio)
{
}

void Viewer::setAudio(bool on)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_audio = on;
}

bool Viewer::audio() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_audio;
}

// The ways a camera gets a frame wrong, taken in turn.
WireMessage Viewer::malformed(int64_t pts)
{
    const uint32_t kind = m_malformedKind++ % 7;
    std::vector<uint8_t> junk(997);
    for (size_t i = 0; i < junk.size(); ++i)
        junk[i] = static_cast<uint8_t>((i * 131 + m_frames * 7) & 0xff);
    const int32_t videoType = m_codec == VideoCodec::H264 ? 0 : 40;
    switch (kind) {
    case 0: {
        // A temperature header that promises a whole picture and carries 4 bytes.
        std::vector<uint8_t> t = { 'T', 16, 0, 1, 192, 0, 0, 0, 100, 1, 10, 0, 0, 0, 0, 0, 1, 2, 3, 4 };
        return buildFrameMessage(10, Fps, pts, t.data(), t.size());
    }
    case 1: {
        // A header length past the end of the payload.
        std::vector<uint8_t> t = { 'T', 200, 0, 1, 192, 0 };
        return buildFrameMessage(10, Fps, pts, t.data(), t.size());
    }
    case 2:
        return buildFrameMessage(videoType, Fps, pts, junk.data(), junk.size());
    case 3:
        return buildFrameMessage(77, Fps, pts, nullptr, 0);
    case 4:
        return buildFrameMessage(videoType + 1, Fps, 4102416000001LL, junk.data(), junk.size());
    case 5:
        return buildFrameMessage(21, Fps, pts, junk.data(), 3);
    default: {
        // A frame message too short for its own fields.
        std::vector<uint8_t> m = kvproto::encodeHeader(kvproto::PreviewFrame, 5, 0);
        m.insert(m.end(), { 1, 2, 3, 4, 5 });
        return std::make_shared<const std::vector<uint8_t>>(std::move(m));
    }
    }
}

void Viewer::offer(const WireMessage& message, Kind kind, bool key, int64_t pts)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (kind == Kind::Audio && !m_audio)
        return;
    if (kind == Kind::Video) {
        if (m_options.stopVideoAfterSeconds > 0
            && std::chrono::steady_clock::now() - m_start
                > std::chrono::duration<double>(m_options.stopVideoAfterSeconds))
            return;
        if (m_waitKey && !key)
            return;
        m_waitKey = false;
    }
    if (m_queue.size() >= MaxQueued) {
        // The connection cannot keep up: start again at the next key frame.
        m_queue.clear();
        m_waitKey = true;
        if (kind == Kind::Video && !key)
            return;
        m_waitKey = kind != Kind::Video;
    }
    ++m_frames;
    if (m_options.malformedEvery > 0 && m_frames % static_cast<uint64_t>(m_options.malformedEvery) == 0)
        m_queue.push_back(malformed(pts));
    else
        m_queue.push_back(message);
    m_ready.notify_one();
}

void Viewer::take(std::vector<WireMessage>& out, int waitMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_ready.wait_for(lock, std::chrono::milliseconds(waitMs), [this] { return !m_queue.empty(); });
    while (!m_queue.empty()) {
        out.push_back(std::move(m_queue.front()));
        m_queue.pop_front();
    }
}

StreamHub::StreamHub(Camera& camera)
    : m_camera(camera)
{
}

StreamHub::~StreamHub()
{
    stop();
}

void StreamHub::stop()
{
    std::thread finished;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        m_viewers.clear();
        finished = std::move(m_thread);
    }
    m_wake.notify_all();
    if (finished.joinable())
        finished.join();
}

void StreamHub::attach(const std::shared_ptr<Viewer>& viewer)
{
    std::thread finished;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping)
            return;
        m_viewers.push_back(viewer);
        if (m_active)
            return;
        finished = std::move(m_thread);
        m_active = true;
    }
    // The previous run has seen no viewers and is ending by itself.
    if (finished.joinable())
        finished.join();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stopping)
        m_active = false;
    else
        m_thread = std::thread([this] { run(); });
}

void StreamHub::detach(const std::shared_ptr<Viewer>& viewer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_viewers.erase(std::remove(m_viewers.begin(), m_viewers.end(), viewer), m_viewers.end());
}

namespace {

using Viewers = std::vector<std::shared_ptr<Viewer>>;

// What one picture time of a stream needs to know.
struct Moment {
    int64_t tick = 0; // pictures since the stream started
    int64_t sceneMs = 0; // the crowd's clock
    int64_t pts = 0; // the camera's clock
    bool mirror = false;
};

// The drawing and encoding state of one stream run, on the hub's thread.
class StreamRun {
public:
    explicit StreamRun(const Camera& camera)
        : m_camera(camera)
        , m_codec(camera.options().codec)
        , m_thermalScene(camera.crowd(), 2, 2, ThermalWidth, ThermalHeight)
        , m_audio(camera.options().audio)
        , m_audioType(audioFrameType(camera.options().audio))
        , m_startLocalMs(camera.localMs())
    {
    }

    // Draws and encodes the picture of one size for the viewers of that size.
    void video(bool hd, const Moment& at, const Viewers& viewers)
    {
        Picture& p = hd ? m_main : m_sub;
        const int width = hd ? 1920 : SubWidth;
        const int height = hd ? 1080 : SubHeight;
        if (!p.scene) {
            const int bitrate = m_camera.options().bitrateKbit;
            p.scene = std::make_unique<Scene>(
                m_camera.crowd(), width, height, 2, 2, bitrate > 0 ? SceneLook::Sensor : SceneLook::Flat);
            p.encoder = std::make_unique<VideoEncoder>(
                m_codec, width, height, Fps, Fps, hd ? bitrate : std::max(bitrate / 8, bitrate > 0 ? 64 : 0));
            if (!p.encoder->ok())
                logLine("video encoder failed: " + p.encoder->error());
        }
        std::vector<EncodedPicture> pictures;
        if (!p.encoder->encode(p.scene->renderVideo(at.sceneMs, at.tick, at.mirror), pictures))
            return;
        const int32_t keyType = m_codec == VideoCodec::H264 ? 0 : 40;
        for (const EncodedPicture& e : pictures) {
            const WireMessage m
                = buildFrameMessage(e.key ? keyType : keyType + 1, Fps, at.pts, e.data.data(), e.data.size());
            for (const auto& v : viewers)
                if (v->hd() == hd)
                    v->offer(m, Viewer::Kind::Video, e.key, at.pts);
        }
    }

    void temperature(const Moment& at, const Viewers& viewers)
    {
        int unit = 0;
        const bool withUnit = m_camera.unitCode(unit);
        const std::vector<uint8_t> frame = buildThermalFrame(
            m_thermalScene.renderThermal(at.sceneMs, at.mirror), m_thermalCounter++, unit, withUnit);
        const WireMessage m = buildFrameMessage(10, Fps, at.pts, frame.data(), frame.size());
        for (const auto& v : viewers)
            v->offer(m, Viewer::Kind::Temperature, false, at.pts);
    }

    // Encodes sound up to one picture ahead of the clock; the sound is made
    // even when nobody listens, so that its time stamps stay continuous.
    void sound(const Moment& at, const Viewers& viewers, bool wanted)
    {
        if (m_audioType < 0 || !m_audio.ok() || m_audio.samplesPerFrame() <= 0)
            return;
        const int rate = m_audio.sampleRate();
        const int32_t framesPerSecond = rate / m_audio.samplesPerFrame();
        const int64_t aheadMs = (at.tick + 1) * FrameMs;
        for (int round = 0; round < 16 && m_audioSamples * 1000 / rate < aheadMs; ++round) {
            Person p;
            const bool chime = m_camera.crowd().personAt(at.sceneMs, p) && at.sceneMs >= p.measureMs
                && at.sceneMs < p.measureMs + 400;
            std::vector<EncodedAudio> frames;
            if (!m_audio.encodeNext(chime, frames))
                return;
            m_audioSamples += m_audio.samplesPerFrame();
            if (!wanted)
                continue;
            for (const EncodedAudio& a : frames) {
                const int64_t pts = m_startLocalMs + a.firstSample * 1000 / rate;
                const WireMessage m
                    = buildFrameMessage(m_audioType, framesPerSecond, pts, a.data.data(), a.data.size());
                for (const auto& v : viewers)
                    v->offer(m, Viewer::Kind::Audio, false, pts);
            }
        }
    }

private:
    struct Picture {
        std::unique_ptr<Scene> scene;
        std::unique_ptr<VideoEncoder> encoder;
    };

    const Camera& m_camera;
    const VideoCodec m_codec;
    Picture m_main;
    Picture m_sub;
    Scene m_thermalScene;
    uint16_t m_thermalCounter = 0;
    AudioEncoder m_audio;
    const int32_t m_audioType;
    const int64_t m_startLocalMs;
    int64_t m_audioSamples = 0;
};

} // namespace

void StreamHub::run()
{
    StreamRun stream(m_camera);
    const auto start = std::chrono::steady_clock::now();
    logLine(m_camera.address() + " stream started");
    for (int64_t tick = 0;; ++tick) {
        Viewers viewers;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            auto due = start + std::chrono::milliseconds(tick * FrameMs);
            const auto now = std::chrono::steady_clock::now();
            if (now - due > std::chrono::milliseconds(200)) {
                // Too slow: skip pictures rather than fall further behind.
                tick = std::chrono::duration_cast<std::chrono::milliseconds>(now - start).count() / FrameMs;
                due = start + std::chrono::milliseconds(tick * FrameMs);
            }
            m_wake.wait_until(lock, due, [this] { return m_stopping || m_viewers.empty(); });
            if (m_stopping || m_viewers.empty()) {
                m_active = false;
                break;
            }
            viewers = m_viewers;
        }
        bool wantMain = false;
        bool wantSub = false;
        bool wantAudio = false;
        for (const auto& v : viewers) {
            (v->hd() ? wantMain : wantSub) = true;
            wantAudio = wantAudio || v->audio();
        }
        const Moment at { tick, m_camera.sceneMs(), m_camera.localMs(), m_camera.mirrored() };
        if (wantMain)
            stream.video(true, at, viewers);
        if (wantSub)
            stream.video(false, at, viewers);
        stream.temperature(at, viewers);
        stream.sound(at, viewers, wantAudio);
    }
    logLine(m_camera.address() + " stream stopped");
}

} // namespace camsim
