#include "LoginExchange.h"

#include "Console.h"
#include "SocketIo.h"

namespace fixlink {

namespace {

constexpr Millis kConnectWait { 50 };
constexpr Millis kWritableWait { 2000 };
constexpr Millis kReplyWait { 5000 };

int exchange(SocketHandle socket, const LoginParams& params, Ticket& ticket)
{
    std::uint8_t record[kLoginRecordSize];
    buildLoginRequest(record, params.requestValueA, params.requestFlag, params.requestValueB);
    if (waitWritable(socket, kWritableWait) != 1)
        return LoginNotWritable;
    if (sendAll(socket, record, sizeof record, kWritableWait) != static_cast<long>(sizeof record))
        return LoginSendFailed;

    const int ready = waitReadable(socket, kReplyWait);
    console("sc_select:%d %d\n", ready, lastSocketError());
    if (ready != 1)
        return LoginNoReply;
    // The reply may arrive in pieces; it is complete or nothing.
    const bool whole = receiveExact(socket, record, sizeof record, kReplyWait);
    console("sc_recv:%d %d\n", whole ? static_cast<int>(sizeof record) : -1, lastSocketError());
    if (!whole)
        return LoginShortReply;

    const LoginReply reply = parseLoginReply(record);
    if (reply.kind != kLoginReplyKind)
        return reply.kind == kLoginRefusedKind ? LoginRefusedKind : LoginBadKind;
    console("login handle result:%d\n", reply.result);
    if (reply.result != kLoginGranted)
        return reply.userIdOrReason == kLoginReasonDenied ? LoginDenied1018 : LoginNotGranted;

    ticket.userId = reply.userIdOrReason;
    ticket.password = reply.password;
    ticket.key = reply.key;
    ticket.sessionPort = reply.sessionPort;
    // The password block need not end in a NUL.
    console("result:%u\n", static_cast<unsigned>(reply.result));
    console("usrid:%d pwd:%.16s ency_key:%d port:%d\n", ticket.userId,
        reinterpret_cast<const char*>(ticket.password.data()), ticket.key[0], ticket.sessionPort);
    return LoginOk;
}

} // namespace

int runLoginExchange(const LoginParams& params, Ticket& ticket)
{
    console("ip:%s port:%d\n", params.ip ? params.ip : "", params.port);
    SocketHandle socket = connectTo(params.ip, params.port, kConnectWait);
    if (socket == kInvalidSocket)
        return LoginNoConnection;
    const int code = exchange(socket, params, ticket);
    closeSocket(socket);
    return code;
}

} // namespace fixlink
