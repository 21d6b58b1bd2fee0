// Message queues of the device's threads, as other platform services and
// the channel between processes reach them.
#pragma once

#include <cstdint>

#include <windows.h>

namespace wince::user {

// Posts a thread message to thread `tid` of this process, creating its queue
// when the thread is a live device thread that has none yet.  Returns false
// when `tid` is no live thread of this process.  Takes the kernel lock.
bool deliver_thread_message(uint32_t tid, UINT msg, WPARAM wparam, LPARAM lparam);

// Posts a message to a window of this process.  Returns false when this
// process has no such window.  Takes the kernel lock.
bool deliver_window_message(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);

} // namespace wince::user
