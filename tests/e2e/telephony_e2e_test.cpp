// The radio driven from outside with `phone call`, as a user would: call
// changes reach a line opened by another process of the device, `phone
// status` shows the calls, and wrong input gets one clear line of error.
#include <sstream>

#include <gtest/gtest.h>

#include <windows.h>
#include <tapi.h>

#include "device/device.h"
#include "kernel/process_table.h"
#include "phone_runner.h"
#include "test_device.h"

using testing_support::Phone;
using testing_support::TempDevice;

namespace {

uint32_t first_number(const std::string& output)
{
    std::istringstream words(output);
    uint32_t id = 0;
    words >> id;
    return id;
}

nlohmann::json status_of(const Phone& phone) { return nlohmann::json::parse(phone.ok({"status", "--json"})); }

} // namespace

TEST(PhoneCall, CallsChangeStateAndShowInStatus)
{
    TempDevice dev(nlohmann::json{{"lines", {{{"name", "Cellular Line"}}, {{"name", "Other"}}}}});
    Phone phone(dev.dir());
    const uint32_t voice = first_number(phone.ok({"call", "incoming"}));
    const uint32_t data = first_number(phone.ok({"call", "dial", "5550100", "--media", "DATAMODEM", "--line", "1"}));
    ASSERT_NE(voice, 0u);
    ASSERT_NE(data, voice);
    phone.ok({"call", "answer", std::to_string(voice)});
    phone.ok({"call", "hold", std::to_string(voice)});

    auto status = status_of(phone);
    ASSERT_EQ(status["calls"].size(), 2u);
    EXPECT_EQ(status["calls"][0]["state"], "LINECALLSTATE_ONHOLD");
    EXPECT_EQ(status["calls"][0]["line"], 0);
    EXPECT_EQ(status["calls"][1]["media"], LINEMEDIAMODE_DATAMODEM);
    EXPECT_EQ(status["calls"][1]["number"], "5550100");
    EXPECT_EQ(status["backlight"]["state"], "D0");
    EXPECT_EQ(status["vibrator"], false);

    phone.ok({"call", "resume", std::to_string(voice)});
    phone.ok({"call", "drop", std::to_string(voice)});
    phone.ok({"call", "idle", std::to_string(data)});
    EXPECT_TRUE(status_of(phone)["calls"].empty());

    std::vector<std::string> states;
    for (const auto& e : phone.events("call"))
        if (e["call"] == voice)
            states.push_back(e["state"]);
    EXPECT_EQ(states, (std::vector<std::string>{"LINECALLSTATE_OFFERING", "LINECALLSTATE_CONNECTED",
                                                 "LINECALLSTATE_ONHOLD", "LINECALLSTATE_CONNECTED",
                                                 "LINECALLSTATE_DISCONNECTED", "LINECALLSTATE_IDLE"}));
    EXPECT_TRUE(phone.ok({"status"}).find("backlight") != std::string::npos);
}

TEST(PhoneCall, WrongInputFailsWithOneClearLine)
{
    TempDevice dev(nlohmann::json{{"lines", {{{"name", "Cellular Line"}, {"media_modes", {"INTERACTIVEVOICE"}}}}}});
    Phone phone(dev.dir());
    const auto expect_error = [&](const std::vector<std::string>& args, const std::string& mentions) {
        const auto result = phone.run(args);
        EXPECT_NE(result.status, 0) << args[1];
        EXPECT_NE(result.errors.find(mentions), std::string::npos) << result.errors;
        EXPECT_EQ(std::count(result.errors.begin(), result.errors.end(), '\n'), 1) << result.errors;
    };
    expect_error({"call", "answer", "42"}, "no call 42");
    expect_error({"call", "incoming", "--media", "SMOKESIGNALS"}, "unknown media mode");
    expect_error({"call", "incoming", "--media", "DATAMODEM"}, "does not support");
    expect_error({"call", "incoming", "--line", "3"}, "no line 3");
    const std::string id = std::to_string(first_number(phone.ok({"call", "incoming"})));
    expect_error({"call", "state", id, "SINGING"}, "unknown call state");
    expect_error({"call", "resume", id}, "cannot resume");
    expect_error({"line-event", "LINE_NOSUCHTHING"}, "unknown line message");
    expect_error({"call", "talk", "soon"}, "invalid SECONDS");
}

TEST(PhoneCall, ChangesReachALineOpenInAnotherProcess)
{
    TempDevice dev(nlohmann::json{{"clock_rate", 50}});
    wince::device::set_program("TapiListener.exe");
    wince::process::attach("");
    Phone phone(dev.dir());

    HLINEAPP app = 0;
    DWORD devices = 0;
    DWORD version = 0x00020000;
    LINEINITIALIZEEXPARAMS params{};
    params.dwTotalSize = sizeof params;
    params.dwOptions = LINEINITIALIZEEXOPTION_USEEVENT;
    ASSERT_EQ(lineInitializeEx(&app, nullptr, nullptr, nullptr, &devices, &version, &params), 0);
    HLINE line = 0;
    ASSERT_EQ(lineOpen(app, 0, &line, version, 0, 0, 6, LINEMEDIAMODE_INTERACTIVEVOICE, nullptr), 0);

    // A whole call of 2 device seconds, then a line event; each arrives
    // within seconds of real time (the wait below is in device time).
    phone.ok({"call", "talk", "2"});
    phone.ok({"line-event", "LINE_LINEDEVSTATE", "0x40"});

    std::vector<DWORD> seen;
    LINEMESSAGE message{};
    while (seen.size() < 5 && WaitForSingleObject(params.Handles.hEvent, 250000) == WAIT_OBJECT_0)
        if (lineGetMessage(app, &message, 0) == 0)
            seen.push_back(message.dwMessageID == LINE_CALLSTATE ? static_cast<DWORD>(message.dwParam1)
                                                                   : 0x80000000u | message.dwMessageID);
    EXPECT_EQ(seen, (std::vector<DWORD>{LINECALLSTATE_OFFERING, LINECALLSTATE_CONNECTED,
                                        LINECALLSTATE_DISCONNECTED, LINECALLSTATE_IDLE,
                                        0x80000000u | LINE_LINEDEVSTATE}));

    const auto calls = phone.events("call");
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_GE(calls[2]["t"].get<double>() - calls[1]["t"].get<double>(), 2000);
    lineShutdown(app);
    wince::process::detach(0);
}

// The radio behaves as a network: answering a waiting call holds the
// connected one first (and the log says so in that order), swap exchanges
// the two, and answer without an id takes the only ringing call.
TEST(PhoneCall, AnsweringAWaitingCallHoldsTheConnectedOneFirst)
{
    TempDevice dev;
    Phone phone(dev.dir());
    phone.ok({"call", "incoming"});
    phone.ok({"call", "answer"});
    phone.ok({"call", "incoming", "--number", "5550100"});
    phone.ok({"call", "incoming"});
    const auto several = phone.run({"call", "answer"});
    EXPECT_NE(several.status, 0);
    EXPECT_NE(several.errors.find("calls 2, 3 are ringing"), std::string::npos) << several.errors;
    phone.ok({"call", "idle", "3"});
    phone.ok({"call", "answer"});

    std::vector<std::string> changes;
    for (const auto& e : phone.events("call"))
        changes.push_back(std::to_string(e["call"].get<int>()) + " " + e["state"].get<std::string>());
    const std::vector<std::string> last(changes.end() - 2, changes.end());
    EXPECT_EQ(last, (std::vector<std::string>{"1 LINECALLSTATE_ONHOLD", "2 LINECALLSTATE_CONNECTED"}));
    auto calls = status_of(phone)["calls"];
    EXPECT_EQ(calls[0]["state"], "LINECALLSTATE_ONHOLD");
    EXPECT_EQ(calls[1]["state"], "LINECALLSTATE_CONNECTED");
    EXPECT_EQ(calls[1]["number"], "5550100");

    phone.ok({"call", "swap"});
    calls = status_of(phone)["calls"];
    EXPECT_EQ(calls[0]["state"], "LINECALLSTATE_CONNECTED");
    EXPECT_EQ(calls[1]["state"], "LINECALLSTATE_ONHOLD");
    // A call's time runs from its first connection, through the hold.
    EXPECT_GE(calls[0]["call_time"].get<double>(), calls[1]["call_time"].get<double>());

    // Tests that need two connected calls still make them.
    phone.ok({"call", "state", "2", "CONNECTED"});
    calls = status_of(phone)["calls"];
    EXPECT_EQ(calls[0]["state"], "LINECALLSTATE_CONNECTED");
    EXPECT_EQ(calls[1]["state"], "LINECALLSTATE_CONNECTED");
    EXPECT_NE(phone.run({"call", "swap"}).status, 0);
}
