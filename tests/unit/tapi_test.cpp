// Telephony lines over the device's radio, in-process: line discovery as the
// watcher does it, opening, and line messages queued per application with
// the event signalled exactly while they wait.
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <windows.h>
#include <tapi.h>

#include "device/clock.h"
#include "kernel/sync.h"
#include "tapi/radio.h"
#include "test_device.h"

using testing_support::TempDevice;
namespace radio = wince::tapi::radio;

namespace {

const nlohmann::json several_lines = {
    {"lines",
     {{{"name", "Cellular Line"}, {"media_modes", {"INTERACTIVEVOICE"}}},
      {{"media_modes", {"DATAMODEM"}}},
      {{"name", "Cellular Line"}, {"media_modes", {"INTERACTIVEVOICE", "DATAMODEM"}}},
      {{"name", "Cellular Line Extra"}, {"media_modes", {"INTERACTIVEVOICE"}}}}}};

struct App {
    HLINEAPP handle = 0;
    HANDLE event = nullptr;
    DWORD devices = 0;
};

App initialize()
{
    App app;
    DWORD version = TAPI_CURRENT_VERSION;
    LINEINITIALIZEEXPARAMS params{};
    params.dwTotalSize = 24; // as a 32-bit device program passes it
    params.dwOptions = LINEINITIALIZEEXOPTION_USEEVENT;
    EXPECT_EQ(lineInitializeEx(&app.handle, nullptr, nullptr, nullptr, &app.devices, &version, &params), 0);
    EXPECT_EQ(version, DWORD{TAPI_CURRENT_VERSION});
    app.event = params.Handles.hEvent;
    return app;
}

// The line's name, queried as the watcher does: a small block first, then
// one of the size the line needs.
std::vector<BYTE> device_caps(HLINEAPP app, DWORD device)
{
    std::vector<BYTE> block(292);
    auto* caps = reinterpret_cast<LINEDEVCAPS*>(block.data());
    caps->dwTotalSize = static_cast<DWORD>(block.size());
    EXPECT_EQ(lineGetDevCaps(app, device, TAPI_CURRENT_VERSION, 0, caps), 0);
    const DWORD needed = caps->dwNeededSize;
    block.assign(needed, 0);
    caps = reinterpret_cast<LINEDEVCAPS*>(block.data());
    caps->dwTotalSize = needed;
    EXPECT_EQ(lineGetDevCaps(app, device, TAPI_CURRENT_VERSION, 0, caps), 0);
    return block;
}

std::wstring line_name(const std::vector<BYTE>& block)
{
    const auto* caps = reinterpret_cast<const LINEDEVCAPS*>(block.data());
    if (caps->dwLineNameSize == 0)
        return {};
    EXPECT_LE(caps->dwLineNameOffset + caps->dwLineNameSize, caps->dwUsedSize);
    return reinterpret_cast<const wchar_t*>(block.data() + caps->dwLineNameOffset);
}

bool signalled(HANDLE event) { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

HLINE open_line(const App& app, DWORD device, DWORD privileges = LINECALLPRIVILEGE_MONITOR | LINECALLPRIVILEGE_OWNER,
                DWORD media = LINEMEDIAMODE_INTERACTIVEVOICE, LONG expected = 0)
{
    HLINE line = 0;
    EXPECT_EQ(lineOpen(app.handle, device, &line, TAPI_CURRENT_VERSION, 0, 77, privileges, media, nullptr), expected);
    return line;
}

} // namespace

TEST(TapiLines, DevicesDescribeTheirNamesAndMediaAsTheWatcherReadsThem)
{
    TempDevice dev(several_lines);
    App app = initialize();
    ASSERT_EQ(app.devices, 4u);
    ASSERT_NE(app.event, nullptr);

    int highest_cellular = -1;
    for (DWORD id = 0; id < app.devices; ++id) {
        DWORD version = 0;
        LINEEXTENSIONID extension;
        ASSERT_EQ(lineNegotiateAPIVersion(app.handle, id, TAPI_CURRENT_VERSION, TAPI_CURRENT_VERSION, &version, &extension), 0);
        EXPECT_EQ(version, DWORD{TAPI_CURRENT_VERSION});
        if (line_name(device_caps(app.handle, id)) == L"Cellular Line")
            highest_cellular = static_cast<int>(id);
    }
    EXPECT_EQ(highest_cellular, 2);

    const auto unnamed = device_caps(app.handle, 1);
    const auto* caps = reinterpret_cast<const LINEDEVCAPS*>(unnamed.data());
    EXPECT_EQ(caps->dwLineNameSize, 0u);
    EXPECT_EQ(caps->dwLineNameOffset, 0u);
    EXPECT_EQ(caps->dwMediaModes, static_cast<DWORD>(LINEMEDIAMODE_DATAMODEM));

    // A block with room for the fixed part only: the name is left out and
    // the needed size says how much it takes.
    LINEDEVCAPS fixed{};
    fixed.dwTotalSize = sizeof fixed;
    ASSERT_EQ(lineGetDevCaps(app.handle, 0, TAPI_CURRENT_VERSION, 0, &fixed), 0);
    EXPECT_EQ(fixed.dwNeededSize, sizeof fixed + sizeof(L"Cellular Line"));
    EXPECT_EQ(fixed.dwUsedSize, sizeof fixed);
    EXPECT_EQ(fixed.dwLineNameSize, 0u);

    fixed.dwTotalSize = 100;
    EXPECT_EQ(lineGetDevCaps(app.handle, 0, TAPI_CURRENT_VERSION, 0, &fixed), static_cast<LONG>(LINEERR_STRUCTURETOOSMALL));
    fixed.dwTotalSize = sizeof fixed;
    EXPECT_EQ(lineGetDevCaps(app.handle, 4, TAPI_CURRENT_VERSION, 0, &fixed), static_cast<LONG>(LINEERR_BADDEVICEID));
    DWORD version = 0;
    LINEEXTENSIONID extension;
    EXPECT_EQ(lineNegotiateAPIVersion(app.handle, 0, 0x00030000, 0x00030001, &version, &extension),
              static_cast<LONG>(LINEERR_INCOMPATIBLEAPIVERSION));
    EXPECT_EQ(lineShutdown(app.handle), 0);
    EXPECT_EQ(lineGetDevCaps(app.handle, 0, TAPI_CURRENT_VERSION, 0, &fixed), static_cast<LONG>(LINEERR_INVALAPPHANDLE));
}

TEST(TapiLines, ManyLinesAreReadOncePerConfigurationNotOncePerCall)
{
    // Each line function once read all of device.json's lines: a watcher
    // that looks at every line took time growing with their square.
    nlohmann::json lines = nlohmann::json::array();
    for (int i = 0; i < 10000; ++i)
        lines.push_back({{"name", "Line " + std::to_string(i)}});
    TempDevice dev(nlohmann::json{{"lines", lines}});
    App app = initialize();
    ASSERT_EQ(app.devices, 10000u);
    for (DWORD id = 0; id + 1 < app.devices; ++id)
        device_caps(app.handle, id);
    EXPECT_EQ(line_name(device_caps(app.handle, 9999)), L"Line 9999");
    lineShutdown(app.handle);
}

TEST(TapiLines, InitializationRejectsWhatItCannotServe)
{
    TempDevice dev(nlohmann::json{{"lines", nlohmann::json::array()}});
    HLINEAPP handle = 0;
    DWORD devices = 99;
    DWORD version = TAPI_CURRENT_VERSION;
    LINEINITIALIZEEXPARAMS params{};
    params.dwTotalSize = 16;
    params.dwOptions = LINEINITIALIZEEXOPTION_USEEVENT;
    EXPECT_EQ(lineInitializeEx(&handle, nullptr, nullptr, nullptr, &devices, &version, &params),
              static_cast<LONG>(LINEERR_STRUCTURETOOSMALL));
    params.dwTotalSize = sizeof params;
    params.dwOptions = LINEINITIALIZEEXOPTION_USEHIDDENWINDOW;
    EXPECT_EQ(lineInitializeEx(&handle, nullptr, nullptr, nullptr, &devices, &version, &params),
              static_cast<LONG>(LINEERR_INVALPARAM));
    params.dwOptions = LINEINITIALIZEEXOPTION_USEEVENT;
    ASSERT_EQ(lineInitializeEx(&handle, nullptr, nullptr, nullptr, &devices, &version, &params), 0);
    EXPECT_EQ(devices, 0u);
    // No line at all: the watcher's fallback LINEMAPPER finds nothing.
    HLINE line = 0;
    EXPECT_EQ(lineOpen(handle, LINEMAPPER, &line, TAPI_CURRENT_VERSION, 0, 0, 6, LINEMEDIAMODE_INTERACTIVEVOICE, nullptr),
              static_cast<LONG>(LINEERR_LINEMAPPERFAILED));
    EXPECT_EQ(lineShutdown(handle), 0);
}

TEST(TapiLines, OpenChoosesByMediaAndRefusesWhatTheLineCannotDo)
{
    TempDevice dev(several_lines);
    App app = initialize();
    open_line(app, LINEMAPPER, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_DATAMODEM);
    open_line(app, LINEMAPPER, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_G3FAX, static_cast<LONG>(LINEERR_LINEMAPPERFAILED));
    open_line(app, 9, 6, LINEMEDIAMODE_INTERACTIVEVOICE, static_cast<LONG>(LINEERR_BADDEVICEID));
    open_line(app, 0, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_DATAMODEM, static_cast<LONG>(LINEERR_INVALMEDIAMODE));
    open_line(app, 0, 0, LINEMEDIAMODE_INTERACTIVEVOICE, static_cast<LONG>(LINEERR_INVALPRIVSELECT));
    // A monitor takes no media modes of its own.
    open_line(app, 0, LINECALLPRIVILEGE_MONITOR, 0);

    const auto opens = dev.events("line.open");
    ASSERT_EQ(opens.size(), 6u);
    EXPECT_EQ(opens[0]["line"], 1); // the first line for data
    EXPECT_EQ(opens[0]["ok"], true);
    EXPECT_EQ(opens[1]["ok"], false);
    EXPECT_EQ(opens[2]["line"], 9);
    EXPECT_EQ(lineShutdown(app.handle), 0);
    EXPECT_EQ(dev.events("line.close").size(), 2u);
}

TEST(TapiMessages, CallStatesQueueWithTheEventSignalledWhileTheyWait)
{
    TempDevice dev(several_lines);
    App app = initialize();
    const HLINE line = open_line(app, 2);
    EXPECT_FALSE(signalled(app.event));

    const auto call = radio::place(2, LINECALLSTATE_OFFERING, LINEMEDIAMODE_INTERACTIVEVOICE, false, "");
    radio::change_state(call.id, LINECALLSTATE_CONNECTED);
    radio::place(0, LINECALLSTATE_OFFERING, LINEMEDIAMODE_INTERACTIVEVOICE, false, ""); // another line

    LINEMESSAGE message{};
    ASSERT_TRUE(signalled(app.event));
    ASSERT_EQ(lineGetMessage(app.handle, &message, 0), 0);
    EXPECT_EQ(message.hDevice, call.id);
    EXPECT_EQ(message.dwMessageID, static_cast<DWORD>(LINE_CALLSTATE));
    EXPECT_EQ(message.dwCallbackInstance, 77u);
    EXPECT_EQ(message.dwParam1, static_cast<DWORD_PTR>(LINECALLSTATE_OFFERING));
    EXPECT_EQ(message.dwParam3, static_cast<DWORD_PTR>(LINECALLPRIVILEGE_OWNER));

    ASSERT_TRUE(signalled(app.event)) << "one more message waits";
    ASSERT_EQ(lineGetMessage(app.handle, &message, 0), 0);
    EXPECT_EQ(message.dwParam1, static_cast<DWORD_PTR>(LINECALLSTATE_CONNECTED));
    EXPECT_EQ(message.dwParam3, 0u);
    EXPECT_FALSE(signalled(app.event));
    EXPECT_EQ(lineGetMessage(app.handle, &message, 0), static_cast<LONG>(LINEERR_OPERATIONFAILED));

    std::vector<BYTE> block(5120);
    auto* info = reinterpret_cast<LINECALLINFO*>(block.data());
    info->dwTotalSize = 5120;
    ASSERT_EQ(lineGetCallInfo(call.id, info), 0);
    EXPECT_EQ(info->dwMediaMode, static_cast<DWORD>(LINEMEDIAMODE_INTERACTIVEVOICE));
    EXPECT_EQ(info->dwLineDeviceID, 2u);
    EXPECT_EQ(info->hLine, line);
    info->dwTotalSize = 64;
    EXPECT_EQ(lineGetCallInfo(call.id, info), static_cast<LONG>(LINEERR_STRUCTURETOOSMALL));
    EXPECT_EQ(lineGetCallInfo(0xDEAD, info), static_cast<LONG>(LINEERR_INVALCALLHANDLE));

    radio::line_message(LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING, 0, 0);
    ASSERT_EQ(lineGetMessage(app.handle, &message, 0), 0);
    EXPECT_EQ(message.dwMessageID, static_cast<DWORD>(LINE_LINEDEVSTATE));
    EXPECT_EQ(message.hDevice, line);
    EXPECT_EQ(message.dwParam1, static_cast<DWORD_PTR>(LINEDEVSTATE_RINGING));

    const auto calls = dev.events("call");
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[1]["state"], "LINECALLSTATE_CONNECTED");
    EXPECT_EQ(calls[1]["line"], 2);
    EXPECT_EQ(calls[1]["media"], LINEMEDIAMODE_INTERACTIVEVOICE);

    // A closed line hears nothing more.
    EXPECT_EQ(lineClose(line), 0);
    EXPECT_EQ(lineClose(line), static_cast<LONG>(LINEERR_INVALLINEHANDLE));
    radio::change_state(call.id, LINECALLSTATE_DISCONNECTED);
    EXPECT_FALSE(signalled(app.event));
    EXPECT_EQ(lineShutdown(app.handle), 0);
    EXPECT_EQ(lineShutdown(app.handle), static_cast<LONG>(LINEERR_INVALAPPHANDLE));
}

TEST(TapiMessages, EveryApplicationWithTheLineOpenGetsItsOwnCopy)
{
    TempDevice dev(several_lines);
    App watcher = initialize();
    App data_app = initialize();
    open_line(watcher, 2);
    open_line(data_app, 2, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_DATAMODEM);

    // A voice call reaches the monitoring watcher only; a data call both.
    const auto voice = radio::place(2, LINECALLSTATE_OFFERING, LINEMEDIAMODE_INTERACTIVEVOICE, false, "");
    const auto data = radio::place(2, LINECALLSTATE_OFFERING, LINEMEDIAMODE_DATAMODEM, true, "555");
    radio::change_state(voice.id, LINECALLSTATE_IDLE);
    EXPECT_FALSE(radio::find(voice.id).has_value()) << "an idle call is gone";

    LINEMESSAGE message{};
    std::vector<DWORD> watcher_calls;
    while (lineGetMessage(watcher.handle, &message, 0) == 0)
        watcher_calls.push_back(message.hDevice);
    EXPECT_EQ(watcher_calls, (std::vector<DWORD>{voice.id, data.id, voice.id}));
    ASSERT_EQ(lineGetMessage(data_app.handle, &message, 0), 0);
    EXPECT_EQ(message.hDevice, data.id);
    EXPECT_EQ(lineGetMessage(data_app.handle, &message, 0), static_cast<LONG>(LINEERR_OPERATIONFAILED));

    LINECALLINFO info{};
    info.dwTotalSize = sizeof info;
    ASSERT_EQ(lineGetCallInfo(data.id, &info), 0);
    EXPECT_EQ(info.dwMediaMode, static_cast<DWORD>(LINEMEDIAMODE_DATAMODEM));
    EXPECT_EQ(info.dwOrigin, static_cast<DWORD>(LINECALLORIGIN_OUTBOUND));
    lineShutdown(watcher.handle);
    lineShutdown(data_app.handle);
}

TEST(TapiMessages, AnApplicationThatOpenedALineTwiceHearsOfEachCallStateOnce)
{
    TempDevice dev(several_lines);
    App app = initialize();
    open_line(app, 2);
    open_line(app, 2, LINECALLPRIVILEGE_MONITOR, 0);
    open_line(app, 0); // another line, which the call never touches

    const auto call = radio::place(2, LINECALLSTATE_OFFERING, LINEMEDIAMODE_INTERACTIVEVOICE, false, "");
    radio::change_state(call.id, LINECALLSTATE_CONNECTED);
    radio::change_state(call.id, LINECALLSTATE_DISCONNECTED);

    LINEMESSAGE message{};
    std::vector<DWORD_PTR> states;
    while (lineGetMessage(app.handle, &message, 0) == 0) {
        EXPECT_EQ(message.hDevice, call.id);
        states.push_back(message.dwParam1);
    }
    EXPECT_EQ(states, (std::vector<DWORD_PTR>{LINECALLSTATE_OFFERING, LINECALLSTATE_CONNECTED,
                                              LINECALLSTATE_DISCONNECTED}));
    EXPECT_FALSE(signalled(app.event));
    lineShutdown(app.handle);
}

TEST(TapiMessages, GetMessageWaitsForTheNextMessageOrItsTimeOut)
{
    TempDevice dev(several_lines);
    wince::clock::use_manual(0);
    App app = initialize();
    open_line(app, 2);

    std::atomic<LONG> timed_out_result{1};
    std::atomic<double> timed_out_at{0};
    std::thread waiter = wince::sync::spawn_device_thread([&] {
        LINEMESSAGE message{};
        timed_out_result = lineGetMessage(app.handle, &message, 500);
        timed_out_at = wince::clock::now();
    });
    wince::sync::advance(1000);
    waiter.join();
    EXPECT_EQ(timed_out_result, static_cast<LONG>(LINEERR_OPERATIONFAILED));
    EXPECT_EQ(timed_out_at, 500);

    std::atomic<DWORD> state{0};
    waiter = wince::sync::spawn_device_thread([&] {
        LINEMESSAGE message{};
        if (lineGetMessage(app.handle, &message, INFINITE) == 0)
            state = static_cast<DWORD>(message.dwParam1);
    });
    wince::sync::settle();
    EXPECT_EQ(state, 0u);
    radio::place(2, LINECALLSTATE_OFFERING, LINEMEDIAMODE_INTERACTIVEVOICE, false, "");
    waiter.join();
    EXPECT_EQ(state, static_cast<DWORD>(LINECALLSTATE_OFFERING));
    lineShutdown(app.handle);
}
