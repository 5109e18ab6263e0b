// camctl: talks to cameras through the camera SDK, one JSON object per line.
//   camctl search
//   camctl login   --address A [--port 8800] --user U --password P [--hold SECONDS]
//   camctl config  --address A [--port 8800] --user U --password P [--set-high N] [--toggle-unit]
//   camctl preview --address A [--port 8800] --user U --password P --seconds N [--sub] [--no-audio] [--mirror]
// Exit code 0 on success, 1 on a camera error, 2 on a usage error.

#include "CamSearch.h"
#include "KV_DeviceLogin.h"
#include "KV_DeviceNVConfig.h"
#include "KV_DevicePreview.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>

using namespace KV::Protocol::Device;

namespace {

// Length of the well-formed UTF-8 sequence at s[i], or 0 when there is none.
size_t utf8Length(const std::string& s, size_t i)
{
    const auto at = [&s](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = at(i);
    size_t n = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xbf;
    if (c >= 0xc2 && c <= 0xdf) {
        n = 2;
    } else if (c >= 0xe0 && c <= 0xef) {
        n = 3;
        low = c == 0xe0 ? 0xa0 : 0x80; // no overlong forms
        high = c == 0xed ? 0x9f : 0xbf; // no surrogates
    } else if (c >= 0xf0 && c <= 0xf4) {
        n = 4;
        low = c == 0xf0 ? 0x90 : 0x80;
        high = c == 0xf4 ? 0x8f : 0xbf; // nothing past U+10FFFF
    } else {
        return 0;
    }
    if (i + n > s.size() || at(i + 1) < low || at(i + 1) > high)
        return 0;
    for (size_t k = 2; k < n; ++k)
        if (at(i + k) < 0x80 || at(i + k) > 0xbf)
            return 0;
    return n;
}

// A JSON string. Text from cameras may hold any bytes: those that are not
// UTF-8 become U+FFFD, so that every line stays valid JSON.
std::string quoted(const std::string& s)
{
    std::string out = "\"";
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else if (c >= 0x80) {
            const size_t n = utf8Length(s, i);
            if (n == 0) {
                out += "\\ufffd";
                ++i;
                continue;
            }
            out.append(s, i, n);
            i += n;
            continue;
        } else {
            out += static_cast<char>(c);
        }
        ++i;
    }
    return out + "\"";
}

// Builds one JSON object, key by key, in the order given.
class JsonLine {
public:
    JsonLine& add(const char* key, const std::string& text) { return raw(key, quoted(text)); }
    JsonLine& add(const char* key, const char* text) { return raw(key, quoted(text)); }
    JsonLine& add(const char* key, long long v) { return raw(key, std::to_string(v)); }
    JsonLine& add(const char* key, int v) { return raw(key, std::to_string(v)); }
    JsonLine& add(const char* key, bool v) { return raw(key, v ? "true" : "false"); }
    void print() const
    {
        std::printf("{%s}\n", m_body.c_str());
        std::fflush(stdout);
    }

private:
    JsonLine& raw(const char* key, const std::string& value)
    {
        if (!m_body.empty())
            m_body += ",";
        m_body += quoted(key) + ":" + value;
        return *this;
    }
    std::string m_body;
};

struct Args {
    std::string command;
    std::string address;
    int port = 8800;
    std::string user = "admin";
    std::string password;
    double hold = 0;
    double seconds = 3;
    bool setHigh = false;
    int high = 0;
    bool toggleUnit = false;
    bool sub = false;
    bool audio = true;
    bool mirror = false;
};

const char* const kUsage
    = "usage: camctl search\n"
      "       camctl login   --address A [--port 8800] --user U --password P [--hold SECONDS]\n"
      "       camctl config  --address A [--port 8800] --user U --password P [--set-high N] [--toggle-unit]\n"
      "       camctl preview --address A [--port 8800] --user U --password P --seconds N [--sub] [--no-audio] "
      "[--mirror]\n"
      "       camctl --help | --version\n";

int usage(const char* why)
{
    std::fprintf(stderr, "camctl: %s\n%s", why, kUsage);
    return 2;
}

bool parse(int argc, char** argv, Args& a, std::string& error)
{
    if (argc < 2) {
        error = "no command";
        return false;
    }
    a.command = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::string n = argv[i];
        if (n == "--toggle-unit") {
            a.toggleUnit = true;
            continue;
        }
        if (n == "--sub") {
            a.sub = true;
            continue;
        }
        if (n == "--no-audio") {
            a.audio = false;
            continue;
        }
        if (n == "--mirror") {
            a.mirror = true;
            continue;
        }
        if (i + 1 >= argc) {
            error = "missing value for " + n;
            return false;
        }
        const char* v = argv[++i];
        char* end = nullptr;
        if (n == "--address") {
            a.address = v;
        } else if (n == "--user") {
            a.user = v;
        } else if (n == "--password") {
            a.password = v;
        } else if (n == "--port") {
            const long p = std::strtol(v, &end, 10);
            if (*end || p < 1 || p > 65535) {
                error = "bad port";
                return false;
            }
            a.port = static_cast<int>(p);
        } else if (n == "--hold" || n == "--seconds") {
            const double s = std::strtod(v, &end);
            if (*end || !(s >= 0 && s <= 86400)) {
                error = "bad " + n;
                return false;
            }
            (n == "--hold" ? a.hold : a.seconds) = s;
        } else if (n == "--set-high") {
            const long h = std::strtol(v, &end, 10);
            if (*end || h < -1000 || h > 2000) {
                error = "bad --set-high";
                return false;
            }
            a.setHigh = true;
            a.high = static_cast<int>(h);
        } else {
            error = "unknown option " + n;
            return false;
        }
    }
    return true;
}

class Searcher : public CamSearch {
public:
    ~Searcher() override { Wait(); }
    void OnSearchStarted() override { JsonLine().add("event", "searchStarted").print(); }
    void OnDeviceFound(const CamSearchRecord* r) override
    {
        ++count;
        JsonLine()
            .add("event", "found")
            .add("id", r->deviceNumber)
            .add("address", std::string(r->ipAddress))
            .add("port", r->port)
            .add("name", std::string(r->deviceName))
            .add("serial", std::string(r->serialNumber))
            .add("mac", std::string(r->macAddress))
            .add("userName", std::string(r->userName))
            .print();
    }
    void OnSearchFinished() override
    {
        std::lock_guard<std::mutex> lock(mutex);
        finished = true;
        done.notify_all();
    }

    int count = 0;
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
};

int search()
{
    Searcher s;
    if (!s.Start()) {
        JsonLine().add("event", "error").add("message", "search did not start").print();
        return 1;
    }
    {
        std::unique_lock<std::mutex> lock(s.mutex);
        s.done.wait_for(lock, std::chrono::seconds(60), [&s] { return s.finished; });
    }
    s.Wait();
    JsonLine().add("event", "searchDone").add("count", s.count).print();
    return 0;
}

// Logs in and prints the result; null on failure.
std::unique_ptr<LoginHelperEx> login(const Args& a)
{
    Info info;
    info.address = a.address;
    info.port = a.port;
    auto helper = std::make_unique<LoginHelperEx>(info, a.user, a.password, false);
    const LoginResult r = helper->Login();
    const LoginInfo li = helper->info();
    JsonLine line;
    line.add("event", "login").add("result", r).add("loginValue", li.loginValue);
    if (r == Code::Success) {
        line.add("id", li.device.id)
            .add("deviceType", li.deviceType)
            .add("channelCount", li.channelCount)
            .add("videoWidth", li.videoWidth)
            .add("videoHeight", li.videoHeight)
            .add("frameRate", li.frameRate)
            .add("hasAudio", li.hasAudio)
            .add("canMirror", li.canMirror)
            .add("thermalWidth", li.thermalWidth)
            .add("thermalHeight", li.thermalHeight)
            .add("hasTemperature", li.hasTemperature)
            .add("hasThermalPicture", li.hasThermalPicture)
            .add("name", li.device.deviceName)
            .add("serial", li.device.serialNumber);
    }
    line.print();
    return r == Code::Success ? std::move(helper) : nullptr;
}

void printConfig(const char* when, const AllConfigInfo& c)
{
    const bool thermal = c.hasThermal != 0;
    JsonLine()
        .add("event", "config")
        .add("when", when)
        .add("high", thermal ? c.thermal.highTemp : c.alarmPrompt.highTemp)
        .add("low", thermal ? c.thermal.lowTemp : c.alarmPrompt.lowTemp)
        .add("unit", static_cast<int>(c.thermal.tempUnit))
        .add("unitSwitch", static_cast<int>(c.thermal.allowUnitSwitch))
        .add("timezone", c.timeZone)
        .add("thermalBlock", thermal)
        .add("name", c.deviceName)
        .print();
}

int config(const Args& a)
{
    auto helper = login(a);
    if (!helper)
        return 1;
    NVConfigEx nv(helper->info());
    AllConfigInfo before;
    ConfigResult r = nv.GetAllConfig(before);
    if (r != Code::Success) {
        JsonLine().add("event", "error").add("call", "GetAllConfig").add("result", r).print();
        return 1;
    }
    printConfig("before", before);
    if (!a.setHigh && !a.toggleUnit)
        return 0;
    if (before.hasThermal) {
        ThermalInfo t = before.thermal;
        if (a.setHigh)
            t.highTemp = a.high;
        if (a.toggleUnit)
            t.tempUnit = t.tempUnit ? 0 : 1;
        r = nv.SetThermalInfoConfig(t);
        JsonLine().add("event", "set").add("call", "SetThermalInfoConfig").add("result", r).print();
    } else {
        AlarmPromptInfo p = before.alarmPrompt;
        if (a.setHigh) {
            p.highTemp = a.high;
            p.enable = 1;
        }
        r = a.toggleUnit ? Code::PermissionDenied : nv.SetAlarmPromptInfoConfig(p);
        JsonLine().add("event", "set").add("call", "SetAlarmPromptInfoConfig").add("result", r).print();
    }
    AllConfigInfo after;
    const ConfigResult r2 = nv.GetAllConfig(after);
    if (r2 == Code::Success)
        printConfig("after", after);
    return r == Code::Success && r2 == Code::Success ? 0 : 1;
}

struct TypeStats {
    long long count = 0;
    long long keyFrames = 0;
    long long bytes = 0;
    long long firstPts = 0;
    long long lastPts = 0;
    int width = 0;
    int height = 0;
};

int preview(const Args& a)
{
    auto helper = login(a);
    if (!helper)
        return 1;
    std::mutex mutex;
    std::map<int, TypeStats> stats;
    PreviewHelperEx* previewRaw = nullptr;
    auto preview = std::make_unique<PreviewHelperEx>(helper->info(), [&](const FrameData& f) {
        std::lock_guard<std::mutex> lock(mutex);
        TypeStats& s = stats[f.frameType];
        if (s.count == 0)
            s.firstPts = f.timestamp;
        ++s.count;
        s.lastPts = f.timestamp;
        s.bytes += static_cast<long long>(f.data.size());
        if (f.frameType == 0 || f.frameType == 40 || f.frameType == 50 || f.frameType == 52)
            ++s.keyFrames;
        if (f.frameType == 10 && f.data.size() >= 6) {
            s.width = static_cast<int16_t>(f.data[2] | (f.data[3] << 8));
            s.height = static_cast<int16_t>(f.data[4] | (f.data[5] << 8));
        } else if (f.frameType == 0 || f.frameType == 1 || f.frameType == 40 || f.frameType == 41) {
            s.width = previewRaw ? previewRaw->width() : 0;
            s.height = previewRaw ? previewRaw->height() : 0;
        }
    });
    previewRaw = preview.get();
    if (a.audio)
        preview->SetAudioState(true);
    if (a.mirror)
        preview->SetReverse();
    const PreviewResult r = preview->Start(!a.sub);
    JsonLine()
        .add("event", "preview")
        .add("result", r)
        .add("width", preview->width())
        .add("height", preview->height())
        .print();
    if (r != Code::PreviewOk)
        return 1;
    std::this_thread::sleep_for(std::chrono::duration<double>(a.seconds));
    preview.reset();
    long long total = 0;
    long long bytes = 0;
    for (const auto& [type, s] : stats) {
        total += s.count;
        bytes += s.bytes;
        JsonLine()
            .add("event", "frames")
            .add("type", type)
            .add("count", s.count)
            .add("keyFrames", s.keyFrames)
            .add("bytes", s.bytes)
            .add("firstPts", s.firstPts)
            .add("lastPts", s.lastPts)
            .add("width", s.width)
            .add("height", s.height)
            .print();
    }
    JsonLine()
        .add("event", "previewDone")
        .add("frames", total)
        .add("bytes", bytes)
        .add("seconds", a.seconds > 0 ? static_cast<long long>(a.seconds) : 0LL)
        .print();
    return total > 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    Args a;
    std::string error;
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "--version") == 0)) {
        std::fputs(std::strcmp(argv[1], "--help") == 0 ? kUsage : "camctl " ARDENIX_VERSION_TEXT "\n", stdout);
        return 0;
    }
    if (!parse(argc, argv, a, error))
        return usage(error.c_str());
    if (a.command == "search")
        return search();
    if (a.address.empty())
        return usage("--address is needed");
    if (a.command == "login") {
        auto helper = login(a);
        if (!helper)
            return 1;
        if (a.hold > 0) {
            std::this_thread::sleep_for(std::chrono::duration<double>(a.hold));
            JsonLine().add("event", "logout").add("loginValue", helper->info().loginValue).print();
        }
        return 0;
    }
    if (a.command == "config")
        return config(a);
    if (a.command == "preview")
        return preview(a);
    return usage("unknown command");
}
