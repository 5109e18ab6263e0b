// The camera SDK's stream against camsim: frame kinds, time stamps, sizes,
// the audio and mirror switches, reconnection, and prompt deletion.

#include "CamsimProcess.h"
#include "TestPatience.h"

#include "KV_DeviceLogin.h"
#include "KV_DevicePreview.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>

using namespace KV::Protocol::Device;
using Clock = std::chrono::steady_clock;

namespace {

int64_t utcMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// Everything a stream delivered, for the checks below.
class Recorder {
public:
    void onFrame(const FrameData& f)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_frames.push_back({ f, Clock::now() });
        m_changed.notify_all();
    }
    template <typename Pred> bool waitFor(Pred done, std::chrono::milliseconds timeout)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return done(m_frames); });
    }
    struct Entry {
        FrameData frame;
        Clock::time_point at;
    };
    std::vector<Entry> frames()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_frames;
    }
    size_t count()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_frames.size();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Entry> m_frames;
};

size_t countType(const std::vector<Recorder::Entry>& frames, int type)
{
    size_t n = 0;
    for (const auto& e : frames)
        n += e.frame.frameType == type ? 1 : 0;
    return n;
}

// A logged-in camsim camera with a stream helper feeding a recorder.
struct Session {
    explicit Session(std::vector<std::string> extra)
    {
        extra.push_back("--no-alarms");
        sim = std::make_unique<CamsimProcess>(camsimArgs(extra));
        if (!sim->ready() || sim->cameras().empty())
            return;
        login = std::make_unique<LoginHelperEx>(cameraInfo(sim->cameras()[0]), "admin", "", false);
        if (login->Login() != 1001)
            return;
        preview = std::make_unique<PreviewHelperEx>(login->info(), [this](const FrameData& f) { rec.onFrame(f); });
    }
    std::unique_ptr<CamsimProcess> sim;
    std::unique_ptr<LoginHelperEx> login;
    Recorder rec;
    std::unique_ptr<PreviewHelperEx> preview;
};

// Decodes one key frame with libavcodec; returns the picture's size and the
// mean luma of a column band at `xShare` of the width, at mid-height.
struct Decoded {
    int width = 0;
    int height = 0;
    double band = -1;
};

Decoded decodeKey(AVCodecID id, const std::vector<uint8_t>& payload, double xShare)
{
    Decoded out;
    const AVCodec* codec = avcodec_find_decoder(id);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    if (ctx && pkt && frame && avcodec_open2(ctx, codec, nullptr) == 0) {
        std::vector<uint8_t> buf(payload);
        buf.resize(payload.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        pkt->data = buf.data();
        pkt->size = static_cast<int>(payload.size());
        int r = avcodec_send_packet(ctx, pkt);
        if (r >= 0)
            avcodec_send_packet(ctx, nullptr); // flush: the one picture comes out now
        if (r >= 0 && avcodec_receive_frame(ctx, frame) == 0) {
            out.width = frame->width;
            out.height = frame->height;
            const int x0 = static_cast<int>(xShare * frame->width);
            const int y = frame->height / 2;
            double sum = 0;
            for (int x = x0; x < x0 + 20; ++x)
                sum += frame->data[0][y * frame->linesize[0] + x];
            out.band = sum / 20;
        }
    }
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);
    return out;
}

void expectPlausibleStamps(const std::vector<Recorder::Entry>& frames, int type, int timezoneHours)
{
    const int64_t expected = utcMs() + int64_t(timezoneHours) * 3600000;
    int64_t last = 0;
    for (const auto& e : frames) {
        if (e.frame.frameType != type)
            continue;
        EXPECT_NEAR(static_cast<double>(e.frame.timestamp), static_cast<double>(expected), 10000.0) << type;
        EXPECT_GE(e.frame.timestamp, last) << "time stamps of type " << type << " go back";
        last = e.frame.timestamp;
    }
}

} // namespace

TEST(Preview, H264WithTemperatureAndG711)
{
    Session s({ "--timezone", "-5" });
    ASSERT_TRUE(s.preview) << s.sim->log();
    s.preview->SetAudioState(true);
    ASSERT_EQ(s.preview->Start(true), 0);
    EXPECT_EQ(s.preview->Start(true), Code::PreviewAlreadyStarted);
    EXPECT_EQ(s.preview->width(), 1920);
    EXPECT_EQ(s.preview->height(), 1080);
    ASSERT_TRUE(s.rec.waitFor([](const auto& f) { return countType(f, 0) >= 2 && countType(f, 26) >= 10; },
        std::chrono::seconds(patient(10))));
    const auto frames = s.rec.frames();
    EXPECT_GE(countType(frames, 1), 20u);
    EXPECT_GE(countType(frames, 10), 20u);
    EXPECT_EQ(countType(frames, 40) + countType(frames, 41), 0u);
    // The stream starts at a key frame, and one comes every 25 pictures.
    size_t firstVideo = 0;
    while (frames[firstVideo].frame.frameType != 0 && frames[firstVideo].frame.frameType != 1)
        ++firstVideo;
    EXPECT_EQ(frames[firstVideo].frame.frameType, 0);
    int sinceKey = -1;
    for (const auto& e : frames) {
        if (e.frame.frameType == 0) {
            if (sinceKey >= 0)
                EXPECT_EQ(sinceKey, 24);
            sinceKey = 0;
        } else if (e.frame.frameType == 1) {
            ++sinceKey;
        }
    }
    expectPlausibleStamps(frames, 0, -5);
    expectPlausibleStamps(frames, 10, -5);
    expectPlausibleStamps(frames, 26, -5);
    for (const auto& e : frames) {
        const auto& d = e.frame.data;
        if (e.frame.frameType == 10) {
            ASSERT_EQ(d.size(), 16u + 256 * 192 * 2);
            EXPECT_EQ(d[1], 16);
            EXPECT_EQ(d[2] | (d[3] << 8), 256);
            EXPECT_EQ(d[4] | (d[5] << 8), 192);
            EXPECT_EQ(d[10], 10); // Celsius, switch allowed
            for (size_t i = 16; i < d.size(); i += 2) {
                const int v = static_cast<int16_t>(d[i] | (d[i + 1] << 8));
                ASSERT_GE(v, -3);
                ASSERT_LT(v, 297);
            }
        } else if (e.frame.frameType == 26) {
            EXPECT_EQ(d.size(), 320u);
            EXPECT_EQ(e.frame.frameRate, 25);
        } else if (e.frame.frameType == 0) {
            // Annex-B with the parameter sets first.
            ASSERT_GT(d.size(), 5u);
            EXPECT_EQ(d[0] | d[1] | d[2], 0);
            EXPECT_EQ(d[3], 1);
            EXPECT_EQ(d[4] & 0x1f, 7);
        }
    }
    const Decoded pic = decodeKey(AV_CODEC_ID_H264, frames[firstVideo].frame.data, 0.1);
    EXPECT_EQ(pic.width, 1920);
    EXPECT_EQ(pic.height, 1080);
}

TEST(Preview, H265WithAacAndSubStream)
{
    Session s({ "--codec", "h265", "--audio", "aac", "--unit", "f" });
    ASSERT_TRUE(s.preview) << s.sim->log();
    s.preview->SetAudioState(true);
    ASSERT_EQ(s.preview->Start(false), 0);
    EXPECT_EQ(s.preview->width(), 640);
    EXPECT_EQ(s.preview->height(), 360);
    ASSERT_TRUE(s.rec.waitFor(
        [](const auto& f) { return countType(f, 40) >= 1 && countType(f, 41) >= 10 && countType(f, 24) >= 10; },
        std::chrono::seconds(patient(10))));
    const auto frames = s.rec.frames();
    EXPECT_EQ(countType(frames, 0) + countType(frames, 1), 0u);
    for (const auto& e : frames) {
        const auto& d = e.frame.data;
        if (e.frame.frameType == 24) {
            // ADTS: sync word, 32 kHz (index 5), mono, length field = frame size.
            ASSERT_GT(d.size(), 7u);
            EXPECT_EQ(d[0], 0xff);
            EXPECT_EQ(d[1] & 0xf0, 0xf0);
            EXPECT_EQ((d[2] >> 2) & 0xf, 5);
            EXPECT_EQ(((d[3] & 3) << 11) | (d[4] << 3) | (d[5] >> 5), static_cast<int>(d.size()));
        } else if (e.frame.frameType == 10) {
            EXPECT_EQ(d[10], 1); // Fahrenheit
        }
    }
    for (const auto& e : frames)
        if (e.frame.frameType == 40) {
            const Decoded pic = decodeKey(AV_CODEC_ID_HEVC, e.frame.data, 0.1);
            EXPECT_EQ(pic.width, 640);
            EXPECT_EQ(pic.height, 360);
            break;
        }
}

TEST(Preview, PcmAndAdpcmFrames)
{
    for (const char* kind : { "pcm", "adpcm" }) {
        Session s({ "--audio", kind, "--legacy-config" });
        ASSERT_TRUE(s.preview) << s.sim->log();
        s.preview->SetAudioState(true);
        ASSERT_EQ(s.preview->Start(true), 0);
        const int type = std::string(kind) == "pcm" ? 21 : 22;
        ASSERT_TRUE(
            s.rec.waitFor([type](const auto& f) { return countType(f, type) >= 8; }, std::chrono::seconds(patient(10))))
            << kind;
        const auto frames = s.rec.frames();
        for (const auto& e : frames) {
            if (e.frame.frameType == 21)
                EXPECT_EQ(e.frame.data.size(), 640u);
            if (e.frame.frameType == 22)
                EXPECT_EQ(e.frame.data.size(), 256u);
            if (e.frame.frameType == 10)
                EXPECT_EQ(e.frame.data.at(1), 10); // no unit byte without a thermal block
        }
        // 8000 samples a second: the stamps advance by the frame's length.
        std::vector<int64_t> stamps;
        for (const auto& e : frames)
            if (e.frame.frameType == type)
                stamps.push_back(e.frame.timestamp);
        const int64_t step = type == 21 ? 40 : 63;
        for (size_t i = 1; i < stamps.size(); ++i)
            EXPECT_NEAR(static_cast<double>(stamps[i] - stamps[i - 1]), static_cast<double>(step), 1.0) << kind;
    }
}

TEST(Preview, AudioAndMirrorSwitchesChangeTheStream)
{
    Session s({});
    ASSERT_TRUE(s.preview) << s.sim->log();
    ASSERT_EQ(s.preview->Start(true), 0);
    ASSERT_TRUE(s.rec.waitFor([](const auto& f) { return countType(f, 0) >= 1 && countType(f, 10) >= 30; },
        std::chrono::seconds(patient(10))));
    EXPECT_EQ(countType(s.rec.frames(), 26), 0u) << "audio is off until switched on";
    const auto plain = s.rec.frames();
    Decoded before;
    for (const auto& e : plain)
        if (e.frame.frameType == 0)
            before = decodeKey(AV_CODEC_ID_H264, e.frame.data, 0.12);

    s.preview->SetAudioState(true);
    s.preview->SetReverse();
    ASSERT_TRUE(s.sim->waitForLog("mirror on", std::chrono::seconds(patient(5))));
    const size_t mark = s.rec.count();
    ASSERT_TRUE(s.rec.waitFor(
        [mark](const auto& f) {
            return countType({ f.begin() + static_cast<long>(mark), f.end() }, 0) >= 1 && countType(f, 26) >= 5;
        },
        std::chrono::seconds(patient(10))));
    const auto after = s.rec.frames();
    Decoded mirrored;
    Decoded mirroredRight;
    for (size_t i = mark; i < after.size(); ++i)
        if (after[i].frame.frameType == 0) {
            mirrored = decodeKey(AV_CODEC_ID_H264, after[i].frame.data, 0.12);
            mirroredRight = decodeKey(AV_CODEC_ID_H264, after[i].frame.data, 0.87);
            break;
        }
    // The dark doorway on the left moves to the right.
    ASSERT_GT(before.band, 0);
    EXPECT_LT(before.band, 80);
    EXPECT_GT(mirrored.band, 100);
    EXPECT_LT(mirroredRight.band, 80);

    s.preview->SetAudioState(false);
    ASSERT_TRUE(s.sim->waitForLog("audio off", std::chrono::seconds(patient(5))));
    // One connection carries everything in order: sound sent before the
    // switch arrives before the pictures sent after it, and then none comes.
    const auto pictures = [](const std::vector<Recorder::Entry>& f) { return f.size() - countType(f, 26); };
    const size_t switched = pictures(s.rec.frames());
    ASSERT_TRUE(s.rec.waitFor(
        [&](const auto& f) { return pictures(f) >= switched + 10; }, std::chrono::milliseconds(patient(10000))));
    const size_t audioBefore = countType(s.rec.frames(), 26);
    ASSERT_TRUE(s.rec.waitFor(
        [&](const auto& f) { return pictures(f) >= switched + 25; }, std::chrono::milliseconds(patient(10000))));
    EXPECT_EQ(countType(s.rec.frames(), 26), audioBefore);
}

TEST(Preview, ResumesByItselfAfterTheCameraDropsConnections)
{
    Session s({ "--drop-after", "1" });
    ASSERT_TRUE(s.preview) << s.sim->log();
    ASSERT_EQ(s.preview->Start(true), 0);
    const auto started = Clock::now();
    ASSERT_TRUE(s.sim->waitForLog("preview closed", std::chrono::seconds(patient(5))));
    // Frames come again on a new connection, starting at a key frame.
    ASSERT_TRUE(s.rec.waitFor(
        [started](const auto& f) { return !f.empty() && f.back().at - started > std::chrono::milliseconds(2500); },
        std::chrono::seconds(patient(10))))
        << s.sim->log();
    EXPECT_GE(s.sim->countLog("preview opened"), 2u);
    // The login survived its dropped control connection.
    EXPECT_GE(s.sim->countLog("login resumed: ok"), 1u);
}

TEST(Preview, StartIsRefusedForAnEndedLoginAndWhenNothingListens)
{
    Session s({});
    ASSERT_TRUE(s.preview) << s.sim->log();
    LoginInfo stale = s.login->info();
    stale.loginValue ^= 0x5a5a;
    PreviewHelperEx refused(stale, [](const FrameData&) {});
    EXPECT_EQ(refused.Start(true), Code::PreviewRefused);
    LoginInfo nowhere = s.login->info();
    nowhere.device.address = loopbackAddress(uniqueLoopbackBase(), 77);
    PreviewHelperEx none(nowhere, [](const FrameData&) {});
    EXPECT_EQ(none.Start(true), Code::PreviewConnectFailed);
}

TEST(Preview, DeletingWhileFramesFlowIsPromptAndFinal)
{
    Session s({});
    ASSERT_TRUE(s.preview) << s.sim->log();
    std::atomic<bool> deleted { false };
    std::atomic<int> late { 0 };
    std::atomic<int> calls { 0 };
    LoginInfo info = s.login->info();
    for (int round = 0; round < 3; ++round) {
        deleted = false;
        calls = 0;
        auto helper = std::make_unique<PreviewHelperEx>(info, [&](const FrameData&) {
            if (deleted)
                ++late;
            ++calls;
            // A slow consumer keeps the callback busy when the delete comes.
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        });
        ASSERT_EQ(helper->Start(true), 0);
        const auto t0 = Clock::now();
        while (calls < 20 && Clock::now() - t0 < std::chrono::seconds(patient(10)))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_GE(calls, 20);
        const auto d0 = Clock::now();
        helper.reset();
        deleted = true;
        EXPECT_LT(Clock::now() - d0, std::chrono::milliseconds(patient(500)));
    }
    // A helper's connection closes when its receiver has ended, after the
    // last call it made.
    EXPECT_EQ(s.sim->waitForLogCount("preview closed", 3, std::chrono::milliseconds(patient(5000))), 3u);
    EXPECT_EQ(late, 0);

    // Deleted from inside its own callback: no hang, and that call is the last.
    std::atomic<int> selfCalls { 0 };
    std::atomic<PreviewHelperEx*> self { nullptr };
    auto* owned = new PreviewHelperEx(info, [&](const FrameData&) {
        if (++selfCalls == 5)
            delete self.exchange(nullptr);
    });
    self = owned;
    ASSERT_EQ(owned->Start(true), 0);
    const auto selfDeadline = Clock::now() + std::chrono::milliseconds(patient(5000));
    while (self.load() && Clock::now() < selfDeadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(self.load(), nullptr);
    EXPECT_EQ(s.sim->waitForLogCount("preview closed", 4, std::chrono::milliseconds(patient(5000))), 4u);
    EXPECT_EQ(selfCalls, 5);

    // A helper that never started, and one whose camera went away, go quietly too.
    {
        PreviewHelperEx idle(info, [](const FrameData&) {});
    }
    auto orphan = std::make_unique<PreviewHelperEx>(info, [](const FrameData&) {});
    ASSERT_EQ(orphan->Start(true), 0);
    s.sim->stop();
    // Not a wait for an event: any moment after camsim's exit finds the
    // helper reconnecting. Counted from the exit, this one falls well inside
    // its fourth pause between attempts (200, 400, 800, then 1600 ms), where
    // a delete that waited for the pause to end would take over a second.
    std::this_thread::sleep_for(std::chrono::milliseconds(patient(1900)));
    const auto d0 = Clock::now();
    orphan.reset();
    EXPECT_LT(Clock::now() - d0, std::chrono::milliseconds(patient(500)));
}

TEST(Preview, ViewersOfOneCameraShareOneStream)
{
    Session s({});
    ASSERT_TRUE(s.preview) << s.sim->log();
    EXPECT_EQ(s.sim->countLog("stream started"), 0u) << "nothing is encoded before anyone watches";
    Recorder second;
    PreviewHelperEx other(s.login->info(), [&second](const FrameData& f) { second.onFrame(f); });
    ASSERT_EQ(s.preview->Start(true), 0);
    ASSERT_EQ(other.Start(true), 0);
    auto enough = [](const auto& f) { return countType(f, 0) >= 1 && countType(f, 1) >= 10; };
    ASSERT_TRUE(s.rec.waitFor(enough, std::chrono::seconds(patient(10))));
    ASSERT_TRUE(second.waitFor(enough, std::chrono::seconds(patient(10))));
    EXPECT_EQ(s.sim->countLog("stream started"), 1u);
    // Both got the same coded pictures.
    const auto a = s.rec.frames();
    const auto b = second.frames();
    auto firstKey = [](const std::vector<Recorder::Entry>& f) {
        for (const auto& e : f)
            if (e.frame.frameType == 0)
                return e.frame;
        return FrameData {};
    };
    const FrameData ka = firstKey(a);
    bool shared = false;
    for (const auto& e : b)
        shared = shared || (e.frame.frameType == 0 && e.frame.timestamp == ka.timestamp && e.frame.data == ka.data);
    if (!shared) {
        const FrameData kb = firstKey(b);
        for (const auto& e : a)
            shared = shared || (e.frame.frameType == 0 && e.frame.timestamp == kb.timestamp && e.frame.data == kb.data);
    }
    EXPECT_TRUE(shared);

    // The stream stops when the last viewer goes.
    s.preview.reset();
    EXPECT_EQ(s.sim->countLog("stream stopped"), 0u);
}
