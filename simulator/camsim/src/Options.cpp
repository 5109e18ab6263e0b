#include "Options.h"

#include "Net.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>

namespace camsim {

namespace {

bool toInt(const char* text, long low, long high, int& out)
{
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (!*text || *end != '\0' || v < low || v > high)
        return false;
    out = static_cast<int>(v);
    return true;
}

bool toDouble(const char* text, double low, double high, double& out)
{
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (!*text || *end != '\0' || !(v >= low && v <= high))
        return false;
    out = v;
    return true;
}

} // namespace

const char* usageText()
{
    return "Usage: camsim [OPTION]...\n"
           "Simulates thermal network cameras on loopback addresses until stopped (SIGINT, SIGTERM).\n"
           "\n"
           "Cameras:\n"
           "  --cameras N              number of cameras (1-16; default 1)\n"
           "  --address A              first camera's loopback address (default 127.0.0.2); the\n"
           "                           others take the following addresses\n"
           "  --port P                 camera port (default 8800; 0 lets the system choose per camera)\n"
           "  --first-id N             device number of the first camera (default 1), then counted up\n"
           "  --search-address A       loopback address that answers search probes (default 127.0.0.1)\n"
           "  --search-port P          UDP search port (default 8801; 0 system's choice; -1 no search)\n"
           "  --user U                 login user name (default admin)\n"
           "  --password P             login password (default empty)\n"
           "\n"
           "Picture and sound:\n"
           "  --codec h264|h265        video codec (default h264); 1920x1080, 25 fps, key frame each second\n"
           "  --bitrate KBIT           video bit rate in kbit/s, constant with a one-second buffer, over a\n"
           "                           textured scene with sensor noise (default 4096; the sub stream\n"
           "                           gets an eighth); 0: a flat scene at constant quality\n"
           "  --audio g711|aac|pcm|adpcm|none\n"
           "                           sound (default g711: A-law 8 kHz; aac: 32 kHz ADTS;\n"
           "                           pcm: 16-bit 8 kHz; adpcm: IMA 8 kHz)\n"
           "  --people-per-minute R    people walking up to the camera per minute (0.1-600; default 12)\n"
           "  --abnormal-share S       share of people with a raised temperature (0 to 1; default 0.2)\n"
           "  --seed N                 seed of the crowd (default 1)\n"
           "\n"
           "Configuration:\n"
           "  --timezone H             camera time zone in hours, -12 to 14 (default 8)\n"
           "  --unit c|f               temperature unit (default c)\n"
           "  --no-unit-switch         the camera does not allow switching the unit\n"
           "  --legacy-config          configuration without the thermal block (alarm prompt only)\n"
           "  --high N                 high-temperature threshold in tenths of a degree Celsius (default 373)\n"
           "\n"
           "Alarm service (on the camera port):\n"
           "  --no-alarms              no alarm service\n"
           "  --key-change-seconds N   change the session key every N seconds (default 300; 0 never)\n"
           "\n"
           "Faults:\n"
           "  --drop-after S           close every camera connection S seconds after it opened\n"
           "  --stop-video-after S     stop sending video S seconds into each stream (sound and\n"
           "                           temperature frames go on)\n"
           "  --malformed-every N      make every N-th frame of a stream malformed\n"
           "  --refuse-alarm-logins    refuse every alarm-service login\n"
           "  --stall-alarm-auth N     grant the login of the first N alarm sessions but never\n"
           "                           answer their authentication\n"
           "  --fail-alarm-registration N\n"
           "                           answer the first N alarm registrations \"fail\"\n"
           "\n"
           "Clip:\n"
           "  --write-clip FILE        write the scene as an H.264 or H.265 (--codec) Annex-B\n"
           "                           elementary stream to FILE (at --bitrate) and exit\n"
           "  --clip-seconds S         length of the clip (default 10)\n"
           "  --clip-size WxH          picture size of the clip (default 1920x1080)\n"
           "\n"
           "Running:\n"
           "  --exit-with-stdin        also stop when standard input closes (for test harnesses)\n"
           "  --help                   show this text\n";
}

ParseResult parseOptions(int argc, char** argv, Options& o, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        auto flag = [&](const char* n) { return name == n; };
        if (flag("--help") || flag("-h"))
            return ParseResult::Help;
        if (flag("--no-unit-switch")) {
            o.unitSwitch = false;
            continue;
        }
        if (flag("--legacy-config")) {
            o.legacyConfig = true;
            continue;
        }
        if (flag("--no-alarms")) {
            o.alarms = false;
            continue;
        }
        if (flag("--exit-with-stdin")) {
            o.exitWithStdin = true;
            continue;
        }
        if (flag("--refuse-alarm-logins")) {
            o.refuseAlarmLogins = true;
            continue;
        }
        if (i + 1 >= argc) {
            error = "unknown option or missing value: " + name;
            return ParseResult::Error;
        }
        const char* v = argv[++i];
        bool ok = true;
        int seed = 0;
        if (flag("--cameras"))
            ok = toInt(v, 1, 16, o.cameras);
        else if (flag("--address"))
            ok = kvnet::isLoopback(o.address = v);
        else if (flag("--port"))
            ok = toInt(v, 0, 65535, o.port);
        else if (flag("--first-id"))
            ok = toInt(v, 0, 1000000, o.firstId);
        else if (flag("--search-address"))
            ok = kvnet::isLoopback(o.searchAddress = v);
        else if (flag("--search-port"))
            ok = toInt(v, -1, 65535, o.searchPort);
        else if (flag("--user"))
            o.user = v;
        else if (flag("--password"))
            o.password = v;
        else if (flag("--codec")) {
            ok = std::strcmp(v, "h264") == 0 || std::strcmp(v, "h265") == 0;
            o.codec = std::strcmp(v, "h265") == 0 ? VideoCodec::H265 : VideoCodec::H264;
        } else if (flag("--bitrate"))
            ok = toInt(v, 0, 100000, o.bitrateKbit) && (o.bitrateKbit == 0 || o.bitrateKbit >= 64);
        else if (flag("--audio"))
            ok = parseAudioCodec(v, o.audio);
        else if (flag("--people-per-minute"))
            ok = toDouble(v, 0.1, 600, o.peoplePerMinute);
        else if (flag("--abnormal-share"))
            ok = toDouble(v, 0, 1, o.abnormalShare);
        else if (flag("--seed")) {
            ok = toInt(v, 0, 2147483647, seed);
            o.seed = static_cast<uint32_t>(seed);
        } else if (flag("--timezone"))
            ok = toInt(v, -12, 14, o.timezone);
        else if (flag("--unit")) {
            ok = std::strcmp(v, "c") == 0 || std::strcmp(v, "f") == 0;
            o.fahrenheit = std::strcmp(v, "f") == 0;
        } else if (flag("--high"))
            ok = toInt(v, 200, 500, o.highThreshold);
        else if (flag("--key-change-seconds"))
            ok = toInt(v, 0, 86400, o.keyChangeSeconds);
        else if (flag("--drop-after"))
            ok = toDouble(v, 0.1, 86400, o.dropAfterSeconds);
        else if (flag("--stop-video-after"))
            ok = toDouble(v, 0, 86400, o.stopVideoAfterSeconds);
        else if (flag("--malformed-every"))
            ok = toInt(v, 1, 1000000, o.malformedEvery);
        else if (flag("--stall-alarm-auth"))
            ok = toInt(v, 0, 1000000, o.stallAlarmAuth);
        else if (flag("--fail-alarm-registration"))
            ok = toInt(v, 0, 1000000, o.failAlarmRegistration);
        else if (flag("--write-clip"))
            o.clipPath = v;
        else if (flag("--clip-seconds"))
            ok = toDouble(v, 0.04, 3600, o.clipSeconds);
        else if (flag("--clip-size")) {
            int w = 0;
            int h = 0;
            const char* x = std::strchr(v, 'x');
            ok = x && toInt(std::string(v, x).c_str(), 16, 7680, w) && toInt(x + 1, 16, 4320, h) && w % 2 == 0
                && h % 2 == 0;
            o.clipWidth = w;
            o.clipHeight = h;
        } else {
            error = "unknown option: " + name;
            return ParseResult::Error;
        }
        if (!ok) {
            error = "bad value for " + name + ": " + v;
            return ParseResult::Error;
        }
    }
    uint32_t first = 0;
    kvnet::parseIpv4(o.address, first);
    if ((ntohl(first) & 0xff) + static_cast<uint32_t>(o.cameras) > 255) {
        error = "too many cameras for the address " + o.address;
        return ParseResult::Error;
    }
    return ParseResult::Run;
}

} // namespace camsim
