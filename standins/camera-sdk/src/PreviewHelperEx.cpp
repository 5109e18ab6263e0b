#include "KV_DevicePreview.h"

#include "Protocol.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace KV {
namespace Protocol {
namespace Device {

namespace {

constexpr int FirstBackoffMs = 200;
constexpr int MaxBackoffMs = 5000;
// A stream that carries nothing for this long is taken as dead.
constexpr int StallMs = 8000;

} // namespace

struct PreviewHelperEx::Private {
    LoginInfo login;
    FrameCallback callback;
    kvnet::CancelPipe cancel;
    std::thread receiver;

    std::mutex mutex; // guards the fields below
    std::condition_variable wake;
    bool stopping = false;
    bool receiverSet = false; // `receiver` holds this thread
    bool orphaned = false; // the helper is gone; the receiver frees this state
    bool audioOn = false;
    bool audioChanged = false;
    int mirrorRequests = 0;
    bool hd = true;

    std::atomic<int> width { 0 };
    std::atomic<int> height { 0 };

    PreviewResult open(kvnet::Socket& s, int timeoutMs);
    void receive(kvnet::Socket s);
    bool sendRequests(kvnet::Socket& s);
    bool waitBackoff(int ms);
};

PreviewHelperEx::PreviewHelperEx(const LoginInfo& info, FrameCallback callback)
    : d(new Private)
{
    d->login = info;
    d->callback = std::move(callback);
}

PreviewHelperEx::~PreviewHelperEx()
{
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->stopping = true;
    }
    d->wake.notify_all();
    d->cancel.cancel();
    if (!d->receiver.joinable())
        return;
    if (d->receiver.get_id() == std::this_thread::get_id()) {
        // Deleted from inside the callback: joining would wait for ever. The
        // thread ends once the callback returns; its state must outlive it.
        d->receiver.detach();
        d->orphaned = true;
        [[maybe_unused]] Private* freedByTheReceiver = d.release();
        return;
    }
    d->receiver.join();
}

PreviewResult PreviewHelperEx::Private::open(kvnet::Socket& s, int timeoutMs)
{
    const Info& dev = login.device;
    if (dev.address.empty() || dev.port <= 0 || dev.port > 65535)
        return Code::PreviewRefused;
    const int64_t deadline = kvnet::monotonicMs() + timeoutMs;
    auto left = [deadline] { return static_cast<int>(std::max<int64_t>(1, deadline - kvnet::monotonicMs())); };
    kvnet::IoResult r = s.connectTo(dev.address, static_cast<uint16_t>(dev.port), timeoutMs, &cancel);
    if (r != kvnet::IoResult::Ok)
        return r == kvnet::IoResult::Timeout ? Code::PreviewTimeout : Code::PreviewConnectFailed;
    kvwire::ByteWriter w;
    w.i32(login.loginValue);
    {
        std::lock_guard<std::mutex> lock(mutex);
        w.u8(hd ? 0 : 1);
        w.u8(audioOn ? 1 : 0);
        audioChanged = false;
    }
    r = kvproto::sendMessage(s, kvproto::PreviewOpen, w.data(), left(), &cancel);
    kvproto::Message m;
    if (r == kvnet::IoResult::Ok)
        r = kvproto::readMessage(s, m, left(), &cancel);
    if (r != kvnet::IoResult::Ok)
        return r == kvnet::IoResult::Timeout ? Code::PreviewTimeout : Code::PreviewConnectFailed;
    kvwire::ByteReader rd(m.payload);
    const int32_t result = rd.i32();
    const int32_t w1 = rd.i32();
    const int32_t h1 = rd.i32();
    if (m.type != kvproto::PreviewAnswer || !rd.ok())
        return Code::PreviewConnectFailed;
    if (result != Code::PreviewOk)
        return result;
    if (w1 > 0 && w1 <= 16384 && h1 > 0 && h1 <= 16384) {
        width = w1;
        height = h1;
    }
    return Code::PreviewOk;
}

PreviewResult PreviewHelperEx::Start(bool isHD)
{
    if (d->receiver.joinable())
        return Code::PreviewAlreadyStarted;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->hd = isHD;
    }
    kvnet::Socket s;
    const PreviewResult r = d->open(s, kvproto::envTimeoutMs("KVSDK_PREVIEW_TIMEOUT_MS", 5000));
    if (r != Code::PreviewOk)
        return r;
    d->receiver = std::thread([p = d.get(), sock = std::move(s)]() mutable {
        p->receive(std::move(sock));
        // Only this thread can set `orphaned` (from inside its callback).
        if (p->orphaned)
            delete p;
    });
    {
        // The receiver waits for this, so its own uses of `receiver` come after the assignment.
        // Nothing of the helper is touched after this block: a callback may
        // delete it as soon as the lock is released.
        std::lock_guard<std::mutex> lock(d->mutex);
        d->receiverSet = true;
        d->wake.notify_all();
    }
    return Code::PreviewOk;
}

void PreviewHelperEx::SetAudioState(bool on)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    if (d->audioOn != on) {
        d->audioOn = on;
        d->audioChanged = true;
    }
}

void PreviewHelperEx::SetReverse()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    ++d->mirrorRequests;
}

int PreviewHelperEx::width() const
{
    return d->width;
}

int PreviewHelperEx::height() const
{
    return d->height;
}

// Hands pending switches to the camera; false when the connection broke.
bool PreviewHelperEx::Private::sendRequests(kvnet::Socket& s)
{
    bool audio = false;
    bool sendAudio = false;
    int mirrors = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        sendAudio = audioChanged;
        audio = audioOn;
        audioChanged = false;
        mirrors = mirrorRequests;
        mirrorRequests = 0;
    }
    if (sendAudio) {
        kvwire::ByteWriter w;
        w.u8(audio ? 1 : 0);
        if (kvproto::sendMessage(s, kvproto::PreviewSetAudio, w.data(), 2000, &cancel) != kvnet::IoResult::Ok)
            return false;
    }
    for (int i = 0; i < mirrors; ++i)
        if (kvproto::sendMessage(s, kvproto::PreviewMirror, {}, 2000, &cancel) != kvnet::IoResult::Ok)
            return false;
    return true;
}

bool PreviewHelperEx::Private::waitBackoff(int ms)
{
    std::unique_lock<std::mutex> lock(mutex);
    return !wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping; });
}

// The receiver thread: frames to the callback; reconnects with growing
// pauses while the helper lives.
void PreviewHelperEx::Private::receive(kvnet::Socket s)
{
    {
        std::unique_lock<std::mutex> lock(mutex);
        wake.wait(lock, [this] { return receiverSet || stopping; });
    }
    int backoffMs = FirstBackoffMs;
    int64_t lastData = kvnet::monotonicMs();
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (stopping)
                return;
        }
        if (!s.valid()) {
            if (!waitBackoff(backoffMs))
                return;
            backoffMs = std::min(backoffMs * 2, MaxBackoffMs);
            if (open(s, 3000) != Code::PreviewOk) {
                s.close();
                continue;
            }
            lastData = kvnet::monotonicMs();
        }
        if (!sendRequests(s)) {
            s.close();
            continue;
        }
        const kvnet::IoResult ready = s.waitReadable(100, &cancel);
        if (ready == kvnet::IoResult::Cancelled)
            return;
        if (ready == kvnet::IoResult::Timeout) {
            if (kvnet::monotonicMs() - lastData > StallMs)
                s.close();
            continue;
        }
        kvproto::Message m;
        const kvnet::IoResult r = ready == kvnet::IoResult::Ok ? kvproto::readMessage(s, m, 3000, &cancel) : ready;
        if (r == kvnet::IoResult::Cancelled)
            return;
        if (r != kvnet::IoResult::Ok) {
            s.close();
            continue;
        }
        lastData = kvnet::monotonicMs();
        backoffMs = FirstBackoffMs;
        if (m.type != kvproto::PreviewFrame)
            continue;
        kvwire::ByteReader rd(m.payload);
        FrameData frame;
        if (!kvproto::readFrame(rd, frame))
            continue;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (stopping)
                return;
        }
        if (callback)
            callback(frame);
    }
}

} // namespace Device
} // namespace Protocol
} // namespace KV
