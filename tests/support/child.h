// Forked children for tests that need other processes (or another user) on
// the same device.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>

namespace testing_support {

// A forked child that runs `body` and then waits to be killed; the
// constructor returns once `body` is done.
class Child {
public:
    explicit Child(const std::function<void()>& body);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    void kill_now();
    uint32_t pid() const { return static_cast<uint32_t>(pid_ > 0 ? pid_ : -pid_); }

private:
    pid_t pid_ = -1;
};

// Runs `body` in a forked child; its result is the child's exit code, and
// -1 stands for a child that did not exit normally (a crash).
int exit_code_in_child(const std::function<int()>& body);

// Runs `body` in a forked child that sees a small, empty file system of
// `kilobytes` mounted at `folder` (in a mount namespace of its own, so
// nothing outlives the child); its result is the child's exit code, and
// no_small_file_system when the child could not mount one (not root).
constexpr int no_small_file_system = 100;
int exit_code_on_small_file_system(const std::filesystem::path& folder, int kilobytes,
                                   const std::function<int()>& body);

// Whether this process may become another user (it runs as root).
bool can_become_another_user();

// Makes the calling (forked) process the user "nobody"; false if it cannot.
bool become_another_user();

} // namespace testing_support
