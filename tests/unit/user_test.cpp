// Message queues, windows, timers, keys and message boxes on the manual clock.
#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include <windows.h>

#include "device/clock.h"
#include "kernel/sync.h"
#include "test_device.h"
#include "user/keys.h"
#include "user/queue.h"
#include "user/screen_model.h"
#include "user/toplevel.h"

using testing_support::TempDevice;
namespace ks = wince::sync;
namespace user = wince::user;

namespace {

constexpr UINT WM_ARM = WM_APP + 1;     // wParam timer id, lParam interval
constexpr UINT WM_DISARM = WM_APP + 2;  // wParam timer id
constexpr UINT WM_DESTROY_ME = WM_APP + 3;
constexpr UINT WM_ARM_ON_DESTROY = WM_APP + 4;

struct Seen {
    double t;
    UINT msg;
    WPARAM wparam;
    bool operator==(const Seen&) const = default;
};

// What the test window procedure saw, in order.  Written on the window's
// thread; read by the test after advance()/settle(), which order the two.
std::vector<Seen> seen;
bool arm_on_destroy = false;
DWORD busy_in_next_timer_ms = 0; // how long the next WM_TIMER keeps its thread busy

// What one GetMessageW (result 0 or TRUE) or PeekMessageW (-2) took.
struct Retrieved {
    BOOL result;
    UINT message;
    WPARAM wparam;
    bool operator==(const Retrieved&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const Retrieved& r)
    {
        return out << "{" << r.result << ", 0x" << std::hex << r.message << std::dec << ", " << r.wparam << "}";
    }
};

std::vector<Seen> seen_of(UINT msg)
{
    std::vector<Seen> out;
    for (const Seen& s : seen)
        if (s.msg == msg)
            out.push_back(s);
    return out;
}

LRESULT CALLBACK RecordingProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam)
{
    switch (msg) {
    case WM_ARM:
        SetTimer(hwnd, wparam, static_cast<UINT>(lparam), nullptr);
        return 0;
    case WM_DISARM:
        KillTimer(hwnd, wparam);
        return 0;
    case WM_DESTROY_ME:
        // Leaves a message pending for the window it destroys.
        PostMessageW(hwnd, WM_USER + 5, 0, 0);
        DestroyWindow(hwnd);
        return 0;
    case WM_ARM_ON_DESTROY:
        arm_on_destroy = true;
        return 0;
    default:
        break;
    }
    seen.push_back({wince::clock::now(), msg, wparam});
    if (msg == WM_CREATE && reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams == reinterpret_cast<void*>(-1))
        return -1;
    if (msg == WM_DESTROY && arm_on_destroy)
        SetTimer(hwnd, 9, 10, nullptr);
    if (msg == WM_TIMER && busy_in_next_timer_ms != 0) {
        const DWORD busy = busy_in_next_timer_ms;
        busy_in_next_timer_ms = 0;
        Sleep(busy);
    }
    if (msg == WM_USER + 77)
        return static_cast<LRESULT>(wparam * 2);
    return DefWindowProcW(hwnd, msg, wparam, lparam);
}

void register_recording_class()
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = RecordingProc;
    wc.lpszClassName = L"RecordingWindow";
    RegisterClassW(&wc); // once per process; later calls find it registered
}

// A window of the calling thread with one timer armed on it.
HWND window_with_timer_here(UINT_PTR id, UINT ms)
{
    register_recording_class();
    const HWND hwnd = CreateWindowExW(0, L"RecordingWindow", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                                      nullptr);
    if (hwnd != nullptr && SetTimer(hwnd, id, ms, nullptr) != id) {
        DestroyWindow(hwnd);
        return nullptr;
    }
    return hwnd;
}

// A device thread with one window and the usual message loop, as the
// monitor's main thread runs it.
class WindowThread {
public:
    explicit WindowThread(DWORD style = WS_POPUP, LPCWSTR title = L"")
    {
        register_recording_class();
        thread_ = ks::spawn_device_thread([this, style, title] {
            hwnd_ = CreateWindowExW(0, L"RecordingWindow", title, style, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                                    nullptr);
            tid_ = static_cast<DWORD>(::gettid());
            MSG msg;
            BOOL got;
            while ((got = GetMessageW(&msg, nullptr, 0, 0)) != 0 && got != -1) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        });
        ks::settle();
    }
    ~WindowThread()
    {
        user::deliver_thread_message(tid_, WM_QUIT, 0, 0);
        thread_.join();
    }
    HWND hwnd() const { return hwnd_; }
    DWORD tid() const { return tid_; }

private:
    std::thread thread_;
    HWND hwnd_ = nullptr;
    DWORD tid_ = 0;
};

class UserTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        wince::clock::use_manual(0);
        start_ = wince::clock::now();
        seen.clear();
        arm_on_destroy = false;
        busy_in_next_timer_ms = 0;
    }
    // Device time since the test began.
    double since_start(double t) const { return t - start_; }
    std::vector<double> timer_times(WPARAM id) const
    {
        std::vector<double> out;
        for (const Seen& s : seen_of(WM_TIMER))
            if (s.wparam == id)
                out.push_back(since_start(s.t));
        return out;
    }
    void post(HWND hwnd, UINT msg, WPARAM wparam = 0, LPARAM lparam = 0)
    {
        ASSERT_TRUE(PostMessageW(hwnd, msg, wparam, lparam));
        ks::settle();
    }

    TempDevice device_;
    double start_ = 0;
};

TEST_F(UserTest, TimersFireAtExactDeviceTimesAndRearmingReplacesTheSchedule)
{
    WindowThread window;
    post(window.hwnd(), WM_ARM, 2, 55000);
    post(window.hwnd(), WM_ARM, 3, 5000);
    ks::advance(120000);
    EXPECT_EQ(timer_times(3), (std::vector<double>{5000, 10000, 15000, 20000, 25000, 30000, 35000, 40000, 45000,
                                                  50000, 55000, 60000, 65000, 70000, 75000, 80000, 85000, 90000,
                                                  95000, 100000, 105000, 110000, 115000, 120000}));
    EXPECT_EQ(timer_times(2), (std::vector<double>{55000, 110000}));

    // Re-arming at 121000 replaces the old schedule (due at 165000): the
    // next firing comes the new interval after the call.
    seen.clear();
    post(window.hwnd(), WM_DISARM, 3);
    ks::advance(1000);
    post(window.hwnd(), WM_ARM, 2, 60000);
    ks::advance(70000);
    EXPECT_EQ(timer_times(2), (std::vector<double>{181000}));
    EXPECT_TRUE(timer_times(3).empty());

    const auto sets = device_.events("timer.set");
    ASSERT_FALSE(sets.empty());
    EXPECT_EQ(sets.back()["id"], 2);
    EXPECT_EQ(sets.back()["ms"], 60000);
    EXPECT_EQ(sets.back()["hwnd"], reinterpret_cast<uintptr_t>(window.hwnd()));
    EXPECT_EQ(device_.events("timer.kill").size(), 1u);
}

TEST_F(UserTest, DestroyWindowSendsDestroyAndDiscardsTimersAndPendingMessages)
{
    WindowThread window;
    const HWND hwnd = window.hwnd();
    post(hwnd, WM_ARM, 2, 1000);
    post(hwnd, WM_ARM_ON_DESTROY);
    ks::advance(1500);
    ASSERT_EQ(timer_times(2), std::vector<double>{1000});

    // A message still pending for the window never arrives, nor does a
    // timer armed during WM_DESTROY.  (The window thread runs on its own, so
    // the pending message is posted by the window itself, just before it goes.)
    ASSERT_TRUE(PostMessageW(hwnd, WM_DESTROY_ME, 0, 0));
    ks::advance(5000);
    EXPECT_EQ(seen_of(WM_DESTROY).size(), 1u);
    EXPECT_TRUE(seen_of(WM_USER + 5).empty());
    EXPECT_EQ(timer_times(2), std::vector<double>{1000});
    EXPECT_TRUE(seen_of(WM_TIMER).size() == 1u);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_FALSE(PostMessageW(hwnd, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));

    const auto destroyed = device_.events("window.destroy");
    ASSERT_EQ(destroyed.size(), 1u);
    EXPECT_EQ(destroyed[0]["class"], "RecordingWindow");
    EXPECT_EQ(destroyed[0]["visible"], false);
}

TEST_F(UserTest, TimerMessagesComeOnlyWhenNoPostedMessageWaitsAndDoNotPileUp)
{
    const HWND hwnd = window_with_timer_here(7, 100);
    ASSERT_NE(hwnd, nullptr);
    ks::advance(350); // three intervals pass while the thread is busy
    ASSERT_TRUE(PostMessageW(hwnd, WM_USER + 1, 0, 0));
    ASSERT_TRUE(PostThreadMessageW(static_cast<DWORD>(::gettid()), WM_USER + 2, 0, 0));

    std::vector<UINT> order;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        order.push_back(msg.message);
    EXPECT_EQ(order, (std::vector<UINT>{WM_USER + 1, WM_USER + 2, WM_TIMER}));

    // The timer keeps its cadence: next due at 400, not 350 + 100.
    ks::advance(49);
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    ks::advance(1);
    EXPECT_TRUE(PeekMessageW(&msg, nullptr, WM_TIMER, WM_TIMER, PM_NOREMOVE));
    EXPECT_TRUE(PeekMessageW(&msg, hwnd, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_TIMER));
    EXPECT_EQ(msg.wParam, 7u);
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_TRUE(DestroyWindow(hwnd));
}

TEST_F(UserTest, ATimerHeldUpByItsThreadFiresOnceThenKeepsItsSchedule)
{
    // The first firing keeps the thread busy until 350: the firings due at
    // 200 and 300 pass meanwhile.  The thread gets one WM_TIMER for them when
    // it is back, and the timer goes on from its last due time (300), so the
    // next comes at 400: neither a burst at 350 nor a schedule moved to 450.
    WindowThread window;
    busy_in_next_timer_ms = 250;
    post(window.hwnd(), WM_ARM, 7, 100);
    ks::advance(560);
    EXPECT_EQ(timer_times(7), (std::vector<double>{100, 350, 400, 500}));
}

TEST_F(UserTest, GetMessageTakesOnlyMessagesInsideItsRange)
{
    const HWND hwnd = window_with_timer_here(7, 100);
    ASSERT_NE(hwnd, nullptr);
    ks::advance(150); // the timer is due as well
    const DWORD self = static_cast<DWORD>(::gettid());
    for (UINT message : {WM_USER + 1, WM_USER + 5, WM_USER + 9, WM_APP})
        ASSERT_TRUE(PostThreadMessageW(self, message, 0, 0));

    MSG msg;
    ASSERT_EQ(GetMessageW(&msg, nullptr, WM_USER + 4, WM_USER + 6), TRUE);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 5));
    ASSERT_EQ(GetMessageW(&msg, nullptr, WM_USER + 9, WM_USER + 9), TRUE);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 9));
    ASSERT_EQ(GetMessageW(&msg, nullptr, WM_TIMER, WM_TIMER), TRUE);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_TIMER));

    // What the ranges left out is still there, in its order.
    std::vector<UINT> rest;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        rest.push_back(msg.message);
    EXPECT_EQ(rest, (std::vector<UINT>{WM_USER + 1, WM_APP}));
    EXPECT_TRUE(DestroyWindow(hwnd));
}

TEST_F(UserTest, PostQuitMessageComesWhateverTheRangeAfterThePostedMessagesItAccepts)
{
    std::vector<Retrieved> got;
    std::atomic<DWORD> receiver{0};
    std::atomic<bool> done{false};
    std::thread thread = ks::spawn_device_thread([&] {
        const DWORD self = static_cast<DWORD>(::gettid());
        PostThreadMessageW(self, WM_USER + 1, 0, 0);
        PostThreadMessageW(self, WM_USER + 5, 0, 0);
        PostQuitMessage(3);
        // A WM_QUIT that is posted is a posted message like any other.
        PostThreadMessageW(self, WM_QUIT, 9, 0);
        receiver = self;
        MSG msg;
        for (int i = 0; i < 2; ++i) {
            const BOOL result = GetMessageW(&msg, nullptr, WM_USER + 5, WM_USER + 6);
            got.push_back({result, msg.message, msg.wParam});
        }
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            got.push_back({-2, msg.message, msg.wParam});
        done = true;
    });
    ks::settle();
    if (!done) // a quit held back by the range: release the waiting thread
        PostThreadMessageW(receiver, WM_USER + 6, 0, 0);
    thread.join();
    EXPECT_EQ(got, (std::vector<Retrieved>{{TRUE, WM_USER + 5, 0}, {0, WM_QUIT, 3}, {-2, WM_USER + 1, 0}, {-2, WM_QUIT, 9}}));
}

// A thread's queue holds at most 10,000 posted messages, the desktop's
// default limit; past it PostThreadMessageW and PostMessageW fail with
// ERROR_NOT_ENOUGH_QUOTA, and each message taken makes room for one more.
TEST_F(UserTest, APostedQueueHoldsTenThousandMessagesAndRefusesMoreForWantOfQuota)
{
    const HWND hwnd = window_with_timer_here(7, 100);
    ASSERT_NE(hwnd, nullptr);
    const DWORD self = static_cast<DWORD>(::gettid());
    for (WPARAM i = 0; i < 10000; ++i)
        ASSERT_TRUE(PostThreadMessageW(self, WM_USER, i, 0)) << i;
    SetLastError(0);
    EXPECT_FALSE(PostThreadMessageW(self, WM_USER, 10000, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_QUOTA));
    SetLastError(0);
    EXPECT_FALSE(PostMessageW(hwnd, WM_USER + 1, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_QUOTA));
    SetLastError(0);
    EXPECT_FALSE(PostMessageW(nullptr, WM_USER + 2, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_QUOTA));

    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 0u);
    EXPECT_TRUE(PostMessageW(hwnd, WM_USER + 1, 0, 0));
    EXPECT_FALSE(PostThreadMessageW(self, WM_USER, 10001, 0));
    size_t taken = 0;
    MSG last{};
    while (PeekMessageW(&msg, nullptr, WM_USER, WM_USER + 2, PM_REMOVE)) {
        last = msg;
        ++taken;
    }
    EXPECT_EQ(taken, 10000u);
    EXPECT_EQ(last.hwnd, hwnd);
    EXPECT_EQ(last.message, static_cast<UINT>(WM_USER + 1));
    EXPECT_TRUE(DestroyWindow(hwnd));
}

TEST_F(UserTest, GetMessageFailsWithoutFillingAnything)
{
    EXPECT_EQ(GetMessageW(nullptr, nullptr, 0, 0), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    MSG msg;
    std::memset(&msg, 0xAB, sizeof msg);
    MSG untouched = msg;
    const HWND bogus = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x12340000));
    EXPECT_EQ(GetMessageW(&msg, bogus, 0, 0), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_EQ(std::memcmp(&msg, &untouched, sizeof msg), 0);

    // A window of another thread is no filter for this one either.
    WindowThread other;
    EXPECT_EQ(GetMessageW(&msg, other.hwnd(), 0, 0), -1);
    EXPECT_EQ(std::memcmp(&msg, &untouched, sizeof msg), 0);
}

TEST_F(UserTest, ThreadMessagesReachOtherThreadsOfTheProcessAndUnknownThreadsFail)
{
    std::vector<std::tuple<HWND, UINT, WPARAM, LPARAM, BOOL>> got;
    DWORD receiver = 0;
    std::thread loop = ks::spawn_device_thread([&] {
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE); // makes the queue
        receiver = static_cast<DWORD>(::gettid());
        for (;;) {
            const BOOL r = GetMessageW(&msg, nullptr, 0, 0);
            got.emplace_back(msg.hwnd, msg.message, msg.wParam, msg.lParam, r);
            if (msg.message == WM_USER + 9)
                break;
        }
    });
    ks::settle();
    EXPECT_TRUE(PostThreadMessageW(receiver, WM_USER + 1, 11, -12));
    EXPECT_TRUE(PostThreadMessageW(receiver, WM_QUIT, 3, 0));
    EXPECT_TRUE(PostThreadMessageW(receiver, WM_USER + 9, 0, 0));
    loop.join();
    EXPECT_EQ(got, (std::vector<std::tuple<HWND, UINT, WPARAM, LPARAM, BOOL>>{
                       {nullptr, WM_USER + 1, 11, -12, TRUE},
                       {nullptr, WM_QUIT, 3, 0, 0},
                       {nullptr, WM_USER + 9, 0, 0, TRUE}}));

    // The thread has ended: its queue went with it.
    EXPECT_FALSE(PostThreadMessageW(receiver, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_THREAD_ID));
    const auto posts = device_.events("thread.post");
    ASSERT_EQ(posts.size(), 4u);
    EXPECT_EQ(posts[0]["to_pid"], ::getpid());
    EXPECT_EQ(posts[0]["lparam"], -12);
    EXPECT_EQ(posts[0]["ok"], true);
    EXPECT_EQ(posts[3]["ok"], false);
}

TEST_F(UserTest, SendMessageRunsOnTheWindowsThreadAndDispatchSkipsThreadMessages)
{
    WindowThread window;
    EXPECT_EQ(SendMessageW(window.hwnd(), WM_USER + 77, 21, 0), 42);
    ASSERT_EQ(seen_of(WM_USER + 77).size(), 1u);

    MSG thread_message{nullptr, WM_USER + 77, 1, 0, 0, {0, 0}};
    EXPECT_EQ(DispatchMessageW(&thread_message), 0);
    // A forged timer procedure in lParam is never called.
    MSG forged{window.hwnd(), WM_TIMER, 5, 0x1234, 0, {0, 0}};
    EXPECT_EQ(DispatchMessageW(&forged), 0);
    EXPECT_EQ(seen_of(WM_USER + 77).size(), 1u);
}

TEST_F(UserTest, ClassesAndCreationFollowWindowsRules)
{
    register_recording_class();
    WNDCLASSW wc{};
    wc.lpfnWndProc = RecordingProc;
    wc.lpszClassName = L"recordingwindow";
    EXPECT_EQ(RegisterClassW(&wc), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
    EXPECT_EQ(RegisterClassW(nullptr), 0);

    EXPECT_EQ(CreateWindowExW(0, L"NoSuchClass", L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS));

    // WM_CREATE answering -1 fails the creation; nothing is announced.
    EXPECT_EQ(CreateWindowExW(0, L"RecordingWindow", L"refused", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                              reinterpret_cast<void*>(-1)),
              nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_EQ(seen_of(WM_DESTROY).size(), 1u);
    EXPECT_TRUE(device_.events("window.create").empty());

    // The default procedure destroys a window on WM_CLOSE.
    const HWND a = CreateWindowExW(0, L"RecordingWindow", L"Alpha", WS_VISIBLE, 0, 0, 0, 0, nullptr, nullptr,
                                   nullptr, nullptr);
    const HWND b = CreateWindowExW(0, L"RecordingWindow", L"Beta", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(a && b);
    EXPECT_NE(a, b);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(a) >> 32, static_cast<uintptr_t>(::getpid()));
    const auto created = device_.events("window.create");
    ASSERT_EQ(created.size(), 2u);
    EXPECT_EQ(created[0]["title"], "Alpha");
    EXPECT_EQ(created[0]["visible"], true);
    EXPECT_EQ(SendMessageW(a, WM_CLOSE, 0, 0), 0);
    EXPECT_FALSE(IsWindow(a));
    EXPECT_TRUE(IsWindow(b));
    EXPECT_FALSE(ShowWindow(b, SW_SHOW));
    EXPECT_TRUE(ShowWindow(b, SW_HIDE));
    EXPECT_TRUE(DestroyWindow(b));
    EXPECT_FALSE(DestroyWindow(b));
}

TEST_F(UserTest, KeysArriveAsKeyDownCharKeyUpAtTheFocusedWindow)
{
    WindowThread window;
    ASSERT_TRUE(user::deliver_key(window.hwnd(), *user::parse_key("A")));
    ASSERT_TRUE(user::deliver_key(window.hwnd(), *user::parse_key("return")));
    ASSERT_TRUE(user::deliver_key(window.hwnd(), *user::parse_key("UP")));
    ks::settle();
    std::vector<std::pair<UINT, WPARAM>> keys;
    for (const Seen& s : seen)
        if (s.msg >= WM_KEYFIRST && s.msg <= WM_KEYLAST)
            keys.emplace_back(s.msg, s.wparam);
    EXPECT_EQ(keys, (std::vector<std::pair<UINT, WPARAM>>{{WM_KEYDOWN, 'A'},
                                                          {WM_CHAR, 'A'},
                                                          {WM_KEYUP, 'A'},
                                                          {WM_KEYDOWN, VK_RETURN},
                                                          {WM_CHAR, '\r'},
                                                          {WM_KEYUP, VK_RETURN},
                                                          {WM_KEYDOWN, VK_UP},
                                                          {WM_KEYUP, VK_UP}}));
    const auto logged = device_.events("key");
    ASSERT_EQ(logged.size(), 3u);
    EXPECT_EQ(logged[1]["key"], "RETURN");
    EXPECT_EQ(logged[1]["target"], reinterpret_cast<uintptr_t>(window.hwnd()));

    EXPECT_EQ(user::parse_key("a")->vk, static_cast<UINT>('A'));
    EXPECT_EQ(user::parse_key("?")->vk, 0xBFu);
    EXPECT_FALSE(user::parse_key("HOME"));
    EXPECT_FALSE(user::parse_key(""));
}

TEST_F(UserTest, MessageBoxRunsAModalLoopUntilReturnOrEscapeReachesIt)
{
    WindowThread owner;
    post(owner.hwnd(), WM_ARM, 4, 1000);
    int results[2] = {0, 0};
    std::thread asker = ks::spawn_device_thread([&] {
        results[0] = MessageBoxW(nullptr, L"Failed to initialize TAPI.", L"CallTicker", MB_OK | MB_ICONHAND);
        results[1] = MessageBoxW(nullptr, L"Sure?", L"Question", MB_OKCANCEL);
    });
    ks::advance(2500);
    auto box = user::toplevel::foreground();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->title, "CallTicker");
    const auto shown = wince::screen::current();
    ASSERT_TRUE(shown.messagebox);
    EXPECT_EQ(shown.title, "CallTicker");
    EXPECT_EQ(shown.messagebox->text, "Failed to initialize TAPI.");
    EXPECT_EQ(shown.messagebox->type, static_cast<uint32_t>(MB_OK | MB_ICONHAND));
    EXPECT_TRUE(shown.ok_button);
    // The owner's timer keeps running while the box waits.
    EXPECT_EQ(timer_times(4), (std::vector<double>{1000, 2000}));

    user::deliver_key(reinterpret_cast<HWND>(static_cast<uintptr_t>(box->hwnd)), *user::parse_key("RETURN"));
    ks::settle();
    box = user::toplevel::foreground();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->title, "Question");
    user::deliver_key(reinterpret_cast<HWND>(static_cast<uintptr_t>(box->hwnd)), *user::parse_key("ESCAPE"));
    asker.join();
    EXPECT_EQ(results[0], IDOK);
    EXPECT_EQ(results[1], IDCANCEL);
    EXPECT_FALSE(user::toplevel::foreground());
    const auto ends = device_.events("messagebox.end");
    ASSERT_EQ(ends.size(), 2u);
    EXPECT_EQ(ends[1]["result"], IDCANCEL);
    EXPECT_EQ(device_.events("messagebox")[0]["caption"], "CallTicker");
}

TEST_F(UserTest, MessageBoxesDisableTheirOwnerAndReturnChoosesTheNamedDefaultButton)
{
    WindowThread owner(WS_VISIBLE, L"Owner");
    std::vector<int> results;
    std::atomic<bool> owner_enabled_during{true};
    std::thread asker = ks::spawn_device_thread([&] {
        for (UINT type : {UINT(MB_YESNO | MB_DEFBUTTON2), UINT(MB_YESNOCANCEL | MB_DEFBUTTON3), UINT(MB_OK)})
            results.push_back(MessageBoxW(owner.hwnd(), L"Sure?", L"Question", type));
    });
    for (const char* key : {"RETURN", "RETURN", "ESCAPE"}) {
        ks::settle();
        auto box = user::toplevel::foreground();
        ASSERT_TRUE(box);
        // Found by the dialog class's atom, and by its name in any case.
        EXPECT_EQ(FindWindowW(MAKEINTATOM(32770), L"Question"), reinterpret_cast<HWND>(static_cast<uintptr_t>(box->hwnd)));
        EXPECT_EQ(FindWindowW(L"recordingWINDOW", nullptr), owner.hwnd());
        owner_enabled_during = owner_enabled_during && IsWindowEnabled(owner.hwnd());
        user::deliver_key(reinterpret_cast<HWND>(static_cast<uintptr_t>(box->hwnd)), *user::parse_key(key));
    }
    asker.join();
    EXPECT_EQ(results, (std::vector<int>{IDNO, IDCANCEL, IDOK}));
    EXPECT_FALSE(owner_enabled_during);
    EXPECT_TRUE(IsWindowEnabled(owner.hwnd()));
}

// A WM_QUIT ends a message box without an answer, even one whose default
// button is Yes, and is posted again for the loop outside.
TEST_F(UserTest, AQuitEndsAMessageBoxUnansweredAndReachesTheLoopOutside)
{
    int result = -1;
    Retrieved after{};
    std::thread asker = ks::spawn_device_thread([&] {
        PostQuitMessage(5);
        result = MessageBoxW(nullptr, L"Delete all?", L"Question", MB_YESNO);
        MSG msg{};
        after.result = PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);
        after.message = msg.message;
        after.wparam = msg.wParam;
    });
    asker.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(after, (Retrieved{TRUE, WM_QUIT, 5}));
}

// Destroying a box's owner destroys the box, and MessageBoxW returns.
TEST_F(UserTest, AMessageBoxEndsWhenItsOwnerIsDestroyed)
{
    std::atomic<int> result{-1};
    std::atomic<HWND> owner{nullptr};
    std::atomic<DWORD> tid{0};
    std::thread asker = ks::spawn_device_thread([&] {
        register_recording_class();
        tid = static_cast<DWORD>(::gettid());
        owner = CreateWindowExW(0, L"RecordingWindow", L"Owner", WS_VISIBLE, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                                nullptr);
        result = MessageBoxW(owner, L"Sure?", L"Question", MB_OKCANCEL);
    });
    ks::settle();
    post(owner, WM_DESTROY_ME);
    const bool returned = result != -1;
    if (!returned)
        user::deliver_thread_message(tid, WM_QUIT, 0, 0); // lets the thread go
    asker.join();
    EXPECT_TRUE(returned);
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(user::toplevel::foreground());
}

TEST_F(UserTest, KeysGoToTheForegroundWindowOrElseTheNewestHiddenOne)
{
    using user::toplevel::Entry;
    auto entry = [](uint32_t pid, uint64_t hwnd, bool visible, double created, double raised) {
        Entry e;
        e.pid = pid;
        e.hwnd = hwnd;
        e.visible = visible;
        e.created = created;
        e.raised = raised;
        return e;
    };
    // list() order: topmost first.
    std::vector<Entry> hidden = {entry(1, 10, false, 50, 500), entry(2, 20, false, 300, 300), entry(3, 30, false, 100, 100)};
    EXPECT_EQ(user::toplevel::key_receiver(hidden)->hwnd, 20u);
    std::vector<Entry> mixed = {entry(1, 10, false, 50, 500), entry(2, 20, true, 300, 300), entry(3, 30, true, 400, 100)};
    EXPECT_EQ(user::toplevel::key_receiver(mixed)->hwnd, 20u);
    EXPECT_FALSE(user::toplevel::key_receiver({}));

    // The registry file follows this process's windows.
    WindowThread call_window;
    auto listed = user::toplevel::find_by_class("recordingwindow");
    ASSERT_TRUE(listed);
    EXPECT_EQ(listed->hwnd, reinterpret_cast<uintptr_t>(call_window.hwnd()));
    EXPECT_FALSE(listed->visible);
    EXPECT_EQ(user::toplevel::key_target()->hwnd, listed->hwnd);
}

} // namespace
