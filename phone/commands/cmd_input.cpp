// phone post / phone key: messages and hardware keys into the device's
// programs, as another program or the keypad would send them.
#include <cstdio>

#include <windows.h>

#include "commands/commands.h"
#include "input/keys.h"
#include "kernel/process_table.h"
#include "user/toplevel.h"

namespace phone {
namespace {

namespace toplevel = wince::user::toplevel;

struct PostOptions {
    std::string process;
    std::string thread;
    std::string window;
    std::string message;
    std::string wparam = "0";
    std::string lparam = "0";
};

void post_to_threads(const std::vector<uint32_t>& threads, UINT msg, WPARAM wparam, LPARAM lparam,
                     const std::string& receiver)
{
    if (threads.empty())
        throw Failure(receiver + " has no threads to post to");
    bool any = false;
    for (uint32_t tid : threads)
        any = PostThreadMessageW(tid, msg, wparam, lparam) || any;
    if (!any)
        throw Failure("could not post to " + receiver + ": it is no longer running");
}

void run_post(const PostOptions& o)
{
    const UINT msg = parse_message(o.message);
    // The device's WPARAM and LPARAM are 32 bits wide.
    const WPARAM wparam = parse_uint32(o.wparam, "wparam");
    const LPARAM lparam = static_cast<LPARAM>(parse_uint32(o.lparam, "lparam"));
    if (!o.process.empty()) {
        auto info = wince::process::find_by_exe(o.process);
        if (!info)
            throw Failure("no program '" + o.process + "' is running on the device");
        post_to_threads(info->threads, msg, wparam, lparam, o.process + " (" + std::to_string(info->pid) + ")");
    } else if (!o.thread.empty()) {
        const auto tid = parse_uint32(o.thread, "thread id");
        if (!wince::process::owner_of_thread(tid))
            throw Failure("no thread " + o.thread + " runs on the device");
        post_to_threads({tid}, msg, wparam, lparam, "thread " + o.thread);
    } else {
        auto window = toplevel::find_by_class(o.window);
        if (!window)
            throw Failure("no window of class '" + o.window + "' on the device");
        if (!PostMessageW(reinterpret_cast<HWND>(static_cast<uintptr_t>(window->hwnd)), msg, wparam, lparam))
            throw Failure("could not post to the window of class '" + o.window + "': its program has ended");
    }
}

void run_keys(const std::vector<std::string>& names)
{
    std::vector<wince::user::Key> keys;
    for (const auto& name : names)
        keys.push_back(key_named(name));
    for (const auto& key : keys)
        press_key(key);
}

} // namespace

void add_input_commands(CLI::App& app)
{
    auto options = std::make_shared<PostOptions>();
    auto* post = app.add_subcommand("post", "Post a message to a program, a thread or a window");
    auto* by_process = post->add_option("--process", options->process, "Every thread of the first program with this file name")
                           ->type_name("EXE");
    auto* by_thread = post->add_option("--thread", options->thread, "The thread with this id")->type_name("TID");
    auto* by_window = post->add_option("--window", options->window, "The first top-level window of this class")
                          ->type_name("CLASS");
    by_process->excludes(by_thread, by_window);
    by_thread->excludes(by_window);
    post->add_option("MSG", options->message,
                     "Message number or name: WM_NULL, WM_CREATE, WM_DESTROY, WM_CLOSE, WM_QUIT, WM_KEYDOWN,\n"
                     "WM_KEYUP, WM_CHAR, WM_COMMAND, WM_TIMER, WM_USER, WM_CALL_CONNECTED, WM_CALL_ENDED,\n"
                     "WM_MONITOR_QUIT")
        ->required();
    post->add_option("WPARAM", options->wparam, "wParam (default 0)");
    post->add_option("LPARAM", options->lparam, "lParam (default 0)");
    post->callback([options] {
        if (options->process.empty() && options->thread.empty() && options->window.empty())
            throw Failure("post needs one of --process EXE, --thread TID or --window CLASS");
        run_post(*options);
    });

    auto names = std::make_shared<std::vector<std::string>>();
    auto* key = app.add_subcommand("key", "Press hardware keys: F1 F2 (soft keys) RETURN ESCAPE TAB UP DOWN LEFT RIGHT SPACE BACK, TTALK TEND (talk, end) TVOLUMEUP TVOLUMEDOWN, SHIFT+KEY, characters");
    key->add_option("KEY", *names, "Keys, pressed in order")->required();
    key->callback([names] { run_keys(*names); });
}

} // namespace phone
