// Programs on the device as real processes: phone run and ps, waits on
// processes, exit codes, termination, and the named mutex between programs.
#include <fstream>

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <windows.h>

#include "kernel/process_table.h"
#include "phone_runner.h"
#include "test_device.h"

using testing_support::Phone;
using testing_support::started_pid;
using testing_support::TempDevice;

namespace {

const std::string tiny = TINY_PROGRAM;

// The exit code the program logged when it ended.
nlohmann::json exit_of(const Phone& phone, uint32_t pid)
{
    return phone.wait_for("process.exit", [pid](const nlohmann::json& e) { return e["pid"] == pid; });
}

// Whether the process behind `pidfd` has ended, waiting up to `ms` for it.
bool ended(int pidfd, int ms)
{
    pollfd death{pidfd, POLLIN, 0};
    return ::poll(&death, 1, ms) == 1;
}

int pidfd_of(uint32_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0)); }

} // namespace

TEST(PhoneRun, NoProgramOutlivesItsDevice)
{
    // A program that would wait a day: the test device ends it before it
    // goes, and does not return before it has ended.
    int waiting = -1;
    {
        TempDevice dev;
        waiting = pidfd_of(started_pid(Phone(dev.dir()).ok({"run", tiny, "exit", "0", "86400000"})));
        ASSERT_GE(waiting, 0);
    }
    EXPECT_TRUE(ended(waiting, 0));
    ::close(waiting);

    // A device thrown away under a running program: the program ends itself.
    TempDevice dev;
    const int orphan = pidfd_of(started_pid(Phone(dev.dir()).ok({"run", tiny, "exit", "0", "86400000"})));
    ASSERT_GE(orphan, 0);
    std::filesystem::remove_all(dev.dir());
    EXPECT_TRUE(ended(orphan, 10000)); // bounded only so that a failure does not hang the suite
    ::close(orphan);
}

TEST(PhoneRun, StartsADetachedProgramWhoseEndWaitersSee)
{
    TempDevice dev(nlohmann::json{{"clock_rate", 20}});
    Phone phone(dev.dir());
    // The program must still run when the test opens it: 30000 device ms at
    // rate 20 leave a loaded host a second and a half of real time for that.
    const uint32_t pid = started_pid(phone.ok({"run", tiny, "exit", "7", "30000"}));
    ASSERT_NE(pid, 0u);
    EXPECT_EQ(getsid(static_cast<pid_t>(pid)), static_cast<pid_t>(pid)); // a session of its own

    HANDLE proc = OpenProcess(0, FALSE, pid);
    ASSERT_NE(proc, nullptr);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(proc, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(WaitForSingleObject(proc, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(GetExitCodeProcess(proc, &code));
    EXPECT_EQ(code, 7u);
    CloseHandle(proc);

    auto start = phone.wait_for("process.start", [pid](const nlohmann::json& e) { return e["pid"] == pid; });
    EXPECT_EQ(start["cmdline"], "exit 7 30000");
    EXPECT_EQ(start["exe"], "TinyProgram.exe");
    EXPECT_EQ(exit_of(phone, pid)["code"], 7);
    EXPECT_FALSE(wince::process::alive(pid));
}

TEST(PhoneRun, DevicePathsRunInstalledProgramsWhichSeeTheirDevicePath)
{
    TempDevice dev;
    Phone phone(dev.dir());
    const auto installed = dev.dir() / "Program Files/CallTicker/TinyProgram.exe";
    std::filesystem::create_directories(installed.parent_path());
    std::filesystem::copy_file(tiny, installed);
    const uint32_t pid = started_pid(phone.ok({"run", "\\Program Files\\CallTicker\\TinyProgram.exe", "path"}));
    ASSERT_NE(pid, 0u);
    EXPECT_EQ(exit_of(phone, pid)["code"], 0);
    std::ifstream log(dev.dir() / "run" / ("TinyProgram.exe." + std::to_string(pid) + ".log"));
    std::string line;
    std::getline(log, line);
    EXPECT_EQ(line, "\\Program Files\\CallTicker\\TinyProgram.exe");
}

TEST(PhoneRun, MissingProgramsAreOneClearError)
{
    TempDevice dev;
    Phone phone(dev.dir());
    auto result = phone.run({"run", "\\Program Files\\CallTicker\\Nothing.exe"});
    EXPECT_NE(result.status, 0);
    EXPECT_NE(result.errors.find("no program at"), std::string::npos) << result.errors;
    EXPECT_EQ(std::count(result.errors.begin(), result.errors.end(), '\n'), 1);
    EXPECT_TRUE(result.output.empty());
}

TEST(PhoneRun, AProgramThatEndsBeforeItFirstWaitsIsReportedWithHowItEnded)
{
    TempDevice dev(nlohmann::json{{"clock_rate", 20}});
    Phone phone(dev.dir());
    const std::string quick = phone.ok({"run", tiny, "exit", "3"});
    EXPECT_EQ(quick, std::to_string(started_pid(quick)) + " TinyProgram.exe exited at once with code 3\n");

    const std::string killed = phone.ok({"run", "--", "/bin/sh", "-c", "kill -KILL $$"});
    EXPECT_EQ(killed, std::to_string(started_pid(killed)) + " sh was ended at once by signal 9 (Killed)\n");

    // One that waits first has started, whatever it does later.
    const std::string waiting = phone.ok({"run", tiny, "exit", "4", "1000"});
    EXPECT_EQ(waiting, std::to_string(started_pid(waiting)) + " TinyProgram.exe\n");
    EXPECT_EQ(exit_of(phone, started_pid(waiting))["code"], 4);
}

TEST(PhoneRun, PsListsRunningProgramsAndTerminationEndsThem)
{
    TempDevice dev;
    Phone phone(dev.dir());
    const uint32_t pid = started_pid(phone.ok({"run", tiny, "exit", "0", "600000"}));
    ASSERT_NE(pid, 0u);
    const std::string listing = phone.ok({"ps"});
    EXPECT_NE(listing.find(std::to_string(pid) + " "), std::string::npos) << listing;
    EXPECT_NE(listing.find("TinyProgram.exe"), std::string::npos) << listing;
    EXPECT_NE(listing.find("thread " + std::to_string(pid) + " (main)"), std::string::npos) << listing;

    HANDLE proc = OpenProcess(0, FALSE, pid);
    ASSERT_NE(proc, nullptr);
    EXPECT_EQ(WaitForSingleObject(proc, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(TerminateProcess(proc, 9));
    EXPECT_EQ(WaitForSingleObject(proc, INFINITE), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(proc, &code));
    EXPECT_EQ(code, 9u);
    CloseHandle(proc);
    EXPECT_EQ(exit_of(phone, pid)["code"], 9);
    EXPECT_EQ(phone.ok({"ps"}).find(std::to_string(pid) + " "), std::string::npos);
    EXPECT_EQ(OpenProcess(0, FALSE, pid), nullptr);
}

TEST(PhoneRun, AProgramKilledFromOutsideEndsWithAFailureCode)
{
    TempDevice dev;
    Phone phone(dev.dir());
    const uint32_t pid = started_pid(phone.ok({"run", tiny, "exit", "0", "600000"}));
    HANDLE proc = OpenProcess(0, FALSE, pid);
    ASSERT_NE(proc, nullptr);
    kill(static_cast<pid_t>(pid), SIGKILL);
    EXPECT_EQ(WaitForSingleObject(proc, INFINITE), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(proc, &code));
    EXPECT_EQ(code, 1u);
    CloseHandle(proc);
}

TEST(PhoneRun, ProgramsShareMutexNamesAndRunThreads)
{
    TempDevice dev;
    Phone phone(dev.dir());
    HANDLE held = CreateMutexW(nullptr, FALSE, L"_CALL_TICKER_EXE_MUTEX_");
    ASSERT_NE(held, nullptr);
    uint32_t pid = started_pid(phone.ok({"run", tiny, "probe-mutex", "_CALL_TICKER_EXE_MUTEX_"}));
    EXPECT_EQ(exit_of(phone, pid)["code"], ERROR_ALREADY_EXISTS);
    CloseHandle(held);
    pid = started_pid(phone.ok({"run", tiny, "probe-mutex", "_CALL_TICKER_EXE_MUTEX_"}));
    EXPECT_EQ(exit_of(phone, pid)["code"], 0);

    pid = started_pid(phone.ok({"run", tiny, "thread", "5"}));
    EXPECT_EQ(exit_of(phone, pid)["code"], 5);
}
