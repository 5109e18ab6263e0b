// fixlink-cli run against the alarm-service peer: its JSON lines on
// standard output and its exit codes.

#include <alarmpeer/AlarmPeer.h>

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace {

struct CliResult {
    std::vector<std::string> lines;
    int exitCode = -1;
};

std::string cliPath()
{
    const char* build = std::getenv("ARDENIX_BUILD_DIR");
    return std::string(build ? build : "..") + "/bin/fixlink-cli";
}

class CliRun {
public:
    // A hung client is ended rather than holding the test until its overall
    // limit.
    explicit CliRun(const std::string& arguments)
        : m_pipe(::popen(("timeout 60 " + cliPath() + " " + arguments + " 2>/dev/null").c_str(), "r"))
    {
    }

    CliResult finish()
    {
        CliResult run;
        if (!m_pipe)
            return run;
        char line[4096];
        while (std::fgets(line, sizeof line, m_pipe)) {
            std::string s(line);
            if (!s.empty() && s.back() == '\n')
                s.pop_back();
            run.lines.push_back(s);
        }
        const int status = ::pclose(m_pipe);
        m_pipe = nullptr;
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return run;
    }

    ~CliRun()
    {
        if (m_pipe)
            finish();
    }

private:
    FILE* m_pipe;
};

bool contains(const CliResult& run, const std::string& line)
{
    return std::find(run.lines.begin(), run.lines.end(), line) != run.lines.end();
}

} // namespace

TEST(FixlinkCli, ReportsASessionAsJsonLines)
{
    alarmpeer::AlarmPeer peer;
    ASSERT_TRUE(peer.start());
    CliRun cli("--ip 127.0.0.1 --port " + std::to_string(peer.loginPort())
        + " --value-a 12 --value-b 34 --flag 1 --timeout 3 --register --seconds 2");
    ASSERT_TRUE(peer.waitForFrames(
        [](const std::vector<alarmpeer::ReceivedFrame>& frames) {
            return std::any_of(frames.begin(), frames.end(), [](const auto& f) { return f.command == 10; });
        },
        10s));
    EXPECT_EQ(peer.sendJson("{not json"), 1);
    EXPECT_EQ(peer.sendTempAlarm(1, 381, 1765000000), 1);
    EXPECT_EQ(peer.sendJson(R"({"method":"event_occured","param":{"key":"e.temp_alarm","params":{"temp":36.6}}})"), 1);
    const CliResult run = cli.finish();

    EXPECT_EQ(run.exitCode, 0);
    ASSERT_FALSE(run.lines.empty());
    for (const auto& line : run.lines)
        EXPECT_TRUE(line.rfind("{\"event\":\"", 0) == 0 && line.back() == '}') << "not a JSON event line: " << line;
    EXPECT_TRUE(contains(run, R"({"event":"status","status":"Connected"})"));
    EXPECT_TRUE(contains(run, R"({"event":"connect","result":0})"));
    EXPECT_TRUE(contains(run, R"({"event":"register","result":0})"));
    EXPECT_TRUE(contains(run, R"({"event":"registerResult","code":1})"));
    EXPECT_TRUE(contains(run,
        R"({"event":"alarm","alarmType":{"state":1,"value":1},"temp":{"state":1,"value":381},)"
        R"("ts":{"state":1,"value":1765000000}})"));
    EXPECT_TRUE(contains(run,
        R"({"event":"alarm","alarmType":{"state":3,"value":0},"temp":{"state":3,"value":0},)"
        R"("ts":{"state":3,"value":0}})"));
    EXPECT_EQ(run.lines.back(), R"({"event":"disconnect","result":0})");
    EXPECT_EQ(run.lines.size(), 7u);

    const auto logins = peer.logins();
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_EQ(logins[0].requestValueA, 12);
    EXPECT_EQ(logins[0].requestValueB, 34);
    EXPECT_EQ(logins[0].requestFlag, 1);
}

TEST(FixlinkCli, RefusedLoginAndBadArguments)
{
    alarmpeer::AlarmPeer peer;
    ASSERT_TRUE(peer.start());
    peer.setLoginMode(alarmpeer::LoginMode::Refuse);
    CliResult run = CliRun("--ip 127.0.0.1 --port " + std::to_string(peer.loginPort()) + " --seconds 1").finish();
    EXPECT_EQ(run.lines, std::vector<std::string> { R"({"event":"connect","result":-7})" });
    EXPECT_NE(run.exitCode, 0);

    for (const char* arguments : { "", "--ip 127.0.0.1", "--ip 127.0.0.1 --port 70000",
             "--ip 127.0.0.1111111111111 --port 1", "--ip 127.0.0.1 --port 5 --value-a x",
             "--ip 127.0.0.1 --port 5 --seconds -1", "--ip 127.0.0.1 --port 5 --bogus 1" }) {
        run = CliRun(arguments).finish();
        EXPECT_EQ(run.exitCode, 2) << arguments;
        EXPECT_TRUE(run.lines.empty()) << arguments;
    }
}
