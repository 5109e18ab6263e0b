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

void StreamHub::run()
{
    const Options& o = m_camera.options();
    const int32_t keyType = o.codec == VideoCodec::H264 ? 0 : 40;
    std::unique_ptr<Scene> mainScene;
    std::unique_ptr<Scene> subScene;
    std::unique_ptr<VideoEncoder> mainEncoder;
    std::unique_ptr<VideoEncoder> subEncoder;
    Scene thermalScene(m_camera.crowd(), 2, 2, ThermalWidth, ThermalHeight);
    AudioEncoder audio(o.audio);
    const int32_t audioType = audioFrameType(o.audio);
    const int32_t audioRate = audio.samplesPerFrame() > 0 ? audio.sampleRate() / audio.samplesPerFrame() : 0;
    const int64_t startLocalMs = m_camera.localMs();
    const auto start = std::chrono::steady_clock::now();
    int64_t tick = 0;
    uint16_t thermalCounter = 0;
    int64_t audioSamples = 0;
    bool encoderFailed = false;
    logLine(m_camera.address() + " stream started");
    for (;; ++tick) {
        std::vector<std::shared_ptr<Viewer>> viewers;
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
        const int64_t sceneMs = m_camera.sceneMs();
        const int64_t pts = m_camera.localMs();
        const bool mirror = m_camera.mirrored();
        auto encodeFor = [&](bool hd, std::unique_ptr<Scene>& scene, std::unique_ptr<VideoEncoder>& encoder) {
            if (!scene) {
                scene.reset(new Scene(m_camera.crowd(), hd ? 1920 : SubWidth, hd ? 1080 : SubHeight, 2, 2));
                encoder.reset(new VideoEncoder(o.codec, hd ? 1920 : SubWidth, hd ? 1080 : SubHeight, Fps));
                if (!encoder->ok() && !encoderFailed) {
                    encoderFailed = true;
                    logLine("video encoder failed: " + encoder->error());
                }
            }
            std::vector<EncodedPicture> pictures;
            if (!encoder->encode(scene->renderVideo(sceneMs, tick, mirror), pictures))
                return;
            for (const EncodedPicture& p : pictures) {
                const WireMessage m
                    = buildFrameMessage(p.key ? keyType : keyType + 1, Fps, pts, p.data.data(), p.data.size());
                for (const auto& v : viewers)
                    if (v->hd() == hd)
                        v->offer(m, Viewer::Kind::Video, p.key, pts);
            }
        };
        if (wantMain)
            encodeFor(true, mainScene, mainEncoder);
        if (wantSub)
            encodeFor(false, subScene, subEncoder);

        int unit = 0;
        const bool withUnit = m_camera.unitCode(unit);
        const std::vector<uint8_t> thermal
            = buildThermalFrame(thermalScene.renderThermal(sceneMs, mirror), thermalCounter++, unit, withUnit);
        const WireMessage tm = buildFrameMessage(10, Fps, pts, thermal.data(), thermal.size());
        for (const auto& v : viewers)
            v->offer(tm, Viewer::Kind::Temperature, false, pts);

        if (audioType < 0 || !audio.ok())
            continue;
        // Keep the sound one picture ahead of the clock.
        const int64_t elapsedMs = (tick + 1) * FrameMs;
        for (int round = 0; round < 16 && audioSamples * 1000 / audio.sampleRate() < elapsedMs; ++round) {
            Person p;
            const bool chime
                = m_camera.crowd().personAt(sceneMs, p) && sceneMs >= p.measureMs && sceneMs < p.measureMs + 400;
            std::vector<EncodedAudio> frames;
            if (!audio.encodeNext(chime, frames))
                break;
            audioSamples += audio.samplesPerFrame();
            if (!wantAudio)
                continue;
            for (const EncodedAudio& a : frames) {
                const int64_t apts = startLocalMs + a.firstSample * 1000 / audio.sampleRate();
                const WireMessage am = buildFrameMessage(audioType, audioRate, apts, a.data.data(), a.data.size());
                for (const auto& v : viewers)
                    v->offer(am, Viewer::Kind::Audio, false, apts);
            }
        }
    }
    logLine(m_camera.address() + " stream stopped");
}

} // namespace camsim
