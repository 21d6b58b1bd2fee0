// Runs the phone tool against a test's device, as a user would.
#pragma once

#include <filesystem>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <sys/types.h>

#include <nlohmann/json.hpp>

namespace testing_support {

struct CommandResult {
    int status = -1;     // exit status, or -1 when it did not exit normally
    std::string output;  // standard output
    std::string errors;  // standard error
};

// A phone command started without waiting for it to end.
class RunningCommand {
public:
    RunningCommand(const std::filesystem::path& device, const std::vector<std::string>& args);
    ~RunningCommand(); // kills a command that has not finished
    RunningCommand(const RunningCommand&) = delete;
    RunningCommand& operator=(const RunningCommand&) = delete;

    pid_t pid() const { return pid_; }
    // Waits for the command to end.
    CommandResult finish();
    // Waits at most `seconds` (real time); a command still running then is
    // killed and fails the current test.
    CommandResult finish_within(double seconds);

private:
    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
};

// The process id that `phone run` prints first.
uint32_t started_pid(const std::string& output);

class Phone {
public:
    explicit Phone(std::filesystem::path device) : device_(std::move(device)) {}

    // `phone --device DIR args...`, waiting for it to finish.
    CommandResult run(const std::vector<std::string>& args) const;

    // Like run(), but fails the current test when the command fails, and
    // returns its standard output.
    std::string ok(const std::vector<std::string>& args) const;

    // Like run(), for a command that must end within `seconds` (real
    // time): one that hangs is killed and fails the current test.
    CommandResult run_within(const std::vector<std::string>& args, double seconds = 10) const;

    // `phone --device DIR args...`, left running.
    std::unique_ptr<RunningCommand> start(const std::vector<std::string>& args) const;

    // The event log of the device.
    std::vector<nlohmann::json> events(const std::string& event = {}) const;

    // Waits (real time, bounded) until an event of that name satisfying
    // `match` appears; returns it, or null when it never came.
    nlohmann::json wait_for(const std::string& event,
                            const std::function<bool(const nlohmann::json&)>& match = {},
                            double timeout_seconds = 20) const;

    // `phone ui` again (real time, bounded) until `done` holds for what it
    // prints: keys and taps reach a program in its own time.  Returns the
    // last one read.
    nlohmann::json ui_until(const std::function<bool(const nlohmann::json&)>& done,
                            double timeout_seconds = 20) const;

    const std::filesystem::path& device() const { return device_; }

private:
    std::filesystem::path device_;
};

} // namespace testing_support
