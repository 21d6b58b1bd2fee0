// Emulates posting: PostMessageW and PostThreadMessageW to this process's
// queues (bounded: a full queue refuses with ERROR_NOT_ENOUGH_QUOTA) and,
// over the channel, to another process's windows and threads, and
// PostQuitMessage.  Leaves out PostMessage's HWND_BROADCAST and the
// desktop's message-only windows.
#include "queue.h"

#include "crt/errors.h"
#include "device/channel.h"
#include "device/device.h"
#include "device/eventlog.h"
#include "kernel/process_table.h"
#include "kernel/sync.h"
#include "state.h"
#include "toplevel.h"

namespace wince::user {
namespace {

// The most messages a thread's queue holds posted and not yet taken, as on
// the desktop by default (USERPostMessageLimit): past it a post fails with
// ERROR_NOT_ENOUGH_QUOTA, so a flood cannot grow a queue without end.
constexpr size_t posted_message_limit = 10000;

enum class Post { posted, no_target, over_quota };

// Posts to thread `tid` of this process, giving a live thread that has no
// queue yet its queue; the process table is read without the kernel lock.
Post post_to_thread(uint32_t tid, UINT msg, WPARAM wparam, LPARAM lparam)
{
    const auto posted = [&](Queue& queue) {
        return post_locked(queue, nullptr, msg, wparam, lparam) ? Post::posted : Post::over_quota;
    };
    {
        auto held = sync::lock();
        Queue* queue = queue_of(tid);
        if (queue && queue->attached)
            return posted(*queue);
    }
    const bool live = tid == current_tid() || process::owner_of_thread(tid) == current_pid();
    auto held = sync::lock();
    if (!live) {
        // A queue made for a thread that never pumped outlives it; drop it.
        Queue* queue = queue_of(tid);
        if (queue && !queue->attached)
            state().queues.erase(tid);
        return Post::no_target;
    }
    return posted(state().queues[tid]);
}

Post post_to_window(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam)
{
    auto held = sync::lock();
    const Window* w = find_window(hwnd);
    if (w == nullptr || w->destroying)
        return Post::no_target;
    return post_locked(state().queues[w->thread], hwnd, msg, wparam, lparam) ? Post::posted : Post::over_quota;
}

nlohmann::json message_fields(UINT msg, WPARAM wparam, LPARAM lparam)
{
    return {{"msg", msg}, {"wparam", static_cast<uint64_t>(wparam)}, {"lparam", static_cast<int64_t>(lparam)}};
}

void register_channel_handlers()
{
    static const bool registered = [] {
        using channel::Type;
        channel::on("post_thread",
                    {{"tid", Type::u32}, {"msg", Type::u32}, {"wparam", Type::u64}, {"lparam", Type::i64}},
                    [](const nlohmann::json& m) {
                        deliver_thread_message(m["tid"].get<uint32_t>(), m["msg"].get<UINT>(),
                                               m["wparam"].get<uint64_t>(), m["lparam"].get<int64_t>());
                    });
        channel::on("post_window",
                    {{"hwnd", Type::u64}, {"msg", Type::u32}, {"wparam", Type::u64}, {"lparam", Type::i64}},
                    [](const nlohmann::json& m) {
                        deliver_window_message(hwnd_from_value(m["hwnd"].get<uint64_t>()), m["msg"].get<UINT>(),
                                               m["wparam"].get<uint64_t>(), m["lparam"].get<int64_t>());
                    });
        return true;
    }();
    (void)registered;
}

// So that a process which never touched a queue still receives posts.
[[maybe_unused]] const bool handlers_at_start = (register_channel_handlers(), true);

} // namespace

bool post_locked(Queue& queue, HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam, bool to_focus)
{
    if (queue.posted.size() >= posted_message_limit)
        return false;
    queue.posted.push_back(PostedMessage{hwnd, message, wparam, lparam, message_time(), to_focus});
    sync::wake_all();
    return true;
}

bool deliver_thread_message(uint32_t tid, UINT msg, WPARAM wparam, LPARAM lparam)
{
    return post_to_thread(tid, msg, wparam, lparam) == Post::posted;
}

bool deliver_window_message(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam)
{
    return post_to_window(hwnd, msg, wparam, lparam) == Post::posted;
}

} // namespace wince::user

using namespace wince;
using namespace wince::user;

BOOL WINAPI PostThreadMessageW(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    uint32_t to_pid = 0;
    bool ok = false;
    Post local = Post::no_target;
    if (device::inject_fault("PostThreadMessageW")) {
        ok = false;
    } else if ((local = post_to_thread(idThread, Msg, wParam, lParam)) != Post::no_target) {
        to_pid = current_pid();
        ok = local == Post::posted;
    } else if (auto owner = process::owner_of_thread(idThread); owner && *owner != current_pid()) {
        to_pid = *owner;
        nlohmann::json message = message_fields(Msg, wParam, lParam);
        message["kind"] = "post_thread";
        message["tid"] = idThread;
        ok = channel::send(*owner, message);
    }
    nlohmann::json fields = {{"to_pid", to_pid}, {"tid", idThread}};
    fields.update(message_fields(Msg, wParam, lParam));
    fields["ok"] = ok;
    eventlog::write("thread.post", fields);
    if (!ok)
        return fail(local == Post::over_quota ? ERROR_NOT_ENOUGH_QUOTA : ERROR_INVALID_THREAD_ID, FALSE);
    return TRUE;
}

BOOL WINAPI PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    const Post local = hWnd == nullptr ? post_to_thread(current_tid(), Msg, wParam, lParam)
                                       : post_to_window(hWnd, Msg, wParam, lParam);
    if (local == Post::posted)
        return TRUE;
    if (local == Post::over_quota)
        return fail(ERROR_NOT_ENOUGH_QUOTA, FALSE);
    if (hWnd == nullptr)
        return fail(ERROR_INVALID_THREAD_ID, FALSE);
    const uint32_t pid = hwnd_pid(hWnd);
    if (pid != current_pid() && toplevel::find(hWnd)) {
        nlohmann::json message = message_fields(Msg, wParam, lParam);
        message["kind"] = "post_window";
        message["hwnd"] = hwnd_value(hWnd);
        if (channel::send(pid, message))
            return TRUE;
    }
    return fail(ERROR_INVALID_WINDOW_HANDLE, FALSE);
}

void WINAPI PostQuitMessage(int nExitCode)
{
    auto held = sync::lock();
    Queue& queue = own_queue();
    queue.quit = true;
    queue.quit_code = nExitCode;
    sync::wake_all();
}
