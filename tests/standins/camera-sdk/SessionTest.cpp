// Login, configuration and search of the camera SDK against camsim.

#include "CamsimProcess.h"
#include "TestPatience.h"

#include "CamSearch.h"
#include "KV_DeviceLogin.h"
#include "KV_DeviceNVConfig.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace KV::Protocol::Device;
using Clock = std::chrono::steady_clock;

namespace {

class Collector : public CamSearch {
public:
    ~Collector() override { Wait(); }
    void OnSearchStarted() override
    {
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back("started");
    }
    void OnDeviceFound(const CamSearchRecord* r) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back("found");
        records.push_back(*r);
    }
    void OnSearchFinished() override
    {
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back("finished");
    }
    std::mutex mutex;
    std::vector<std::string> events;
    std::vector<CamSearchRecord> records;
};

} // namespace

TEST(Login, AnswersSuccessAndBothCredentialFaults)
{
    CamsimProcess sim(camsimArgs({ "--no-alarms", "--password", "s3cret" }));
    ASSERT_TRUE(sim.ready()) << sim.log();
    const Info info = cameraInfo(sim.cameras().at(0));

    LoginHelperEx ok(info, "admin", "s3cret", false);
    ASSERT_EQ(ok.Login(), 1001);
    const LoginInfo li = ok.info();
    EXPECT_EQ(li.device.id, 1);
    EXPECT_EQ(li.device.address, info.address);
    EXPECT_EQ(li.device.port, info.port);
    EXPECT_NE(li.loginValue, 0);
    EXPECT_EQ(li.videoWidth, 1920);
    EXPECT_EQ(li.videoHeight, 1080);
    EXPECT_EQ(li.hasThermalPicture, 1);

    // Each login gets a value of its own.
    LoginHelperEx second(info, "admin", "s3cret", false);
    ASSERT_EQ(second.Login(), 1001);
    EXPECT_NE(second.info().loginValue, li.loginValue);

    LoginHelperEx unknown(info, "root", "s3cret", false);
    EXPECT_EQ(unknown.Login(), 1011);
    EXPECT_EQ(unknown.info().loginValue, 0);
    LoginHelperEx wrong(info, "admin", "guess", false);
    EXPECT_EQ(wrong.Login(), 1012);
}

TEST(Login, GivesUpInBoundedTimeWhenNothingAnswers)
{
    const std::string base = uniqueLoopbackBase();
    // Nothing listens here: refused at once.
    Info closed;
    closed.address = loopbackAddress(base, 9);
    closed.port = 8800;
    auto t0 = Clock::now();
    EXPECT_EQ(LoginHelperEx(closed, "admin", "", false).Login(), Code::ConnectFailed);
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(patient(2)));

    // A listener that accepts connections but never says a word.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in sa {};
    sa.sin_family = AF_INET;
    inet_pton(AF_INET, loopbackAddress(base, 10).c_str(), &sa.sin_addr);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    ASSERT_EQ(::listen(fd, 4), 0);
    socklen_t len = sizeof sa;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    Info silent;
    silent.address = loopbackAddress(base, 10);
    silent.port = ntohs(sa.sin_port);
    ::setenv("KVSDK_LOGIN_TIMEOUT_MS", "600", 1);
    t0 = Clock::now();
    EXPECT_EQ(LoginHelperEx(silent, "admin", "", false).Login(), Code::Timeout);
    const auto took = Clock::now() - t0;
    ::unsetenv("KVSDK_LOGIN_TIMEOUT_MS");
    ::close(fd);
    EXPECT_GE(took, std::chrono::milliseconds(500));
    EXPECT_LT(took, std::chrono::seconds(patient(3)));

    Info empty;
    EXPECT_EQ(LoginHelperEx(empty, "admin", "", false).Login(), Code::InvalidArgument);
}

TEST(Config, ThermalBlockRoundTripsAndUnitSwitchFollowsPermission)
{
    CamsimProcess sim(camsimArgs({ "--no-alarms", "--cameras", "2", "--timezone", "-8" }));
    ASSERT_TRUE(sim.ready()) << sim.log();
    LoginHelperEx login(cameraInfo(sim.cameras().at(0)), "admin", "", false);
    ASSERT_EQ(login.Login(), 1001);
    NVConfigEx nv(login.info());

    AllConfigInfo all;
    ASSERT_EQ(nv.GetAllConfig(all), 1001);
    EXPECT_EQ(all.hasThermal, 1);
    EXPECT_EQ(all.timeZone, 65528);
    EXPECT_EQ(all.thermal.highTemp, 373);
    EXPECT_EQ(all.thermal.allowUnitSwitch, 1);
    EXPECT_EQ(all.thermal.tempUnit, 0);

    ThermalInfo t = all.thermal;
    t.highTemp = 380;
    t.lowTemp = 310;
    t.tempUnit = 1;
    ASSERT_EQ(nv.SetThermalInfoConfig(t), 1001);
    AllConfigInfo after;
    ASSERT_EQ(nv.GetAllConfig(after), 1001);
    EXPECT_EQ(after.thermal.highTemp, 380);
    EXPECT_EQ(after.thermal.lowTemp, 310);
    EXPECT_EQ(after.thermal.tempUnit, 1);

    t.highTemp = 9000;
    EXPECT_EQ(nv.SetThermalInfoConfig(t), Code::InvalidArgument);
    // The other camera keeps its own settings.
    LoginHelperEx other(cameraInfo(sim.cameras().at(1)), "admin", "", false);
    ASSERT_EQ(other.Login(), 1001);
    AllConfigInfo otherAll;
    ASSERT_EQ(NVConfigEx(other.info()).GetAllConfig(otherAll), 1001);
    EXPECT_EQ(otherAll.thermal.highTemp, 373);
}

TEST(Config, UnitSwitchIsRefusedWithoutPermission)
{
    CamsimProcess sim(camsimArgs({ "--no-alarms", "--no-unit-switch", "--unit", "f" }));
    ASSERT_TRUE(sim.ready()) << sim.log();
    LoginHelperEx login(cameraInfo(sim.cameras().at(0)), "admin", "", false);
    ASSERT_EQ(login.Login(), 1001);
    NVConfigEx nv(login.info());
    AllConfigInfo all;
    ASSERT_EQ(nv.GetAllConfig(all), 1001);
    EXPECT_EQ(all.thermal.allowUnitSwitch, 0);
    EXPECT_EQ(all.thermal.tempUnit, 1);
    ThermalInfo t = all.thermal;
    t.tempUnit = 0;
    EXPECT_EQ(nv.SetThermalInfoConfig(t), Code::PermissionDenied);
    // Claiming the permission in the request changes nothing.
    t.allowUnitSwitch = 1;
    EXPECT_EQ(nv.SetThermalInfoConfig(t), Code::PermissionDenied);
    // Thresholds alone may still change.
    t = all.thermal;
    t.highTemp = 375;
    EXPECT_EQ(nv.SetThermalInfoConfig(t), 1001);
    ASSERT_EQ(nv.GetAllConfig(all), 1001);
    EXPECT_EQ(all.thermal.tempUnit, 1);
    EXPECT_EQ(all.thermal.highTemp, 375);
}

TEST(Config, LegacyCameraHasOnlyTheAlarmPrompt)
{
    CamsimProcess sim(camsimArgs({ "--no-alarms", "--legacy-config" }));
    ASSERT_TRUE(sim.ready()) << sim.log();
    LoginHelperEx login(cameraInfo(sim.cameras().at(0)), "admin", "", false);
    ASSERT_EQ(login.Login(), 1001);
    NVConfigEx nv(login.info());
    AllConfigInfo all;
    ASSERT_EQ(nv.GetAllConfig(all), 1001);
    EXPECT_EQ(all.hasThermal, 0);
    EXPECT_EQ(all.alarmPrompt.highTemp, 373);
    AlarmPromptInfo p = all.alarmPrompt;
    p.highTemp = 369;
    p.enable = 1;
    ASSERT_EQ(nv.SetAlarmPromptInfoConfig(p), 1001);
    ASSERT_EQ(nv.GetAllConfig(all), 1001);
    EXPECT_EQ(all.alarmPrompt.highTemp, 369);
    EXPECT_EQ(nv.SetThermalInfoConfig(all.thermal), Code::PermissionDenied);
}

TEST(Config, EndedLoginIsRefused)
{
    CamsimProcess sim(camsimArgs({ "--no-alarms" }));
    ASSERT_TRUE(sim.ready()) << sim.log();
    LoginInfo stale;
    {
        LoginHelperEx login(cameraInfo(sim.cameras().at(0)), "admin", "", false);
        ASSERT_EQ(login.Login(), 1001);
        stale = login.info();
    }
    ASSERT_TRUE(sim.waitForLog("logout", std::chrono::seconds(patient(5))));
    AllConfigInfo all;
    EXPECT_EQ(NVConfigEx(stale).GetAllConfig(all), Code::NotLoggedIn);
    LoginInfo made = stale;
    made.loginValue = 12345;
    EXPECT_EQ(NVConfigEx(made).GetAllConfig(all), Code::NotLoggedIn);
}

TEST(Search, FindsEveryCameraWithItsRecord)
{
    CamsimProcess sim({ "--cameras", "3", "--address", "127.0.0.2", "--port", "0", "--search-port", "0", "--no-alarms",
        "--user", "operator" });
    ASSERT_TRUE(sim.ready()) << sim.log();
    const std::string target = "127.0.0.1:" + std::to_string(sim.searchPort());
    ::setenv("KVSDK_SEARCH_TARGETS", target.c_str(), 1);
    ::setenv("KVSDK_SEARCH_WINDOW_MS", "700", 1);
    Collector search;
    ASSERT_TRUE(search.Start());
    EXPECT_FALSE(search.Start()); // one search at a time
    search.Wait();
    ASSERT_EQ(search.records.size(), 3u);
    EXPECT_EQ(search.events.front(), "started");
    EXPECT_EQ(search.events.back(), "finished");
    for (int i = 0; i < 3; ++i) {
        const CamSearchRecord& r = search.records[i];
        const auto* raw = reinterpret_cast<const char*>(&r);
        EXPECT_STREQ(raw + 128, ("127.0.0." + std::to_string(2 + i)).c_str());
        int32_t port = 0;
        int32_t number = 0;
        std::memcpy(&port, raw + 224, 4);
        std::memcpy(&number, raw + 248, 4);
        EXPECT_EQ(port, sim.cameras().at(i).port);
        EXPECT_EQ(number, i + 1);
        EXPECT_STREQ(raw + 252, "operator");
        EXPECT_STREQ(raw + 380, "");
        EXPECT_NE(std::string(raw), "");
    }
    // A second search starts after the first.
    Collector again;
    ASSERT_TRUE(again.Start());
    again.Wait();
    EXPECT_EQ(again.records.size(), 3u);
    ::unsetenv("KVSDK_SEARCH_TARGETS");
    ::unsetenv("KVSDK_SEARCH_WINDOW_MS");
}

TEST(Search, WithoutCamerasStillStartsAndFinishes)
{
    ::setenv("KVSDK_SEARCH_TARGETS", "127.0.0.1:9, not-an-address, 127.0.0.1:99999", 1);
    ::setenv("KVSDK_SEARCH_WINDOW_MS", "300", 1);
    Collector search;
    const auto t0 = Clock::now();
    ASSERT_TRUE(search.Start());
    search.Wait();
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(patient(3)));
    EXPECT_EQ(search.events, (std::vector<std::string> { "started", "finished" }));
    ::unsetenv("KVSDK_SEARCH_TARGETS");
    ::unsetenv("KVSDK_SEARCH_WINDOW_MS");
}

// A finished hook that tries to search again and to wait, while the owner
// waits too: refused at once, and nobody hangs.
TEST(Search, HooksMayCallStartAndWait)
{
    class Restarter : public Collector {
    public:
        void OnSearchFinished() override
        {
            restartRefused = !Start();
            Wait();
            Collector::OnSearchFinished();
        }
        std::atomic<bool> restartRefused { false };
    };
    ::setenv("KVSDK_SEARCH_TARGETS", "127.0.0.1:9", 1);
    ::setenv("KVSDK_SEARCH_WINDOW_MS", "200", 1);
    {
        Restarter search;
        ASSERT_TRUE(search.Start());
        search.Wait();
        EXPECT_TRUE(search.restartRefused);
        EXPECT_EQ(search.events, (std::vector<std::string> { "started", "finished" }));
        EXPECT_FALSE(search.IsSearching());
    }
    ::unsetenv("KVSDK_SEARCH_TARGETS");
    ::unsetenv("KVSDK_SEARCH_WINDOW_MS");
}

TEST(Login, HelperEndsPromptlyAndEndsTheLogin)
{
    CamsimProcess sim(camsimArgs({ "--no-alarms" }));
    ASSERT_TRUE(sim.ready()) << sim.log();
    auto helper = std::make_unique<LoginHelperEx>(cameraInfo(sim.cameras().at(0)), "admin", "", false);
    ASSERT_EQ(helper->Login(), 1001);
    const LoginInfo info = helper->info();
    EXPECT_EQ(helper->Login(), 1001) << "a second call keeps the login it has";
    EXPECT_EQ(helper->info().loginValue, info.loginValue);
    std::this_thread::sleep_for(std::chrono::milliseconds(2500)); // a heartbeat or so
    AllConfigInfo all;
    EXPECT_EQ(NVConfigEx(info).GetAllConfig(all), 1001) << "heartbeats keep the login";
    auto t0 = Clock::now();
    helper.reset();
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(patient(500)));
    ASSERT_TRUE(sim.waitForLog("logout", std::chrono::seconds(patient(5))));
    EXPECT_EQ(NVConfigEx(info).GetAllConfig(all), Code::NotLoggedIn);

    // With the camera gone the helper is busy reconnecting; it still ends at once.
    helper = std::make_unique<LoginHelperEx>(cameraInfo(sim.cameras().at(0)), "admin", "", false);
    ASSERT_EQ(helper->Login(), 1001);
    sim.stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    t0 = Clock::now();
    helper.reset();
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(patient(500)));
}
