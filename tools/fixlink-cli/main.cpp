// fixlink-cli: connects the Fixlink client to an alarm service, optionally
// registers for temperature alarms, runs for a given time and disconnects.
// Standard output carries one JSON object per line and nothing else;
// diagnostics go to standard error.

#include <Fixlink/PCCFixlink.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

using kvtool::PCCFixlink;

namespace {

std::mutex g_outputLock;
bool g_verbose = false;

void emitLine(const std::string& line)
{
    std::lock_guard<std::mutex> lock(g_outputLock);
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string field(const PCCFixlink::AlarmField& f)
{
    return "{\"state\":" + std::to_string(f.state) + ",\"value\":" + std::to_string(f.value) + "}";
}

void onData(const void*, const void* data, PCCFixlink::DataType type)
{
    if (!data)
        return;
    if (type == PCCFixlink::RegisterResult) {
        std::int32_t code = 0;
        std::memcpy(&code, data, sizeof code);
        emitLine("{\"event\":\"registerResult\",\"code\":" + std::to_string(code) + "}");
    } else if (type == PCCFixlink::TempAlarm) {
        PCCFixlink::TempAlarmRecord r {};
        std::memcpy(&r, data, sizeof r);
        emitLine("{\"event\":\"alarm\",\"alarmType\":" + field(r.alarmType) + ",\"temp\":" + field(r.temp)
            + ",\"ts\":" + field(r.ts) + "}");
    }
}

void onStatus(const void*, PCCFixlink::ConnectStatus status)
{
    const char* name = "Unknown";
    if (status == PCCFixlink::Connected)
        name = "Connected";
    else if (status == PCCFixlink::Disconnected)
        name = "Disconnected";
    emitLine(std::string("{\"event\":\"status\",\"status\":\"") + name + "\"}");
}

void onLog(const void*, const char* text)
{
    if (g_verbose && text)
        std::fprintf(stderr, "fixlink: %s\n", text);
}

bool parseLong(const char* text, long low, long high, long& out)
{
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < low || v > high)
        return false;
    out = v;
    return true;
}

const char* const kUsage = "usage: fixlink-cli --ip A.B.C.D --port P [--value-a N] [--value-b N] [--flag N]\n"
                           "                   [--timeout S] [--register] [--seconds N] [--verbose]\n"
                           "       fixlink-cli --help | --version\n";

struct Args {
    PCCFixlink::ReqInfo request {};
    long timeout = 5;
    long seconds = 10;
    bool registerAlarms = false;
};

bool parseArgs(int argc, char** argv, Args& args)
{
    bool haveIp = false;
    bool havePort = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--register") {
            args.registerAlarms = true;
            continue;
        }
        if (arg == "--verbose") {
            g_verbose = true;
            continue;
        }
        if (i + 1 >= argc)
            return false;
        const char* value = argv[++i];
        long n = 0;
        if (arg == "--ip") {
            if (std::strlen(value) >= sizeof args.request.ip)
                return false;
            std::strncpy(args.request.ip, value, sizeof args.request.ip - 1);
            haveIp = true;
        } else if (arg == "--port" && parseLong(value, 1, 65535, n)) {
            args.request.port = static_cast<std::uint16_t>(n);
            havePort = true;
        } else if (arg == "--value-a" && parseLong(value, INT32_MIN, INT32_MAX, n)) {
            args.request.requestValueA = static_cast<std::int32_t>(n);
        } else if (arg == "--value-b" && parseLong(value, INT32_MIN, INT32_MAX, n)) {
            args.request.requestValueB = static_cast<std::int32_t>(n);
        } else if (arg == "--flag" && parseLong(value, 0, 255, n)) {
            args.request.requestFlag = static_cast<std::uint8_t>(n);
        } else if (arg == "--timeout" && parseLong(value, 0, 3600, n)) {
            args.timeout = n;
        } else if (arg == "--seconds" && parseLong(value, 0, 24L * 3600, n)) {
            args.seconds = n;
        } else {
            return false;
        }
    }
    return haveIp && havePort;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "--version") == 0)) {
        std::fputs(std::strcmp(argv[1], "--help") == 0 ? kUsage : "fixlink-cli " ARDENIX_VERSION_TEXT "\n", stdout);
        return 0;
    }
    Args args;
    if (!parseArgs(argc, argv, args)) {
        std::fputs(kUsage, stderr);
        return 2;
    }

    PCCFixlink client(nullptr, onData, onStatus, onLog);
    const PCCFixlink::ResultCode connected = client.Connect(args.request, static_cast<int>(args.timeout));
    emitLine("{\"event\":\"connect\",\"result\":" + std::to_string(connected) + "}");
    if (connected != PCCFixlink::Ok) {
        std::fprintf(stderr, "fixlink-cli: connect failed with %d\n", connected);
        client.Disconnect();
        return 1;
    }
    if (args.registerAlarms) {
        const PCCFixlink::ResultCode registered = client.GetAlarmParams();
        emitLine("{\"event\":\"register\",\"result\":" + std::to_string(registered) + "}");
    }
    std::this_thread::sleep_for(std::chrono::seconds(args.seconds));
    const PCCFixlink::ResultCode disconnected = client.Disconnect();
    emitLine("{\"event\":\"disconnect\",\"result\":" + std::to_string(disconnected) + "}");
    return 0;
}
