// The radio's calls live in run/radio.json so that every process of the
// device (the phone tool that changes them, the programs that watch them)
// sees one set.  Which process has which line open is kept one file per
// process in run/tapi/, written only by its owner, so a delivery needs no
// lock beyond reading the folder; a process that no longer listens loses
// its file at the next delivery.
#include "radio.h"

#include <algorithm>
#include <fstream>
#include <functional>
#include <mutex>
#include <stdexcept>

#include <unistd.h>

#include <tapi.h>

#include "device/channel.h"
#include "device/clock.h"
#include "device/device.h"
#include "device/files.h"
#include "device/eventlog.h"
#include "device/run_state.h"
#include "tapi/delivery.h"
#include "tapi/names.h"

namespace wince::tapi {

namespace {

std::vector<LineDevice> read_line_devices(const nlohmann::json& config)
{
    std::vector<LineDevice> lines;
    if (!config.contains("lines") || !config["lines"].is_array())
        return lines;
    for (const auto& entry : config["lines"]) {
        LineDevice line;
        line.media_modes = LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_DATAMODEM;
        if (entry.is_string()) {
            line.name = device::widen(entry.get<std::string>());
        } else if (entry.is_object()) {
            if (entry.contains("name") && entry["name"].is_string())
                line.name = device::widen(entry["name"].get<std::string>());
            if (entry.contains("media_modes") && entry["media_modes"].is_array()) {
                uint32_t modes = 0;
                for (const auto& mode : entry["media_modes"]) {
                    std::optional<uint32_t> bits;
                    if (mode.is_string())
                        bits = parse_media_modes(mode.get<std::string>());
                    else if (mode.is_number_unsigned())
                        bits = mode.get<uint32_t>();
                    modes |= bits.value_or(0);
                }
                line.media_modes = modes;
            }
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

} // namespace

LineDevices line_devices()
{
    static std::mutex cache_mutex;
    static std::shared_ptr<const std::vector<LineDevice>> cached;
    static uint64_t cached_generation = 0;
    const nlohmann::json& config = device::config();
    const uint64_t generation = device::config_generation();
    std::lock_guard held(cache_mutex);
    if (!cached || cached_generation != generation) {
        cached = std::make_shared<const std::vector<LineDevice>>(read_line_devices(config));
        cached_generation = generation;
    }
    return LineDevices(cached);
}

std::optional<uint32_t> default_cellular_line()
{
    std::optional<uint32_t> found;
    const auto lines = line_devices();
    for (uint32_t id = 0; id < lines.size(); ++id)
        if (lines[id].name == L"Cellular Line")
            found = id;
    return found;
}

} // namespace wince::tapi

namespace wince::tapi::radio {
namespace {

const char* const state_document = "radio";

std::filesystem::path registry_dir() { return device::run_dir() / "tapi"; }

nlohmann::json to_json(const Call& call)
{
    nlohmann::json j = {{"id", call.id},       {"line", call.line},         {"state", call.state},
                        {"media", call.media}, {"outbound", call.outbound}, {"number", call.number}};
    if (call.connected_at)
        j["connected_at"] = *call.connected_at;
    return j;
}

Call from_json(const nlohmann::json& j)
{
    Call call;
    call.id = j.value("id", 0u);
    call.line = j.value("line", 0u);
    call.state = j.value("state", 0u);
    call.media = j.value("media", 0u);
    call.outbound = j.value("outbound", false);
    call.number = j.value("number", "");
    if (j.contains("connected_at") && j["connected_at"].is_number())
        call.connected_at = j["connected_at"].get<double>();
    return call;
}

// Processes that have `line` open (any line when none is given).
std::vector<uint32_t> listeners(std::optional<uint32_t> line)
{
    std::vector<uint32_t> pids;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(registry_dir(), error)) {
        if (entry.path().extension() != ".json")
            continue;
        std::ifstream in(entry.path());
        nlohmann::json doc = nlohmann::json::parse(in, nullptr, false);
        if (!doc.is_object() || !doc.contains("lines") || !doc["lines"].is_array())
            continue;
        const auto& lines = doc["lines"];
        const bool has_line = line ? std::find(lines.begin(), lines.end(), *line) != lines.end() : !lines.empty();
        if (!has_line)
            continue;
        try {
            pids.push_back(static_cast<uint32_t>(std::stoul(entry.path().stem().string())));
        } catch (const std::exception&) {
        }
    }
    return pids;
}

int send_to_listeners(const nlohmann::json& message, std::optional<uint32_t> line)
{
    int reached = 0;
    const auto self = static_cast<uint32_t>(getpid());
    for (uint32_t pid : listeners(line)) {
        if (pid == self) {
            deliver(message);
            ++reached;
        } else if (channel::send(pid, message)) {
            ++reached;
        } else {
            std::error_code ignored;
            std::filesystem::remove(registry_dir() / (std::to_string(pid) + ".json"), ignored);
        }
    }
    return reached;
}

// A change of the calls that is not stored did not happen: the tool that
// asked for it must say so.
void update_calls(const std::function<void(nlohmann::json&)>& change)
{
    if (!run_state::update(state_document, change))
        throw std::runtime_error(run_state::write_failure());
}

void announce(const Call& call)
{
    nlohmann::json fields = {{"call", call.id},
                             {"line", call.line},
                             {"state", call_state_name(call.state)},
                             {"media", call.media}};
    if (!call.number.empty())
        fields["number"] = call.number; // the number dialled, or the caller's
    eventlog::write("call", fields);
    nlohmann::json message = {{"kind", "tapi"},
                              {"line", call.line},
                              {"message", LINE_CALLSTATE},
                              {"call", call.id},
                              {"state", call.state},
                              {"media", call.media},
                              {"outbound", call.outbound}};
    send_to_listeners(message, call.line);
}

} // namespace

std::vector<Call> calls()
{
    std::vector<Call> list;
    const auto doc = run_state::read(state_document);
    if (doc.contains("calls") && doc["calls"].is_array())
        for (const auto& j : doc["calls"])
            list.push_back(from_json(j));
    return list;
}

std::optional<Call> find(uint32_t id)
{
    for (const Call& call : calls())
        if (call.id == id)
            return call;
    return std::nullopt;
}

Call place(uint32_t line, uint32_t state, uint32_t media, bool outbound, const std::string& number)
{
    Call call{0, line, state, media, outbound, number, std::nullopt};
    update_calls([&](nlohmann::json& doc) {
        call.id = doc.value("next_call", 1u);
        doc["next_call"] = call.id + 1;
        if (!doc.contains("calls") || !doc["calls"].is_array())
            doc["calls"] = nlohmann::json::array();
        doc["calls"].push_back(to_json(call));
    });
    announce(call);
    return call;
}

std::optional<Call> change_state(uint32_t id, uint32_t state)
{
    std::optional<Call> changed;
    update_calls([&](nlohmann::json& doc) {
        if (!doc.contains("calls") || !doc["calls"].is_array())
            return;
        auto& list = doc["calls"];
        for (auto it = list.begin(); it != list.end(); ++it) {
            if (it->value("id", 0u) != id)
                continue;
            changed = from_json(*it);
            changed->state = state;
            if (state == LINECALLSTATE_CONNECTED && !changed->connected_at)
                changed->connected_at = clock::now();
            if (state == LINECALLSTATE_IDLE)
                list.erase(it);
            else
                *it = to_json(*changed);
            return;
        }
    });
    // Announced outside the radio's lock: a process delivering to itself
    // takes its telephony lock, which must never wait on this file.
    if (changed)
        announce(*changed);
    return changed;
}

std::vector<Call> answer(uint32_t id)
{
    std::vector<Call> changed;
    for (const Call& call : calls())
        if (call.state == LINECALLSTATE_CONNECTED && call.id != id)
            if (auto held = change_state(call.id, LINECALLSTATE_ONHOLD))
                changed.push_back(*held);
    if (auto answered = change_state(id, LINECALLSTATE_CONNECTED))
        changed.push_back(*answered);
    return changed;
}

std::vector<Call> drop(uint32_t id)
{
    std::vector<Call> changed;
    const auto call = find(id);
    if (!call)
        return changed;
    if (call->state != LINECALLSTATE_DISCONNECTED)
        if (auto disconnected = change_state(id, LINECALLSTATE_DISCONNECTED))
            changed.push_back(*disconnected);
    if (auto idle = change_state(id, LINECALLSTATE_IDLE))
        changed.push_back(*idle);
    return changed;
}

std::vector<Call> swap()
{
    std::vector<Call> connected, held;
    for (const Call& call : calls()) {
        if (call.state == LINECALLSTATE_CONNECTED)
            connected.push_back(call);
        else if (call.state == LINECALLSTATE_ONHOLD)
            held.push_back(call);
    }
    if (connected.size() != 1 || held.size() != 1)
        return {};
    std::vector<Call> changed;
    for (auto [id, state] : {std::pair{connected[0].id, LINECALLSTATE_ONHOLD},
                             std::pair{held[0].id, LINECALLSTATE_CONNECTED}})
        if (auto call = change_state(id, state))
            changed.push_back(*call);
    return changed;
}

int line_message(uint32_t message, uint32_t param1, uint32_t param2, uint32_t param3,
                 std::optional<uint32_t> line)
{
    nlohmann::json payload = {{"kind", "tapi"},
                              {"message", message},
                              {"params", {param1, param2, param3}}};
    if (line)
        payload["line"] = *line;
    return send_to_listeners(payload, line);
}

void publish_open_lines(const std::vector<uint32_t>& lines)
{
    std::error_code ignored;
    const auto file = registry_dir() / (std::to_string(getpid()) + ".json");
    if (lines.empty()) {
        std::filesystem::remove(file, ignored);
        return;
    }
    device::replace_file(file, nlohmann::json{{"lines", lines}}.dump() + "\n");
}

} // namespace wince::tapi::radio
