#include <Fixlink/PCCFixlink.h>

#include "Console.h"
#include "LogSink.h"
#include "LoginExchange.h"
#include "MessageRouter.h"
#include "Session.h"

#include <cstring>
#include <exception>
#include <memory>
#include <string>

namespace kvtool {

// Callers fill the request as one zeroed 32-byte record, and the exported
// object must stay one pointer wide.
static_assert(sizeof(PCCFixlink::ReqInfo) == 32, "ReqInfo layout changed");
static_assert(sizeof(PCCFixlink) == sizeof(void*), "PCCFixlink must hold only its private pointer");
static_assert(sizeof(PCCFixlink::TempAlarmRecord) == 24, "TempAlarmRecord layout changed");

struct PCCFixlink::Private final : fixlink::SessionOwner {
    Private(const void* user, DataCallback data, StatusCallback status, LogCallback log)
        : user(user)
        , statusCallback(status)
        , logSink(user, log)
        , router(user, data, logSink)
    {
    }

    void onSessionStatus(int rawStatus) override
    {
        ConnectStatus status = Unknown;
        if (rawStatus == fixlink::SessionAuthenticated)
            status = Connected;
        else if (rawStatus == fixlink::SessionLost)
            status = Disconnected;
        fixlink::console("__connection_status_cb end\n");
        if (statusCallback)
            statusCallback(user, status);
    }

    void onSessionData(const std::uint8_t* data, std::uint16_t length, std::uint8_t dataKind) override
    {
        router.route(data, length, dataKind);
    }

    const void* user;
    StatusCallback statusCallback;
    fixlink::LogSink logSink;
    fixlink::MessageRouter router;
    std::unique_ptr<fixlink::Session> session;
    bool logSwitch = false;
};

namespace {

PCCFixlink::ResultCode mapLoginCode(int code)
{
    switch (code) {
    case fixlink::LoginOk:
        return PCCFixlink::Ok;
    case fixlink::LoginRefusedKind:
        return PCCFixlink::LoginRefused;
    case fixlink::LoginDenied1018:
        return PCCFixlink::LoginDenied;
    case fixlink::LoginBadKind:
        return PCCFixlink::BadLoginReply;
    default:
        return PCCFixlink::LoginFailed;
    }
}

} // namespace

PCCFixlink::PCCFixlink(
    const void* user, DataCallback dataCallback, StatusCallback statusCallback, LogCallback logCallback)
    : d(new Private(user, dataCallback, statusCallback, logCallback))
{
}

PCCFixlink::~PCCFixlink()
{
    // A caller that forgot Disconnect still gets its receiver thread joined
    // rather than left running on a freed record.
    delete d;
}

PCCFixlink::ResultCode PCCFixlink::Connect(const ReqInfo& info, int timeout)
{
    d->logSink.format("line:%d", __LINE__);
    if (d->session)
        return AlreadyConnected;

    char ip[32] = {};
    std::memcpy(ip, info.ip, sizeof info.ip); // the rest stays NUL even if info.ip is not terminated
    fixlink::LoginParams params;
    params.ip = ip;
    params.port = info.port;
    params.requestValueA = info.requestValueA;
    params.requestValueB = info.requestValueB;
    params.requestFlag = info.requestFlag;

    d->logSink.format("line:%d", __LINE__);
    fixlink::Ticket ticket;
    const int code = fixlink::runLoginExchange(params, ticket);
    fixlink::console("login handle:%d\n", code);
    d->logSink.format("line:%d  ###### iRet %d", __LINE__, code);
    if (code != fixlink::LoginOk)
        return mapLoginCode(code);

    d->logSink.format("line:%d", __LINE__);
    try {
        d->session = fixlink::Session::open(ip, ticket, timeout, d);
    } catch (const std::exception&) {
        d->session.reset(); // out of memory: no exception leaves the library
    }
    if (!d->session)
        return SessionFailed;
    if (!d->session->authenticated()) {
        // Refused, or no answer within the wait: the server will not serve
        // this session, so it is not handed to the caller as connected. A
        // refusal was reported as Disconnected; an unanswered Auth is not
        // reported at all.
        d->logSink.format("line:%d", __LINE__);
        d->session.reset();
        return SessionFailed;
    }
    d->logSink.format("line:%d", __LINE__);
    return Ok;
}

PCCFixlink::ResultCode PCCFixlink::Disconnect()
{
    d->logSink.format("line:%d", __LINE__);
    fixlink::Session* receiving = fixlink::Session::current();
    if (receiving && receiving->owner() == d) {
        // Called from inside one of our callbacks, possibly while Connect is
        // still running: the receiver thread cannot wait for itself. It is
        // told to stop; a Disconnect from elsewhere frees it.
        receiving->markClosing();
        d->logSink.format("line:%d", __LINE__);
        return Ok;
    }
    // Detach first: the session is gone for the caller even while it closes.
    std::unique_ptr<fixlink::Session> session = std::move(d->session);
    session.reset();
    d->logSink.format("line:%d", __LINE__);
    return Ok;
}

PCCFixlink::ResultCode PCCFixlink::GetAlarmParams()
{
    if (!d->session)
        return NotConnected;
    std::string request;
    try {
        request = fixlink::registrationRequest();
    } catch (const std::exception&) {
        return EncodeFailed;
    }
    d->logSink.text(request.c_str(), request.size());
    fixlink::console("pcc_client_send_msg_json_data\n%s\n", request.c_str());
    const int sent = d->session->send(fixlink::CommandRequest, fixlink::DataJson,
        reinterpret_cast<const std::uint8_t*>(request.data()), request.size());
    return sent == -1 ? SendFailed : Ok;
}

int PCCFixlink::WriteLogFile(bool on)
{
    // Kept for callers that set it; the log callback is called either way.
    d->logSwitch = on;
    return 0;
}

} // namespace kvtool
