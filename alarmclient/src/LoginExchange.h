#pragma once
// LoginExchange: the short-lived exchange that turns a connect request into
// a session ticket (one 256-byte request, one 256-byte reply, then the
// connection is closed). Runs on the caller's thread.

#include "Wire.h"

#include <array>
#include <cstdint>

namespace fixlink {

struct Ticket {
    std::int32_t userId = 0;
    std::array<std::uint8_t, 16> password {};
    SessionKey key {};
    std::uint16_t sessionPort = 0;
};

struct LoginParams {
    const char* ip = nullptr;
    std::uint16_t port = 0;
    std::int32_t requestValueA = 0;
    std::int32_t requestValueB = 0;
    std::uint8_t requestFlag = 0;
};

// Exchange codes.
enum LoginCode {
    LoginOk = 0,
    LoginNoConnection = -1,
    LoginNotGranted = -2,
    LoginNotWritable = -3,
    LoginSendFailed = -4,
    LoginNoReply = -5,
    LoginShortReply = -6,
    LoginBadKind = -7,
    LoginDenied1018 = -8,
    LoginRefusedKind = -10,
};

// Returns LoginOk with `ticket` filled, or a negative LoginCode.
int runLoginExchange(const LoginParams& params, Ticket& ticket);

} // namespace fixlink
