// phone status: what the device's outputs and radio are doing right now,
// and the settings the monitor will act on.
#include <cstdio>

#include <windows.h>
#include <nled.h>

#include <nlohmann/json.hpp>

#include "audio/output.h"
#include "commands/commands.h"
#include "log/call_history.h"
#include "log/settings_view.h"
#include "log/story.h"
#include "device/clock.h"
#include "drivers/power_state.h"
#include "kernel/process_table.h"
#include "tapi/names.h"
#include "tapi/radio.h"

namespace phone {
namespace {

bool led_on(UINT led)
{
    NLED_SETTINGS_INFO settings{};
    settings.LedNum = led;
    return NLedGetDeviceInfo(NLED_SETTINGS_INFO_ID, &settings) && settings.OffOnBlink != 0;
}

nlohmann::json gather()
{
    const auto light = wince::drivers::backlight();
    nlohmann::json status = {
        {"time", wince::clock::now()},
        {"backlight", {{"on", light.state != 4}, {"state", wince::drivers::power_state_name(light.state)},
                       {"held", light.held}}},
        {"vibrator", led_on(1)},
        {"led", led_on(0)},
        {"volume", wince::audio::device_volume()},
        {"sound", wince::audio::backend_reason()},
        {"settings", nlohmann::json::array()},
        {"calls", nlohmann::json::array()},
        {"processes", nlohmann::json::array()},
    };
    for (const auto& call : wince::tapi::radio::calls()) {
        status["calls"].push_back({{"call", call.id},
                                   {"line", call.line},
                                   {"state", wince::tapi::call_state_name(call.state)},
                                   {"media", call.media},
                                   {"direction", call.outbound ? "outgoing" : "incoming"},
                                   {"number", call.number}});
        // Its time runs from the first connection, through holds.
        if (call.connected_at)
            status["calls"].back()["call_time"] = status["time"].get<double>() - *call.connected_at;
    }
    for (const auto& process : wince::process::list())
        status["processes"].push_back(
            {{"pid", process.pid}, {"exe", process.exe}, {"started", process.started}, {"threads", process.threads}});
    for (const auto& setting : read_settings())
        status["settings"].push_back({{"name", setting.name},
                                      {"stored", setting.stored ? nlohmann::json(*setting.stored) : nlohmann::json()},
                                      {"value", setting.value},
                                      {"meaning", setting.meaning}});
    return status;
}

void print_settings(const nlohmann::json& settings)
{
    std::printf("settings     %s\n", settings_key);
    for (const auto& setting : settings)
        std::printf("  %-19s %6d  %s%s\n", setting["name"].get<std::string>().c_str(), setting["value"].get<int>(),
                    setting["meaning"].get<std::string>().c_str(), setting["stored"].is_null() ? " (default)" : "");
}

void print(const nlohmann::json& status)
{
    std::printf("device time  %s\n", device_time(status["time"].get<double>()).c_str());
    const auto& light = status["backlight"];
    std::printf("backlight    %s (%s%s)\n", light["on"].get<bool>() ? "on" : "off",
                light["state"].get<std::string>().c_str(), light["held"].get<bool>() ? ", held by a program" : "");
    std::printf("vibrator     %s\n", status["vibrator"].get<bool>() ? "on" : "off");
    std::printf("led          %s\n", status["led"].get<bool>() ? "on" : "off");
    std::printf("volume       %s (0x%08X)\n", volume_percent(status["volume"].get<uint32_t>(), 2).c_str(),
                status["volume"].get<uint32_t>());
    std::printf("sound        %s\n", status["sound"].get<std::string>().c_str());
    std::fputs(status["calls"].empty() ? "calls        none\n" : "calls\n", stdout);
    for (const auto& call : status["calls"])
        std::printf("  %u  line %u  %s  %s  %s%s%s%s\n", call["call"].get<uint32_t>(), call["line"].get<uint32_t>(),
                    call["state"].get<std::string>().c_str(),
                    wince::tapi::media_modes_name(call["media"].get<uint32_t>()).c_str(),
                    call["direction"].get<std::string>().c_str(), call["number"].get<std::string>().empty() ? "" : " ",
                    call["number"].get<std::string>().c_str(),
                    call.contains("call_time") ? ("  call time " + call_time(call["call_time"].get<double>())).c_str()
                                               : "");
    std::fputs(status["processes"].empty() ? "processes    none\n" : "processes\n", stdout);
    for (const auto& process : status["processes"]) {
        std::printf("  %u  %s  started %s  threads", process["pid"].get<uint32_t>(),
                    process["exe"].get<std::string>().c_str(), device_time(process["started"].get<double>()).c_str());
        for (const auto& tid : process["threads"])
            std::printf(" %u", tid.get<uint32_t>());
        std::printf("\n");
    }
    print_settings(status["settings"]);
}

} // namespace

void add_status_commands(CLI::App& app)
{
    static bool as_json = false;
    auto* status = app.add_subcommand("status", "Device time, backlight, vibrator, volume, sound, calls, processes and the settings");
    status->add_flag("--json", as_json, "Print the status as one JSON object");
    status->callback([] {
        const auto status = gather();
        if (as_json)
            std::printf("%s\n", status.dump().c_str());
        else
            print(status);
    });
}

} // namespace phone
