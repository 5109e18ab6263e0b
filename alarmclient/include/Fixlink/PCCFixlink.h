#pragma once
// PCCFixlink: client of a camera's alarm service. It logs in, keeps one
// encrypted session open, registers for temperature alarms and reports
// connection changes, registration results and alarms through three plain
// callbacks.
//
// Connect, Disconnect and GetAlarmParams run on the caller's thread (one
// thread at a time per client); the status and data callbacks run on the
// session's receiver thread. Never call Disconnect from inside a callback.

#include <cstdint>

#if defined(_WIN32)
#if defined(FIXLINK_BUILDING)
#define FIXLINK_EXPORT __declspec(dllexport)
#else
#define FIXLINK_EXPORT __declspec(dllimport)
#endif
#else
#define FIXLINK_EXPORT __attribute__((visibility("default")))
#endif

namespace kvtool {

class FIXLINK_EXPORT PCCFixlink {
public:
    // The connect request; the library passes the last three fields on to
    // the login service without interpreting them.
    struct ReqInfo {
        char ip[16]; // dotted IPv4 address, NUL-terminated
        std::uint16_t port;
        std::int32_t requestValueA;
        std::int32_t requestValueB;
        std::uint8_t requestFlag;
    };

    // What the data pointer of the data callback points to.
    enum DataType {
        RegisterResult = 0, // std::int32_t: 1 ok, -1 fail, 0 not supported, 3 unknown
        TempAlarm = 1, // TempAlarmRecord
    };

    enum ConnectStatus {
        Connected = 0,
        Disconnected = 1,
        Unknown = 2,
    };

    enum ResultCode {
        Ok = 0,
        AlreadyConnected = -1,
        LoginFailed = -2,
        SessionFailed = -3,
        NotConnected = -4,
        SendFailed = -5,
        EncodeFailed = -6,
        LoginRefused = -7,
        LoginDenied = -10,
        BadLoginReply = -11,
    };

    // One field of a temperature alarm: state 1 = present, 3 = absent or not
    // an integer (value is then meaningless).
    struct AlarmField {
        std::int32_t state;
        std::int32_t value;
    };

    struct TempAlarmRecord {
        AlarmField alarmType;
        AlarmField temp;
        AlarmField ts;
    };

    typedef void (*DataCallback)(const void* user, const void* data, DataType type);
    typedef void (*StatusCallback)(const void* user, ConnectStatus status);
    typedef void (*LogCallback)(const void* user, const char* text);

    PCCFixlink(const void* user, DataCallback dataCallback, StatusCallback statusCallback, LogCallback logCallback);
    ~PCCFixlink();
    PCCFixlink(const PCCFixlink&) = delete;
    PCCFixlink& operator=(const PCCFixlink&) = delete;

    // Ok only when the login was granted and the server accepted the
    // authentication within `timeout` seconds: the status callback has then
    // reported Connected (and a loss right after it may already have been
    // reported as Disconnected). When the server refuses the authentication
    // (reported as Disconnected) or leaves it unanswered for the whole wait
    // (not reported), the session is closed again and Connect returns
    // SessionFailed; a wait of 0 or less never gets an answer. The result is
    // therefore the one place to learn whether a session was made; the
    // status callback tells of changes.
    ResultCode Connect(const ReqInfo& info, int timeout);
    ResultCode Disconnect();
    // Sends the registration for temperature alarms; its answer comes as
    // RegisterResult. SendFailed on a session that was lost or is closing.
    ResultCode GetAlarmParams();
    int WriteLogFile(bool on);

private:
    struct Private;
    Private* d;
};

} // namespace kvtool
