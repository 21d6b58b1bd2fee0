// The monitor's telephony watcher against the emulated radio, on the manual
// clock: a stand-in main thread starts the watcher and records what it posts.
#include <thread>

#include <gtest/gtest.h>

#include <windows.h>
#include <tapi.h>

#include "device/clock.h"
#include "kernel/process_table.h"
#include "kernel/sync.h"
#include "monitor.h"
#include "tapi/radio.h"
#include "test_device.h"

namespace ks = wince::sync;
namespace radio = wince::tapi::radio;
using nlohmann::json;
using testing_support::TempDevice;

namespace {

constexpr UINT kStopWatcher = WM_APP + 1;

json Line(const char* name, json media = {"INTERACTIVEVOICE", "DATAMODEM"})
{
    json line = {{"media_modes", media}};
    if (name)
        line["name"] = name;
    return line;
}

class WatcherOnRadio : public ::testing::Test {
protected:
    void Start(const json& lines)
    {
        device_ = std::make_unique<TempDevice>(json{{"lines", lines}, {"audio", "null"}});
        wince::clock::use_manual(0);
        wince::process::attach("");
        main_ = ks::spawn_device_thread([this] { RunMainThread(); });
        ks::advance(600);
    }

    void TearDown() override
    {
        if (main_.joinable())
            Stop();
        if (device_)
            wince::process::detach(0);
    }

    // Returns how long StopCallWatcher took, in device ms.
    double Stop()
    {
        PostThreadMessageW(main_thread_, kStopWatcher, 0, 0);
        ks::advance(2000);
        main_.join();
        return stop_took_;
    }

    std::vector<UINT> Posted()
    {
        ks::advance(600);
        auto held = ks::lock();
        return posted_;
    }

    uint32_t Call(uint32_t line, const char* media = "INTERACTIVEVOICE")
    {
        const uint32_t modes = media == std::string("INTERACTIVEVOICE") ? LINEMEDIAMODE_INTERACTIVEVOICE
                               : media == std::string("DATAMODEM")      ? LINEMEDIAMODE_DATAMODEM
                                                                        : LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_DATAMODEM;
        return radio::place(line, LINECALLSTATE_OFFERING, modes, false, "").id;
    }

    void State(uint32_t call, uint32_t state) { ASSERT_TRUE(radio::change_state(call, state)); }

    std::optional<uint32_t> OpenedLine() const
    {
        for (const auto& e : device_->events("line.open"))
            if (e["ok"] == true)
                return e["line"].get<uint32_t>();
        return std::nullopt;
    }

    std::unique_ptr<TempDevice> device_;

private:
    void RunMainThread()
    {
        MSG msg;
        main_thread_ = GetCurrentThreadId();
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE); // the queue exists before the watcher posts
        ASSERT_TRUE(StartCallWatcher(main_thread_));
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            if (msg.message == kStopWatcher) {
                const double asked = wince::clock::now();
                StopCallWatcher();
                stop_took_ = wince::clock::now() - asked;
                return;
            }
            auto held = ks::lock();
            posted_.push_back(msg.message);
        }
    }

    std::thread main_;
    DWORD main_thread_ = 0;
    std::vector<UINT> posted_;
    double stop_took_ = -1;
};

TEST_F(WatcherOnRadio, OpensTheHighestCellularLineByExactName)
{
    Start(json::array({Line("Cellular Line"), Line(nullptr), Line("Cellular Line"), Line("cellular line"),
                       Line("Cellular Line 2")}));
    EXPECT_EQ(OpenedLine(), 2u);
    const uint32_t call = Call(2);
    State(call, LINECALLSTATE_CONNECTED);
    EXPECT_EQ(Posted(), (std::vector<UINT>{WM_CALL_CONNECTED}));
}

TEST_F(WatcherOnRadio, WithoutACellularLineTheMapperPicksAVoiceLine)
{
    Start(json::array({Line(nullptr, {"DATAMODEM"}), Line("Modem", {"DATAMODEM"}), Line("Handset", {"INTERACTIVEVOICE"})}));
    EXPECT_EQ(OpenedLine(), 2u);
}

TEST_F(WatcherOnRadio, WithNoLineAtAllTheWatcherEndsQuietly)
{
    Start(json::array());
    EXPECT_FALSE(OpenedLine());
    EXPECT_LT(Stop(), 1.0); // the thread has long ended
}

TEST_F(WatcherOnRadio, OnlyPureVoiceCallsConnectButEveryCallEnds)
{
    Start(json::array({Line("Cellular Line")}));
    const uint32_t mixed = Call(0, "BOTH");
    State(mixed, LINECALLSTATE_CONNECTED);
    State(mixed, LINECALLSTATE_DISCONNECTED);
    const uint32_t data = Call(0, "DATAMODEM");
    State(data, LINECALLSTATE_CONNECTED);
    State(data, LINECALLSTATE_DISCONNECTED);
    EXPECT_EQ(Posted(), (std::vector<UINT>{WM_CALL_ENDED, WM_CALL_ENDED}));
}

TEST_F(WatcherOnRadio, HoldResumeAndOtherMessages)
{
    Start(json::array({Line("Cellular Line")}));
    const uint32_t call = Call(0);
    State(call, LINECALLSTATE_CONNECTED);
    State(call, LINECALLSTATE_ONHOLD);
    radio::line_message(LINE_LINEDEVSTATE, 0, 0, 0);
    State(call, LINECALLSTATE_CONNECTED);
    State(call, LINECALLSTATE_IDLE); // gone without a disconnection: nothing
    EXPECT_EQ(Posted(), (std::vector<UINT>{WM_CALL_CONNECTED, WM_CALL_CONNECTED}));
}

TEST_F(WatcherOnRadio, StopIsHonouredWithinHalfASecond)
{
    Start(json::array({Line("Cellular Line")}));
    ks::advance(250); // in the middle of a wait for the line
    EXPECT_LE(Stop(), 501.0 + 1e-6);
    const auto closes = device_->events("line.close");
    ASSERT_EQ(closes.size(), 1u);
}

} // namespace
