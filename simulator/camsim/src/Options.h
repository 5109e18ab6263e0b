// camsim's command line.
#pragma once

#include "../media/AudioEncoder.h"
#include "../media/VideoEncoder.h"

#include <cstdint>
#include <string>

namespace camsim {

struct Options {
    int cameras = 1;
    std::string address = "127.0.0.2";
    int port = 8800; // 0: chosen by the system, one per camera
    int firstId = 1;
    std::string searchAddress = "127.0.0.1";
    int searchPort = 8801; // 0: chosen by the system; -1: no search answers
    std::string user = "admin";
    std::string password;
    VideoCodec codec = VideoCodec::H264;
    // Main stream in kbit/s at a constant bit rate over a noisy, textured
    // scene, as a camera sends; the sub stream gets an eighth. 0: the flat
    // scene at constant quality, a few hundred bytes a picture.
    int bitrateKbit = 4096;
    AudioCodec audio = AudioCodec::G711;
    double peoplePerMinute = 12;
    double abnormalShare = 0.2;
    int timezone = 8; // hours east of UTC
    bool fahrenheit = false;
    bool unitSwitch = true;
    bool legacyConfig = false;
    int highThreshold = 373;
    uint32_t seed = 1;
    bool alarms = true;
    int keyChangeSeconds = 300;
    // Faults.
    double dropAfterSeconds = 0;
    double stopVideoAfterSeconds = 0;
    int malformedEvery = 0;
    bool refuseAlarmLogins = false;
    int stallAlarmAuth = 0; // alarm sessions whose Auth is never answered
    int failAlarmRegistration = 0; // registrations answered "fail"
    // Ends when standard input closes, so that a harness that dies takes camsim along.
    bool exitWithStdin = false;
    // Clip mode: write `clipSeconds` of the scene as an elementary stream and exit.
    std::string clipPath;
    double clipSeconds = 10;
    int clipWidth = 1920;
    int clipHeight = 1080;
};

enum class ParseResult { Run, Help, Error };

ParseResult parseOptions(int argc, char** argv, Options& options, std::string& error);
const char* usageText();

} // namespace camsim
