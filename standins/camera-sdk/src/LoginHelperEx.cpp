#include "KV_DeviceLogin.h"

#include "Protocol.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace KV {
namespace Protocol {
namespace Device {

namespace {

constexpr int HeartbeatPeriodMs = 2000;
constexpr int MaxBackoffMs = 5000;

int32_t codeFor(kvnet::IoResult r)
{
    switch (r) {
    case kvnet::IoResult::Timeout:
        return Code::Timeout;
    case kvnet::IoResult::Ok:
        return Code::Success;
    default:
        return Code::ConnectFailed;
    }
}

} // namespace

struct LoginHelperEx::Private {
    Info device;
    std::string user;
    std::string password;
    bool flag = false;

    mutable std::mutex mutex; // guards info and the keeper's stop flag
    LoginInfo info;
    bool stopping = false;
    std::condition_variable wake;
    kvnet::CancelPipe cancel;
    std::thread keeper;
    kvnet::Socket control; // owned by Login() until the keeper starts, then by the keeper

    void stopKeeper();
    void keep();
    bool resume(kvnet::Socket& s, int32_t loginValue);
};

LoginHelperEx::LoginHelperEx(const Info& info, const std::string& user, const std::string& password, bool flag)
    : d(new Private)
{
    d->device = info;
    d->user = user;
    d->password = password;
    d->flag = flag;
    d->info.device = info;
}

LoginHelperEx::~LoginHelperEx()
{
    d->stopKeeper();
}

void LoginHelperEx::Private::stopKeeper()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    cancel.cancel();
    if (keeper.joinable())
        keeper.join();
}

LoginResult LoginHelperEx::Login()
{
    if (d->keeper.joinable())
        return Code::Success; // already logged in; the keeper holds the login
    if (d->device.address.empty() || d->device.port <= 0 || d->device.port > 65535)
        return Code::InvalidArgument;
    const int timeoutMs = kvproto::envTimeoutMs("KVSDK_LOGIN_TIMEOUT_MS", 5000);
    const int64_t deadline = kvnet::monotonicMs() + timeoutMs;

    kvnet::Socket s;
    kvnet::IoResult r = s.connectTo(d->device.address, static_cast<uint16_t>(d->device.port), timeoutMs, &d->cancel);
    if (r != kvnet::IoResult::Ok)
        return codeFor(r);

    kvwire::ByteWriter w;
    w.str(d->user);
    w.str(d->password);
    w.u8(d->flag ? 1 : 0);
    auto left = [deadline] { return static_cast<int>(std::max<int64_t>(1, deadline - kvnet::monotonicMs())); };
    r = kvproto::sendMessage(s, kvproto::LoginRequest, w.data(), left(), &d->cancel);
    if (r != kvnet::IoResult::Ok)
        return codeFor(r);
    kvproto::Message m;
    r = kvproto::readMessage(s, m, left(), &d->cancel);
    if (r != kvnet::IoResult::Ok)
        return r == kvnet::IoResult::Error ? Code::ProtocolError : codeFor(r);
    if (m.type != kvproto::LoginAnswer)
        return Code::ProtocolError;
    kvwire::ByteReader rd(m.payload);
    const int32_t result = rd.i32();
    if (!rd.ok())
        return Code::ProtocolError;
    if (result != Code::Success)
        return result;
    LoginInfo info;
    info.device = d->device;
    if (!kvproto::readLoginInfo(rd, info))
        return Code::ProtocolError;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->info = info;
    }
    d->control = std::move(s);
    d->keeper = std::thread([p = d.get()] { p->keep(); });
    return Code::Success;
}

LoginInfo LoginHelperEx::info() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->info;
}

bool LoginHelperEx::Private::resume(kvnet::Socket& s, int32_t loginValue)
{
    if (s.connectTo(device.address, static_cast<uint16_t>(device.port), 2000, &cancel) != kvnet::IoResult::Ok)
        return false;
    kvwire::ByteWriter w;
    w.i32(loginValue);
    if (kvproto::sendMessage(s, kvproto::ResumeRequest, w.data(), 2000, &cancel) != kvnet::IoResult::Ok)
        return false;
    kvproto::Message m;
    if (kvproto::readMessage(s, m, 2000, &cancel) != kvnet::IoResult::Ok || m.type != kvproto::LoginAnswer)
        return false;
    kvwire::ByteReader rd(m.payload);
    return rd.i32() == Code::Success && rd.ok();
}

// Keeps the control connection alive: a heartbeat every two seconds, and a
// resumed connection (same login value) when the camera drops it.
void LoginHelperEx::Private::keep()
{
    int32_t loginValue = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        loginValue = info.loginValue;
    }
    int backoffMs = 200;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            if (stopping)
                break;
        }
        if (!control.valid()) {
            kvnet::Socket s;
            if (resume(s, loginValue)) {
                control = std::move(s);
                backoffMs = 200;
            } else {
                std::unique_lock<std::mutex> lock(mutex);
                wake.wait_for(lock, std::chrono::milliseconds(backoffMs), [this] { return stopping; });
                backoffMs = std::min(backoffMs * 2, MaxBackoffMs);
                continue;
            }
        }
        if (kvproto::sendMessage(control, kvproto::Heartbeat, {}, 2000, &cancel) != kvnet::IoResult::Ok) {
            control.close();
            continue;
        }
        // Read answers until the next heartbeat is due.
        const int64_t due = kvnet::monotonicMs() + HeartbeatPeriodMs;
        bool broken = false;
        for (int64_t left = HeartbeatPeriodMs; left > 0 && !broken; left = due - kvnet::monotonicMs()) {
            const kvnet::IoResult r = control.waitReadable(static_cast<int>(left), &cancel);
            if (r == kvnet::IoResult::Timeout)
                break;
            if (r != kvnet::IoResult::Ok) {
                broken = r != kvnet::IoResult::Cancelled;
                if (!broken)
                    break;
                continue;
            }
            kvproto::Message m;
            broken = kvproto::readMessage(control, m, 2000, &cancel) != kvnet::IoResult::Ok;
        }
        if (broken)
            control.close();
    }
    if (control.valid())
        kvproto::sendMessage(control, kvproto::Logout, {}, 200);
    control.close();
}

} // namespace Device
} // namespace Protocol
} // namespace KV
