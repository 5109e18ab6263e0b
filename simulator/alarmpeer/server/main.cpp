// alarmpeer-server: runs an alarm-service peer on a loopback address for a
// bounded time, so that fixlink-cli (or any client) can be tried by hand.
// Prints "login-port P" once listening; then, once a second, sends a
// temperature alarm to every authenticated session when --alarms is given.

#include <alarmpeer/AlarmPeer.h>

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
        if (arg == "--address" && hasValue)
            options.address = argv[++i];
        else if (arg == "--port" && hasValue)
            options.loginPort = static_cast<std::uint16_t>(std::atoi(argv[++i]));
        else if (arg == "--seconds" && hasValue)
            seconds = std::atoi(argv[++i]);
        else if (arg == "--key-change-ms" && hasValue)
            options.keyChangeInterval = std::chrono::milliseconds(std::atoi(argv[++i]));
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
    if (seconds < 1 || seconds > 24 * 3600) {
        usage();
        return 2;
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
