// Logs in to a camera and keeps the login alive. Login() blocks the calling
// thread for at most the login time-out; afterwards a thread of the helper's
// own keeps the camera's control connection open (and re-opens it) until the
// helper is deleted, which ends the login on the camera.
#pragma once

#include "KV_DeviceTypes.h"

#include <memory>
#include <string>

namespace KV {
namespace Protocol {
namespace Device {

class LoginHelperEx {
public:
    // `flag` is kept for callers that pass it; it asks for nothing special.
    LoginHelperEx(const Info& info, const std::string& user, const std::string& password, bool flag);
    ~LoginHelperEx();
    LoginHelperEx(const LoginHelperEx&) = delete;
    LoginHelperEx& operator=(const LoginHelperEx&) = delete;

    // Code::Success (1001), Code::UnknownUser, Code::WrongPassword, or a
    // transport failure code. Bounded by $KVSDK_LOGIN_TIMEOUT_MS (default 5000).
    LoginResult Login();
    // Filled after a successful Login(); the connection description otherwise.
    LoginInfo info() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace Device
} // namespace Protocol
} // namespace KV
