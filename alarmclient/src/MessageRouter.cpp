#include "MessageRouter.h"

#include "Console.h"
#include "Wire.h"

#include <json/json.h>

#include <atomic>
#include <cstring>
#include <exception>
#include <memory>

namespace fixlink {

namespace {

using Fixlink = kvtool::PCCFixlink;

constexpr std::size_t kRawCommandMinimum = 128;
constexpr unsigned kForeignMessageLimit = 9999;
constexpr std::int32_t kFieldPresent = 1;
constexpr std::int32_t kFieldAbsent = 3;

// Binary blocks are counted for the whole library, across clients.
std::atomic<int> g_rawBlocks { 0 };

std::int32_t registrationCode(const Json::Value& param)
{
    if (!param.isArray() || param.empty() || !param[0u].isString())
        return 3;
    const std::string answer = param[0u].asString();
    if (answer == "ok")
        return 1;
    if (answer == "fail")
        return -1;
    if (answer == "not support")
        return 0;
    return 3;
}

// Only integers written as such count: 37.5, 3.75e2 or "375" do not.
Fixlink::AlarmField alarmField(const Json::Value& params, const char* key)
{
    Fixlink::AlarmField field { kFieldAbsent, 0 };
    const Json::Value* v = params.find(key, key + std::strlen(key));
    if (v && (v->type() == Json::intValue || v->type() == Json::uintValue) && v->isInt()) {
        field.state = kFieldPresent;
        field.value = v->asInt();
    }
    return field;
}

} // namespace

std::string registrationRequest()
{
    Json::Value request(Json::objectValue);
    request["method"] = "mv.register";
    request["msg_id"] = 0;
    request["param"] = Json::Value(Json::arrayValue);
    request["param"].append("e.temp_alarm");
    Json::StyledWriter writer;
    return writer.write(request);
}

MessageRouter::MessageRouter(const void* user, kvtool::PCCFixlink::DataCallback callback, const LogSink& log)
    : m_user(user)
    , m_callback(callback)
    , m_log(log)
{
}

void MessageRouter::route(const std::uint8_t* data, std::size_t length, std::uint8_t dataKind) const
{
    if (!data || length < 1)
        return;
    const char* text = reinterpret_cast<const char*>(data);
    // Text ends at its first NUL, and never later than the data.
    const std::size_t textLength = strnlen(text, length);
    m_log.text(text, textLength);
    console("RecvDataResolv data_len:%zu data_type:%d\n", length, dataKind);
    if (dataKind == DataBinary)
        routeBinary(data, length);
    else if (dataKind == DataJson)
        routeJson(text, textLength);
}

void MessageRouter::routeBinary(const std::uint8_t* data, std::size_t length) const
{
    if (length < kRawCommandMinimum)
        return;
    const auto command = static_cast<std::int32_t>(readU32(data));
    console("RawSolution cmd:%d\n", command);
    m_log.format("%d RawSolution cmd: %d", g_rawBlocks.fetch_add(1), command);
}

void MessageRouter::routeJson(const char* text, std::size_t length) const
{
    console("JsonSolution---------------------------beg\n%.*s\nJsonSolution---------------------------end\n",
        static_cast<int>(length), text);
    m_log.text(text, length);
    try {
        Json::CharReaderBuilder builder;
        builder["collectComments"] = false;
        const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        Json::Value parsed;
        std::string errors;
        if (!reader->parse(text, text + length, &parsed, &errors) || !parsed.isObject())
            return;
        const Json::Value& root = parsed; // read-only: lookups must not add members

        // Absent reads as 0; what cannot be read as unsigned throws and ends
        // the routing.
        const unsigned messageId = root.get("msg_id", Json::Value()).asUInt();
        if (messageId >= 1 && messageId <= kForeignMessageLimit)
            return;

        const Json::Value& result = root["result"];
        if (!result.isNull()) {
            if (!result.isString() || result.asString() != "ok")
                return;
            std::int32_t code = registrationCode(root["param"]);
            deliver(&code, Fixlink::RegisterResult);
            return;
        }

        const Json::Value& method = root["method"];
        if (!method.isString() || method.asString() != "event_occured")
            return;
        m_log.format("line %d", __LINE__);
        const Json::Value& param = root["param"];
        if (!param.isObject() || !param["key"].isString() || param["key"].asString() != "e.temp_alarm")
            return;
        Fixlink::TempAlarmRecord record { { kFieldAbsent, 0 }, { kFieldAbsent, 0 }, { kFieldAbsent, 0 } };
        const Json::Value& params = param["params"];
        if (params.isObject()) {
            record.alarmType = alarmField(params, "alarm_type");
            record.temp = alarmField(params, "temp");
            record.ts = alarmField(params, "ts");
        }
        m_log.format("line %d", __LINE__);
        deliver(&record, Fixlink::TempAlarm);
    } catch (const std::exception&) {
        // Whatever the JSON library refuses is dropped like any other
        // unexpected document.
    }
}

void MessageRouter::deliver(const void* record, kvtool::PCCFixlink::DataType type) const
{
    if (m_callback)
        m_callback(m_user, record, type);
}

} // namespace fixlink
