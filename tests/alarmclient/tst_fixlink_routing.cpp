// The registration request as sent and the routing of received data blocks
// to the data callback.

#include "LogSink.h"
#include "MessageRouter.h"
#include "Wire.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using kvtool::PCCFixlink;

namespace {

struct Delivered {
    PCCFixlink::DataType type;
    std::int32_t code = 0;
    PCCFixlink::TempAlarmRecord alarm {};
};

struct Recorder {
    std::vector<Delivered> delivered;
    std::vector<std::string> logs;
};

void onData(const void* user, const void* data, PCCFixlink::DataType type)
{
    auto* r = static_cast<Recorder*>(const_cast<void*>(user));
    Delivered d { type };
    if (type == PCCFixlink::RegisterResult)
        d.code = *static_cast<const std::int32_t*>(data);
    else
        d.alarm = *static_cast<const PCCFixlink::TempAlarmRecord*>(data);
    r->delivered.push_back(d);
}

void onLog(const void* user, const char* text)
{
    static_cast<Recorder*>(const_cast<void*>(user))->logs.emplace_back(text);
}

class Routing : public ::testing::Test {
protected:
    Recorder recorder;
    fixlink::LogSink log { &recorder, onLog };
    fixlink::MessageRouter router { &recorder, onData, log };

    void routeJson(const std::string& text)
    {
        router.route(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), fixlink::DataJson);
    }
    void routeBinary(const std::vector<std::uint8_t>& bytes)
    {
        router.route(bytes.data(), bytes.size(), fixlink::DataBinary);
    }
    int rawLogLines() const
    {
        int n = 0;
        for (const auto& line : recorder.logs)
            n += line.find("RawSolution cmd:") != std::string::npos;
        return n;
    }
};

std::string readDataFile(const std::string& name)
{
    const char* source = std::getenv("ARDENIX_SOURCE_DIR");
    std::ifstream in(std::string(source ? source : ".") + "/tests/data/alarmclient/" + name, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

TEST(RegistrationRequest, StyledTextByteForByte)
{
    EXPECT_EQ(fixlink::registrationRequest(),
        "{\n"
        "   \"method\" : \"mv.register\",\n"
        "   \"msg_id\" : 0,\n"
        "   \"param\" : [ \"e.temp_alarm\" ]\n"
        "}\n");
}

TEST_F(Routing, RegistrationAnswers)
{
    const std::pair<std::string, int> answers[] = {
        { R"({"result":"ok","param":["ok"]})", 1 },
        { R"({"result":"ok","param":["fail"]})", -1 },
        { R"({"result":"ok","param":["not support"]})", 0 },
        { R"({"result":"ok","param":["maybe"]})", 3 },
        { R"({"result":"ok"})", 3 },
        { R"({"result":"ok","param":[]})", 3 },
        { R"({"result":"ok","param":[1]})", 3 },
        { R"({"result":"ok","param":"ok"})", 3 },
        { R"({"msg_id":10000,"result":"ok","param":["ok"]})", 1 },
        { R"({"msg_id":0,"result":"ok","param":["ok"]})", 1 },
    };
    for (const auto& [text, code] : answers) {
        recorder.delivered.clear();
        routeJson(text);
        ASSERT_EQ(recorder.delivered.size(), 1u) << text;
        EXPECT_EQ(recorder.delivered[0].type, PCCFixlink::RegisterResult) << text;
        EXPECT_EQ(recorder.delivered[0].code, code) << text;
    }
}

TEST_F(Routing, DocumentsThatDeliverNothing)
{
    const char* ignored[] = {
        R"({"result":"fail","param":["fail"]})",
        R"({"result":1,"param":["ok"]})",
        R"({"msg_id":5,"result":"ok","param":["ok"]})",
        R"({"msg_id":1,"result":"ok","param":["ok"]})",
        R"({"msg_id":9999,"result":"ok","param":["ok"]})",
        R"({"msg_id":-3,"result":"ok","param":["ok"]})",
        R"({"msg_id":"10000","result":"ok","param":["ok"]})",
        R"({"msg_id":[10000],"result":"ok","param":["ok"]})",
        R"({"msg_id":{},"result":"ok","param":["ok"]})",
        R"({"method":"event_occured","param":{"key":"e.other","params":{"temp":1}}})",
        R"({"method":"event_occured","param":{"key":1}})",
        R"({"method":"event_occured","param":["e.temp_alarm"]})",
        R"({"method":"event_occurred","param":{"key":"e.temp_alarm","params":{}}})",
        R"({"method":7})",
        R"([{"result":"ok","param":["ok"]}])",
        R"("ok")",
        "not json at all",
        R"({"result":"ok","param":["ok"])",
        "",
    };
    for (const char* text : ignored) {
        routeJson(text);
        EXPECT_TRUE(recorder.delivered.empty()) << text;
        recorder.delivered.clear();
    }
}

TEST_F(Routing, TemperatureAlarmFields)
{
    routeJson(R"({"method":"event_occured","param":{"key":"e.temp_alarm","params":)"
              R"({"alarm_type":1,"temp":375,"ts":1700000000}}})");
    ASSERT_EQ(recorder.delivered.size(), 1u);
    const auto& all = recorder.delivered[0].alarm;
    EXPECT_EQ(recorder.delivered[0].type, PCCFixlink::TempAlarm);
    EXPECT_EQ(all.alarmType.state, 1);
    EXPECT_EQ(all.alarmType.value, 1);
    EXPECT_EQ(all.temp.state, 1);
    EXPECT_EQ(all.temp.value, 375);
    EXPECT_EQ(all.ts.state, 1);
    EXPECT_EQ(all.ts.value, 1700000000);

    struct Case {
        const char* params;
        int alarmState, tempState, tsState;
    };
    const Case cases[] = {
        { R"({"alarm_type":2,"temp":375})", 1, 1, 3 },
        { R"({"alarm_type":0,"temp":37.5,"ts":1})", 1, 3, 1 },
        { R"({"alarm_type":0,"temp":3.75e2,"ts":1})", 1, 3, 1 },
        { R"({"alarm_type":0,"temp":375.0,"ts":1})", 1, 3, 1 },
        { R"({"alarm_type":"1","temp":null,"ts":[1]})", 3, 3, 3 },
        { R"({"alarm_type":2147483647,"temp":-2147483648,"ts":2147483648})", 1, 1, 3 },
        { R"({"alarm_type":-2147483649,"temp":true,"ts":{}})", 3, 3, 3 },
        { R"({})", 3, 3, 3 },
        { R"("none")", 3, 3, 3 },
    };
    for (const Case& c : cases) {
        recorder.delivered.clear();
        routeJson(
            std::string(R"({"method":"event_occured","param":{"key":"e.temp_alarm","params":)") + c.params + "}}");
        ASSERT_EQ(recorder.delivered.size(), 1u) << c.params;
        const auto& r = recorder.delivered[0].alarm;
        EXPECT_EQ(r.alarmType.state, c.alarmState) << c.params;
        EXPECT_EQ(r.temp.state, c.tempState) << c.params;
        EXPECT_EQ(r.ts.state, c.tsState) << c.params;
    }
    EXPECT_EQ(recorder.delivered[0].alarm.alarmType.value, 0);

    // Without "params" the record still comes, all absent.
    recorder.delivered.clear();
    routeJson(R"({"method":"event_occured","param":{"key":"e.temp_alarm"},"msg_id":20000})");
    ASSERT_EQ(recorder.delivered.size(), 1u);
    EXPECT_EQ(recorder.delivered[0].alarm.temp.state, 3);
}

TEST_F(Routing, TextEndsAtItsFirstNulAndNeverPastTheData)
{
    const std::string withNul = std::string(R"({"result":"ok","param":["ok"]})") + '\0' + "garbage";
    routeJson(withNul);
    ASSERT_EQ(recorder.delivered.size(), 1u);
    EXPECT_EQ(recorder.delivered[0].code, 1);

    // No NUL at all: only the given bytes are read.
    const std::string whole = R"({"result":"ok","param":["fail"]})";
    std::vector<std::uint8_t> exact(whole.begin(), whole.end());
    router.route(exact.data(), exact.size(), fixlink::DataJson);
    ASSERT_EQ(recorder.delivered.size(), 2u);
    EXPECT_EQ(recorder.delivered[1].code, -1);
}

TEST_F(Routing, BinaryBlocksAndOtherKinds)
{
    std::vector<std::uint8_t> block(127, 0);
    block[0] = 0x78;
    block[1] = 0x56;
    block[2] = 0x34;
    block[3] = 0x12;
    routeBinary(block);
    EXPECT_EQ(rawLogLines(), 0) << "127 bytes are too short for a command";
    EXPECT_FALSE(recorder.logs.empty()) << "the block itself is still logged";

    block.push_back(0);
    routeBinary(block);
    ASSERT_EQ(rawLogLines(), 1);
    EXPECT_NE(recorder.logs.back().find("RawSolution cmd: 305419896"), std::string::npos) << recorder.logs.back();

    const std::string json = R"({"result":"ok","param":["ok"]})";
    router.route(reinterpret_cast<const std::uint8_t*>(json.data()), json.size(), fixlink::DataBinary);
    router.route(reinterpret_cast<const std::uint8_t*>(json.data()), json.size(), 7);
    EXPECT_TRUE(recorder.delivered.empty()) << "only kind 1 is JSON";
}

TEST_F(Routing, LogGetsOutsideTextVerbatimAndCut)
{
    routeJson(R"({"result":"%s%n%s"})");
    ASSERT_FALSE(recorder.logs.empty());
    EXPECT_EQ(recorder.logs.front(), R"({"result":"%s%n%s"})");

    recorder.logs.clear();
    const std::string longText(2000, 'a');
    routeJson(longText);
    ASSERT_FALSE(recorder.logs.empty());
    EXPECT_EQ(recorder.logs.front().size(), 1023u);
}

TEST_F(Routing, DocumentsFromTheDataFolder)
{
    const std::pair<const char*, std::size_t> files[] = {
        { "register-ok.json", 1 },
        { "event-temp-alarm.json", 1 },
        { "event-fraction.json", 1 },
        { "event-other-key.json", 0 },
        { "foreign-msg-id.json", 0 },
        { "truncated.json", 0 },
        { "deeply-nested.json", 0 },
        { "array-top.json", 0 },
    };
    for (const auto& [name, count] : files) {
        const std::string text = readDataFile(name);
        ASSERT_FALSE(text.empty()) << name;
        recorder.delivered.clear();
        routeJson(text);
        EXPECT_EQ(recorder.delivered.size(), count) << name;
    }
}
