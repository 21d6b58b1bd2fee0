// Forked test children.
#include "child.h"

#include <csignal>
#include <string>

#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace testing_support {
namespace {

constexpr uid_t nobody = 65534;

} // namespace

Child::Child(const std::function<void()>& body)
{
    int ready[2];
    EXPECT_EQ(pipe(ready), 0);
    pid_ = fork();
    if (pid_ == 0) {
        close(ready[0]);
        body();
        char done = 1;
        if (write(ready[1], &done, 1) != 1)
            _exit(1);
        for (;;)
            pause();
    }
    close(ready[1]);
    char done = 0;
    EXPECT_EQ(read(ready[0], &done, 1), 1);
    close(ready[0]);
}

Child::~Child()
{
    if (pid_ > 0)
        kill_now();
}

void Child::kill_now()
{
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -pid_;
}

int exit_code_in_child(const std::function<int()>& body)
{
    const pid_t child = fork();
    if (child == 0)
        _exit(body());
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int exit_code_on_small_file_system(const std::filesystem::path& folder, int kilobytes,
                                   const std::function<int()>& body)
{
    std::filesystem::create_directories(folder);
    return exit_code_in_child([&] {
        const std::string size = "size=" + std::to_string(kilobytes) + "k";
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", folder.c_str(), "tmpfs", 0, size.c_str()) != 0)
            return no_small_file_system;
        return body();
    });
}

bool can_become_another_user() { return geteuid() == 0; }

bool become_another_user()
{
    return setgroups(0, nullptr) == 0 && setgid(nobody) == 0 && setuid(nobody) == 0;
}

} // namespace testing_support
