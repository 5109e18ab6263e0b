// camsim's alarm service as the alarm-service client sees it (through
// fixlink-cli): sessions only for current logins, one event per person,
// sorted by the camera's high threshold.

#include "CamsimProcess.h"
#include "TestPatience.h"

#include "KV_DeviceLogin.h"
#include "KV_DeviceNVConfig.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <sstream>

using namespace KV::Protocol::Device;

namespace {

struct Alarm {
    int alarmType = -1;
    int temp = 0;
    long long ts = 0;
};

std::vector<Alarm> alarmsIn(const std::string& output)
{
    static const std::regex line(
        R"re("alarmType":\{"state":1,"value":(-?\d+)\},"temp":\{"state":1,"value":(-?\d+)\},"ts":\{"state":1,"value":(\d+)\})re");
    std::vector<Alarm> out;
    for (std::sregex_iterator it(output.begin(), output.end(), line), end; it != end; ++it)
        out.push_back({ std::stoi((*it)[1]), std::stoi((*it)[2]), std::stoll((*it)[3]) });
    return out;
}

std::vector<std::string> cliArgs(const CamsimCamera& cam, int valueA, int valueB, int seconds)
{
    return { "--ip", cam.address, "--port", std::to_string(cam.port), "--value-a", std::to_string(valueA), "--value-b",
        std::to_string(valueB), "--register", "--seconds", std::to_string(seconds), "--timeout", "5" };
}

class AlarmService : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!toolExists("fixlink-cli"))
            GTEST_SKIP() << "fixlink-cli is not built";
    }
};

} // namespace

TEST_F(AlarmService, SendsOneEventPerPersonToCurrentLoginsOnly)
{
    CamsimProcess sim(
        camsimArgs({ "--people-per-minute", "100", "--abnormal-share", "0.5", "--high", "370", "--seed", "7" }));
    ASSERT_TRUE(sim.ready()) << sim.log();
    if (sim.countLog("alarm sessions on port") == 0)
        GTEST_SKIP() << "camsim was built without the alarm service";
    const CamsimCamera cam = sim.cameras().at(0);
    const Info info = cameraInfo(cam);
    LoginHelperEx login(info, "admin", "", false);
    ASSERT_EQ(login.Login(), 1001);
    const int value = login.info().loginValue;

    int code = 0;
    const std::string out = runTool("fixlink-cli", cliArgs(cam, cam.id, value, 3), 15000, code);
    EXPECT_EQ(code, 0) << out;
    EXPECT_NE(out.find("\"registerResult\",\"code\":1"), std::string::npos) << out;
    const std::vector<Alarm> alarms = alarmsIn(out);
    ASSERT_GE(alarms.size(), 3u) << out << sim.log();
    const long long now = static_cast<long long>(std::time(nullptr));
    for (const Alarm& a : alarms) {
        EXPECT_EQ(a.alarmType != 0, a.temp > 370) << a.temp;
        EXPECT_GE(a.temp, 355);
        EXPECT_LE(a.temp, 400);
        EXPECT_NEAR(static_cast<double>(a.ts), static_cast<double>(now), 30.0) << "UTC seconds";
    }
    // One event per person: the log names each person once.
    EXPECT_EQ(sim.waitForLogCount(" person 3 ", 1, std::chrono::seconds(patient(5))), 1u);

    // Someone else's id, a made-up value: not granted.
    runTool("fixlink-cli", cliArgs(cam, cam.id + 1, value, 0), 15000, code);
    EXPECT_NE(code, 0);
    const std::string made = runTool("fixlink-cli", cliArgs(cam, cam.id, value ^ 0x1234, 0), 15000, code);
    EXPECT_NE(code, 0);
    EXPECT_NE(made.find("-10"), std::string::npos) << made;
    EXPECT_EQ(sim.waitForLogCount("not granted", 2, std::chrono::seconds(patient(5))), 2u);
}

TEST_F(AlarmService, AbnormalFollowsAThresholdChangedThroughTheConfiguration)
{
    CamsimProcess sim(camsimArgs({ "--people-per-minute", "100", "--abnormal-share", "0" }));
    ASSERT_TRUE(sim.ready()) << sim.log();
    if (sim.countLog("alarm sessions on port") == 0)
        GTEST_SKIP() << "camsim was built without the alarm service";
    const CamsimCamera cam = sim.cameras().at(0);
    const Info info = cameraInfo(cam);
    LoginHelperEx login(info, "admin", "", false);
    ASSERT_EQ(login.Login(), 1001);
    NVConfigEx nv(login.info());
    AllConfigInfo all;
    ASSERT_EQ(nv.GetAllConfig(all), 1001);
    ThermalInfo t = all.thermal;
    t.highTemp = 300; // everybody is abnormal now
    ASSERT_EQ(nv.SetThermalInfoConfig(t), 1001);
    int code = 0;
    const std::string out = runTool("fixlink-cli", cliArgs(cam, cam.id, login.info().loginValue, 2), 15000, code);
    const std::vector<Alarm> alarms = alarmsIn(out);
    ASSERT_GE(alarms.size(), 1u) << out;
    for (const Alarm& a : alarms)
        EXPECT_NE(a.alarmType, 0);
}

TEST_F(AlarmService, RefusesEveryLoginWhenAskedTo)
{
    CamsimProcess sim(camsimArgs({ "--refuse-alarm-logins" }));
    ASSERT_TRUE(sim.ready()) << sim.log();
    if (sim.countLog("alarm sessions on port") == 0)
        GTEST_SKIP() << "camsim was built without the alarm service";
    const CamsimCamera cam = sim.cameras().at(0);
    const Info info = cameraInfo(cam);
    LoginHelperEx login(info, "admin", "", false);
    ASSERT_EQ(login.Login(), 1001);
    int code = 0;
    runTool("fixlink-cli", cliArgs(cam, cam.id, login.info().loginValue, 0), 15000, code);
    EXPECT_NE(code, 0);
}

TEST_F(AlarmService, DropFaultEndsAlarmSessionsToo)
{
    CamsimProcess sim(camsimArgs({ "--drop-after", "1" }));
    ASSERT_TRUE(sim.ready()) << sim.log();
    if (sim.countLog("alarm sessions on port") == 0)
        GTEST_SKIP() << "camsim was built without the alarm service";
    const CamsimCamera cam = sim.cameras().at(0);
    LoginHelperEx login(cameraInfo(cam), "admin", "", false);
    ASSERT_EQ(login.Login(), 1001);
    int code = 0;
    const std::string out = runTool("fixlink-cli", cliArgs(cam, cam.id, login.info().loginValue, 3), 15000, code);
    EXPECT_NE(out.find("\"Connected\""), std::string::npos) << out;
    EXPECT_NE(out.find("\"Disconnected\""), std::string::npos) << out;
    EXPECT_TRUE(sim.waitForLog("dropped", std::chrono::seconds(patient(1)))) << sim.log();
}
