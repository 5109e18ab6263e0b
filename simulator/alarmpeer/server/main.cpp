// alarmpeer-server: runs an alarm-service peer on a loopback address for a
// bounded time, so that fixlink-cli (or any client) can be tried by hand.
// Prints "login-port P" once listening; then, once a second, sends a
// temperature alarm to every authenticated session when --alarms is given.

#include <alarmpeer/AlarmPeer.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>

namespace {

void usage()
{
    std::fprintf(stderr,
        "usage: alarmpeer-server [--address A] [--port P] [--seconds N] [--alarms]\n"
        "                        [--key-change-ms MS] [--deny | --refuse | --reject-auth]\n");
}

// A whole decimal number within [low, high], or false.
bool number(const char* text, long low, long high, long& value)
{
    errno = 0;
    char* end = nullptr;
    const long parsed = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || parsed < low || parsed > high)
        return false;
    value = parsed;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    alarmpeer::AlarmPeer::Options options;
    int seconds = 30;
    bool alarms = false;
    alarmpeer::LoginMode loginMode = alarmpeer::LoginMode::Normal;
    alarmpeer::AuthMode authMode = alarmpeer::AuthMode::Accept;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        long value = 0;
        if (arg == "--address" && hasValue)
            options.address = argv[++i];
        else if (arg == "--port" && hasValue && number(argv[++i], 0, 65535, value))
            options.loginPort = static_cast<std::uint16_t>(value);
        else if (arg == "--seconds" && hasValue && number(argv[++i], 1, 24L * 3600, value))
            seconds = static_cast<int>(value);
        else if (arg == "--key-change-ms" && hasValue && number(argv[++i], 0, 24L * 3600 * 1000, value))
            options.keyChangeInterval = std::chrono::milliseconds(value);
        else if (arg == "--alarms")
            alarms = true;
        else if (arg == "--deny")
            loginMode = alarmpeer::LoginMode::Deny1018;
        else if (arg == "--refuse")
            loginMode = alarmpeer::LoginMode::Refuse;
        else if (arg == "--reject-auth")
            authMode = alarmpeer::AuthMode::Reject;
        else {
            usage();
            return 2;
        }
    }
    alarmpeer::AlarmPeer peer(options);
    peer.setLoginMode(loginMode);
    peer.setAuthMode(authMode);
    if (!peer.start()) {
        std::fprintf(
            stderr, "alarmpeer-server: cannot listen on %s (loopback addresses only)\n", options.address.c_str());
        return 1;
    }
    std::printf("login-port %u\n", peer.loginPort());
    std::fflush(stdout);

    int temperature = 360;
    for (int s = 0; s < seconds; ++s) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        if (alarms) {
            temperature = temperature >= 380 ? 360 : temperature + 1;
            peer.sendTempAlarm(temperature >= 373 ? 1 : 0, temperature, std::time(nullptr));
        }
    }
    peer.stop();
    return 0;
}
