#include <gtest/gtest.h>

#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <ze/vcomcal/meter.h>

namespace ze::vcomcal {
namespace {

// Answers 1 + |value - 100| / 2 per line; line "7" gets garbage, "9" ends it.
constexpr const char* kStdioMeter = R"(while read v; do
  case $v in
    7) echo 'ERR probe';;
    9) exit 4;;
    *) d=$((v - 100)); echo "  $(( (d < 0 ? -d : d) / 2 + 1 )).25 ";;
  esac
done
)";

// Blocks until the meter script writes a line to the FIFO `path`.
std::string awaitLine(const std::string& path)
{
    std::ifstream fifo(path);
    std::string line;
    std::getline(fifo, line);
    return line;
}

class Meters : public ::testing::Test {
protected:
    Meters()
    {
        // The meters' orphans come here to be reaped (PID 1 may leave them).
        prctl(PR_SET_CHILD_SUBREAPER, 1);
        std::ofstream(script) << kStdioMeter;
    }
    ~Meters() override { std::filesystem::remove_all(dir); }

    std::string dir = [] {
        std::string name = std::filesystem::temp_directory_path() / "vcomcal-meter-XXXXXX";
        return std::string(mkdtemp(name.data()));
    }();
    std::string script = dir + "/meter.sh";
};

std::string failure(Meter& meter, unsigned value)
{
    try {
        meter.read(value);
    } catch (const MeterError& e) {
        return e.what();
    }
    return "no error";
}

// True when a process of the group has not ended (a zombie has).
bool groupHasLiveMember(pid_t group)
{
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream in(entry.path() / "stat");
        std::string stat;
        if (!std::getline(in, stat)) continue;
        // "pid (comm) state ppid pgrp ...": comm may hold blanks and parentheses.
        std::istringstream fields(stat.substr(stat.rfind(')') + 1));
        char state = 0;
        pid_t parent = 0, pgrp = 0;
        if (fields >> state >> parent >> pgrp && pgrp == group && state != 'Z' && state != 'X')
            return true;
    }
    return false;
}

// True once no process of the group is left. As their subreaper the test
// reaps every member: an orphan is handed over before its parent can be
// reaped. Where the test cannot be one (qemu-user keeps the request from the
// kernel), orphans end as init's zombies; those still dying are yielded to.
bool groupEnded(pid_t group)
{
    while (waitpid(-group, nullptr, 0) > 0) {
    }
    constexpr int kYields = 1000000;
    for (int i = 0; i < kYields; ++i) {
        if (!groupHasLiveMember(group)) return true;
        sched_yield();
    }
    return false;
}

TEST_F(Meters, aStdioMeterAnswersALinePerValueAndEachFaultIsAnError)
{
    const auto meter = stdioMeter("sh " + script);
    EXPECT_DOUBLE_EQ(1.25, meter->read(100));
    EXPECT_DOUBLE_EQ(5.25, meter->read(108));
    EXPECT_EQ("meter 'sh " + script + "' printed 'ERR probe', not one number", failure(*meter, 7));
    EXPECT_DOUBLE_EQ(3.25, meter->read(96));
    EXPECT_EQ("meter 'sh " + script + "' ended without a reading (exit status 4)",
              failure(*meter, 9));
}

TEST_F(Meters, aCommandMeterSeesTheValueAndFailsOnExitStatusOrGarbage)
{
    EXPECT_DOUBLE_EQ(42.5, commandMeter("echo $((VCOM_VALUE / 2)).5")->read(85));
    EXPECT_EQ("meter 'sh -c \"exit 3\"' failed (exit status 3)",
              failure(*commandMeter("sh -c \"exit 3\""), 1));
    EXPECT_EQ("meter 'echo 1 2' printed '1 2', not one number",
              failure(*commandMeter("echo 1 2"), 1));
    EXPECT_NE(std::string::npos,
              failure(*commandMeter("no-such-meter-xyz"), 1).find("cannot start"));
    // Quoted output stays short and printable.
    EXPECT_EQ(R"(meter 'printf "\377x\n"' printed '\xffx', not one number)",
              failure(*commandMeter(R"(printf "\377x\n")"), 1));
    const std::string endless = failure(*stdioMeter("yes 7 | tr -d '\\n'"), 1);
    EXPECT_NE(std::string::npos, endless.find("printed more than 65536 bytes on a line: '777"))
        << endless.substr(0, 200);
    EXPECT_LT(endless.size(), 200u);
}

TEST_F(Meters, aStdioMeterAnswerIsTheFirstLineAfterItsRequest)
{
    const std::string said = dir + "/said";
    ASSERT_EQ(0, mkfifo(said.c_str(), 0600));
    std::ofstream(script) << "echo 55; echo banner > " << said << "\n"
                          << "while read v; do echo $v.5; echo 66; echo $v > " << said
                          << "; done\n";
    const auto meter = stdioMeter("sh " + script);
    ASSERT_EQ("banner", awaitLine(said));
    EXPECT_DOUBLE_EQ(100.5, meter->read(100));
    ASSERT_EQ("100", awaitLine(said));
    EXPECT_DOUBLE_EQ(101.5, meter->read(101));
    ASSERT_EQ("101", awaitLine(said));
    EXPECT_EQ(2u, meter->staleLines());
}

TEST_F(Meters, nothingTheMeterStartedOutlivesATimeoutAStopOrItsMeter)
{
    struct Case {
        bool stdio;
        const char* body;  // after it has written its process group's id
        std::chrono::milliseconds timeout;
        bool stops;         // a stop is requested once the meter runs
        const char* error;  // "": the reading succeeds, then the meter is destroyed
    };
    constexpr std::chrono::milliseconds kShort{300};
    constexpr std::chrono::milliseconds kAmple{10000};
    const Case cases[] = {
        {false, "sleep 60 & sleep 30", kShort, false, "gave no reading within 300 ms"},
        {false, "trap '' TERM; sleep 60 & sleep 30", kShort, false,
         "gave no reading within 300 ms"},
        {true, "sleep 60 & while read v; do :; done", kAmple, true,
         "abandoned: a stop was requested"},
        {true, "trap '' TERM; sleep 60 & while read v; do echo 1; done", kAmple, false, ""},
    };
    // As in vcomctl, whose signal thread takes the stop signals.
    sigset_t stops, before;
    sigemptyset(&stops);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, signal);
    pthread_sigmask(SIG_BLOCK, &stops, &before);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        const std::string groupFile = dir + "/group";
        std::ofstream(script) << "echo $$ > " << groupFile << ".new; mv " << groupFile << ".new "
                              << groupFile << "; " << c.body << "\n";
        const StopRequested stop = [&] { return c.stops && std::filesystem::exists(groupFile); };
        std::unique_ptr<Meter> meter = c.stdio ? stdioMeter("sh " + script, c.timeout, stop)
                                               : commandMeter("sh " + script, c.timeout, stop);
        if (*c.error == '\0') {
            EXPECT_DOUBLE_EQ(1, meter->read(1));
        } else {
            EXPECT_NE(std::string::npos, failure(*meter, 1).find(c.error));
        }
        meter.reset();
        std::ifstream in(groupFile);
        pid_t group = 0;
        ASSERT_TRUE(in >> group);
        EXPECT_TRUE(groupEnded(group));
        kill(-group, SIGKILL);
        std::remove(groupFile.c_str());
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

}  // namespace
}  // namespace ze::vcomcal
