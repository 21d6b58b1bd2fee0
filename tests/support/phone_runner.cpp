// Runs the built phone tool as a child process with the test device in
// its environment, and collects its exit status and output.
#include "phone_runner.h"

#include <array>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "test_device.h"

extern char** environ;

namespace testing_support {
namespace {

std::string read_all(int fd)
{
    std::string text;
    std::array<char, 4096> buffer;
    ssize_t n;
    while ((n = ::read(fd, buffer.data(), buffer.size())) > 0)
        text.append(buffer.data(), static_cast<size_t>(n));
    return text;
}

} // namespace

uint32_t started_pid(const std::string& output)
{
    std::istringstream words(output);
    uint32_t pid = 0;
    words >> pid;
    return pid;
}

RunningCommand::RunningCommand(const std::filesystem::path& device, const std::vector<std::string>& args)
{
    std::vector<std::string> argv_text = {(bin_dir() / "phone").string(), "--device", device.string()};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& arg : argv_text)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    // Output goes to files, so a command that leaves a program running
    // (which inherits nothing) never blocks the test on a pipe.
    char out_name[] = "/tmp/phone-out-XXXXXX";
    char err_name[] = "/tmp/phone-err-XXXXXX";
    out_ = mkstemp(out_name);
    err_ = mkstemp(err_name);
    unlink(out_name);
    unlink(err_name);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out_, 1);
    posix_spawn_file_actions_adddup2(&actions, err_, 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
}

RunningCommand::~RunningCommand()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        finish();
    }
    close(out_);
    close(err_);
}

CommandResult RunningCommand::finish()
{
    CommandResult result;
    if (pid_ > 0) {
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    lseek(out_, 0, SEEK_SET);
    lseek(err_, 0, SEEK_SET);
    result.output = read_all(out_);
    result.errors = read_all(err_);
    return result;
}

CommandResult RunningCommand::finish_within(double seconds)
{
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    siginfo_t ended{};
    while (pid_ > 0 && waitid(P_PID, static_cast<id_t>(pid_), &ended, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           ended.si_pid == 0) {
        if (std::chrono::steady_clock::now() >= give_up) {
            ADD_FAILURE() << "a phone command still runs after " << seconds << " s: killed";
            ::kill(pid_, SIGKILL);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return finish();
}

CommandResult Phone::run(const std::vector<std::string>& args) const
{
    return RunningCommand(device_, args).finish();
}

CommandResult Phone::run_within(const std::vector<std::string>& args, double seconds) const
{
    return RunningCommand(device_, args).finish_within(seconds);
}

std::unique_ptr<RunningCommand> Phone::start(const std::vector<std::string>& args) const
{
    return std::make_unique<RunningCommand>(device_, args);
}

std::string Phone::ok(const std::vector<std::string>& args) const
{
    CommandResult result = run(args);
    std::string line;
    for (const auto& arg : args)
        line += " " + arg;
    EXPECT_EQ(result.status, 0) << "phone" << line << ": " << result.errors;
    return result.output;
}

std::vector<nlohmann::json> Phone::events(const std::string& event) const
{
    std::vector<nlohmann::json> selected;
    std::ifstream in(device_ / "events.jsonl");
    std::string text;
    while (std::getline(in, text)) {
        auto e = nlohmann::json::parse(text, nullptr, false);
        if (e.is_object() && (event.empty() || e.value("event", "") == event))
            selected.push_back(std::move(e));
    }
    return selected;
}

nlohmann::json Phone::ui_until(const std::function<bool(const nlohmann::json&)>& done,
                               double timeout_seconds) const
{
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_seconds);
    nlohmann::json ui = nlohmann::json::parse(ok({"ui"}), nullptr, false);
    while (!done(ui) && std::chrono::steady_clock::now() < give_up) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ui = nlohmann::json::parse(ok({"ui"}), nullptr, false);
    }
    return ui;
}

nlohmann::json Phone::wait_for(const std::string& event,
                               const std::function<bool(const nlohmann::json&)>& match,
                               double timeout_seconds) const
{
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_seconds);
    do {
        for (auto& e : events(event))
            if (!match || match(e))
                return e;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < give_up);
    return nullptr;
}

} // namespace testing_support
