// TAPI 2.0 line functions over the device's radio, with event notification.
//
// Each lineInitializeEx makes an application with its own message queue and
// a manual-reset event that is signalled exactly while messages wait, so a
// watcher can wait on the event and drain the queue one message at a time.
// Line messages come from the radio (radio.cpp) through the "tapi" channel
// handler, or directly when the radio is driven from this process.
//
// Left out: the hidden-window and completion-port notification options,
// lineInitializeEx's callback, call control by applications (lineMakeCall,
// lineAnswer...: calls are made by the radio), address functions, device
// specific extensions and the variable parts of LINECALLINFO.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>

#include <windows.h>
#include <tapi.h>

#include "device/channel.h"
#include "device/device.h"
#include "device/eventlog.h"
#include "kernel/sync.h"
#include "tapi/delivery.h"
#include "tapi/radio.h"

namespace wince::tapi {
namespace {

constexpr DWORD lowest_version = 0x00010003;
constexpr DWORD highest_version = TAPI_CURRENT_VERSION;
// LINEINITIALIZEEXPARAMS up to and including Handles: older callers do not
// pass dwCompletionKey, which only the completion-port option reads.
constexpr DWORD initialize_params_minimum = offsetof(LINEINITIALIZEEXPARAMS, dwCompletionKey);
constexpr DWORD all_privileges = LINECALLPRIVILEGE_NONE | LINECALLPRIVILEGE_MONITOR | LINECALLPRIVILEGE_OWNER;

struct KnownCall {
    uint32_t line = 0;
    uint32_t state = 0;
    uint32_t media = 0;
    bool outbound = false;
};

struct OpenLine {
    HLINE handle = 0;
    uint32_t device = 0;
    DWORD privileges = 0;
    DWORD media_modes = 0;
    DWORD_PTR instance = 0;
};

struct Application {
    HANDLE event = nullptr;
    DWORD version = 0;
    std::deque<LINEMESSAGE> queue;
    std::vector<OpenLine> lines;
    std::map<uint32_t, KnownCall> calls; // the calls this application was told of
};

std::mutex tapi_mutex; // guards everything below; taken before the kernel lock
std::map<HLINEAPP, Application> applications;
HLINEAPP next_application = 1;
HLINE next_line = 1;

void register_channel_handler()
{
    static const bool registered = [] {
        using channel::Type;
        channel::on("tapi",
                    {{"message", Type::u32},
                     {"line", Type::u32, false},
                     {"call", Type::u32, false},
                     {"state", Type::u32, false},
                     {"media", Type::u32, false},
                     {"outbound", Type::boolean, false},
                     {"params", Type::u32_list, false, 3}},
                    [](const nlohmann::json& message) { deliver(message); });
        return true;
    }();
    (void)registered;
}

// So that a process that has never called TAPI yet still takes its messages.
const bool handler_registered_at_start = (register_channel_handler(), true);

Application* find_application(HLINEAPP handle)
{
    auto it = applications.find(handle);
    return it == applications.end() ? nullptr : &it->second;
}

void publish_open_lines()
{
    std::set<uint32_t> open;
    for (const auto& [handle, app] : applications)
        for (const OpenLine& line : app.lines)
            open.insert(line.device);
    radio::publish_open_lines(std::vector<uint32_t>(open.begin(), open.end()));
}

void post(Application& app, const LINEMESSAGE& message)
{
    app.queue.push_back(message);
    SetEvent(app.event);
}

bool wants_call(const OpenLine& line, uint32_t media)
{
    if (line.privileges & LINECALLPRIVILEGE_MONITOR)
        return true;
    return (line.privileges & LINECALLPRIVILEGE_OWNER) && (media & line.media_modes) == media;
}

void deliver_call_state(const nlohmann::json& message, uint32_t device)
{
    const uint32_t call = message.value("call", 0u);
    const uint32_t state = message.value("state", 0u);
    const uint32_t media = message.value("media", 0u);
    for (auto& [handle, app] : applications) {
        for (const OpenLine& line : app.lines) {
            if (line.device != device || !wants_call(line, media))
                continue;
            // The first message about a call tells the application what it
            // may do with it; later ones carry no privilege.
            DWORD privilege = 0;
            if (!app.calls.contains(call))
                privilege = (line.privileges & LINECALLPRIVILEGE_OWNER) && (media & line.media_modes) == media
                                ? LINECALLPRIVILEGE_OWNER
                                : LINECALLPRIVILEGE_MONITOR;
            app.calls[call] = KnownCall{device, state, media, message.value("outbound", false)};
            post(app, LINEMESSAGE{call, LINE_CALLSTATE, line.instance, state, 0, privilege});
            break; // one message per application, however often it opened the line
        }
    }
}

void deliver_line_message(const nlohmann::json& message)
{
    const DWORD id = message.value("message", 0u);
    DWORD_PTR params[3] = {0, 0, 0};
    if (message.contains("params") && message["params"].is_array())
        for (size_t i = 0; i < 3 && i < message["params"].size(); ++i)
            params[i] = message["params"][i].get<DWORD>();
    const bool any_line = !message.contains("line");
    const uint32_t device = message.value("line", 0u);
    for (auto& [handle, app] : applications)
        for (const OpenLine& line : app.lines)
            if (any_line || line.device == device)
                post(app, LINEMESSAGE{line.handle, id, line.instance, params[0], params[1], params[2]});
}

bool valid_version(DWORD version) { return version >= lowest_version && version <= highest_version; }


} // namespace

void deliver(const nlohmann::json& message)
{
    std::lock_guard guard(tapi_mutex);
    if (message.value("message", 0u) == LINE_CALLSTATE && message.contains("call"))
        deliver_call_state(message, message.value("line", 0u));
    else
        deliver_line_message(message);
}

} // namespace wince::tapi

using namespace wince;
using namespace wince::tapi;

LONG WINAPI lineInitializeExW(LPHLINEAPP lphLineApp, HINSTANCE, LINECALLBACK, LPCWSTR, LPDWORD lpdwNumDevs,
                              LPDWORD lpdwAPIVersion, LPLINEINITIALIZEEXPARAMS params)
{
    register_channel_handler();
    if (!lphLineApp || !lpdwNumDevs || !lpdwAPIVersion || !params)
        return LINEERR_INVALPOINTER;
    if (params->dwTotalSize < initialize_params_minimum)
        return LINEERR_STRUCTURETOOSMALL;
    if (params->dwOptions != LINEINITIALIZEEXOPTION_USEEVENT)
        return LINEERR_INVALPARAM;
    if (*lpdwAPIVersion < lowest_version)
        return LINEERR_INCOMPATIBLEAPIVERSION;
    if (device::inject_fault("lineInitializeEx"))
        return LINEERR_OPERATIONFAILED;

    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!event)
        return LINEERR_NOMEM;
    std::lock_guard guard(tapi_mutex);
    const HLINEAPP handle = next_application++;
    Application& app = applications[handle];
    app.event = event;
    app.version = std::min<DWORD>(*lpdwAPIVersion, highest_version);

    *lphLineApp = handle;
    *lpdwNumDevs = static_cast<DWORD>(line_devices().size());
    *lpdwAPIVersion = app.version;
    params->dwNeededSize = sizeof(LINEINITIALIZEEXPARAMS);
    params->dwUsedSize = std::min<DWORD>(params->dwTotalSize, sizeof(LINEINITIALIZEEXPARAMS));
    params->Handles.hEvent = event;
    return 0;
}

LONG WINAPI lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPILowVersion,
                                    DWORD dwAPIHighVersion, LPDWORD lpdwAPIVersion,
                                    LPLINEEXTENSIONID lpExtensionID)
{
    {
        std::lock_guard guard(tapi_mutex);
        if (!find_application(hLineApp))
            return LINEERR_INVALAPPHANDLE;
    }
    if (!lpdwAPIVersion || !lpExtensionID)
        return LINEERR_INVALPOINTER;
    if (dwDeviceID >= line_devices().size())
        return LINEERR_BADDEVICEID;
    if (dwAPILowVersion > dwAPIHighVersion || dwAPIHighVersion < lowest_version || dwAPILowVersion > highest_version)
        return LINEERR_INCOMPATIBLEAPIVERSION;
    *lpdwAPIVersion = std::min(dwAPIHighVersion, highest_version);
    *lpExtensionID = LINEEXTENSIONID{0, 0, 0, 0};
    return 0;
}

LONG WINAPI lineGetDevCapsW(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion,
                            LPLINEDEVCAPS caps)
{
    {
        std::lock_guard guard(tapi_mutex);
        if (!find_application(hLineApp))
            return LINEERR_INVALAPPHANDLE;
    }
    const auto lines = line_devices();
    if (dwDeviceID >= lines.size())
        return LINEERR_BADDEVICEID;
    if (!valid_version(dwAPIVersion))
        return LINEERR_INCOMPATIBLEAPIVERSION;
    if (dwExtVersion != 0)
        return LINEERR_INCOMPATIBLEEXTVERSION;
    if (!caps)
        return LINEERR_INVALPOINTER;
    if (caps->dwTotalSize < sizeof(LINEDEVCAPS))
        return LINEERR_STRUCTURETOOSMALL;

    const LineDevice& line = lines[dwDeviceID];
    const DWORD total = caps->dwTotalSize;
    std::memset(caps, 0, sizeof(LINEDEVCAPS));
    caps->dwTotalSize = total;
    caps->dwPermanentLineID = dwDeviceID;
    caps->dwStringFormat = STRINGFORMAT_UNICODE;
    caps->dwAddressModes = LINEADDRESSMODE_ADDRESSID;
    caps->dwNumAddresses = 1;
    caps->dwBearerModes = LINEBEARERMODE_VOICE | LINEBEARERMODE_DATA;
    caps->dwMediaModes = line.media_modes;
    caps->dwMaxNumActiveCalls = 1;
    caps->dwLineStates = LINEDEVSTATE_OTHER | LINEDEVSTATE_RINGING | LINEDEVSTATE_CONNECTED |
                         LINEDEVSTATE_DISCONNECTED | LINEDEVSTATE_INSERVICE | LINEDEVSTATE_OUTOFSERVICE |
                         LINEDEVSTATE_OPEN | LINEDEVSTATE_CLOSE | LINEDEVSTATE_NUMCALLS |
                         LINEDEVSTATE_ROAMMODE | LINEDEVSTATE_BATTERY | LINEDEVSTATE_SIGNAL |
                         LINEDEVSTATE_REINIT;

    const DWORD name_bytes = line.name ? static_cast<DWORD>((line.name->size() + 1) * sizeof(wchar_t)) : 0;
    caps->dwNeededSize = sizeof(LINEDEVCAPS) + name_bytes;
    caps->dwUsedSize = sizeof(LINEDEVCAPS);
    if (name_bytes != 0 && total >= caps->dwNeededSize) {
        std::memcpy(reinterpret_cast<BYTE*>(caps) + sizeof(LINEDEVCAPS), line.name->c_str(), name_bytes);
        caps->dwLineNameOffset = sizeof(LINEDEVCAPS);
        caps->dwLineNameSize = name_bytes;
        caps->dwUsedSize = caps->dwNeededSize;
    }
    return 0;
}

LONG WINAPI lineOpenW(HLINEAPP hLineApp, DWORD dwDeviceID, LPHLINE lphLine, DWORD dwAPIVersion,
                      DWORD dwExtVersion, DWORD_PTR dwCallbackInstance, DWORD dwPrivileges,
                      DWORD dwMediaModes, LPLINECALLPARAMS const)
{
    const auto lines = line_devices();
    uint32_t device = dwDeviceID; // LINEMAPPER resolves to the line it chose
    const auto result = [&]() -> LONG {
        if (!lphLine)
            return LINEERR_INVALPOINTER;
        if (!valid_version(dwAPIVersion))
            return LINEERR_INCOMPATIBLEAPIVERSION;
        if (dwExtVersion != 0)
            return LINEERR_INCOMPATIBLEEXTVERSION;
        if (dwPrivileges == 0 || (dwPrivileges & ~all_privileges) != 0 ||
            ((dwPrivileges & LINECALLPRIVILEGE_NONE) && dwPrivileges != LINECALLPRIVILEGE_NONE))
            return LINEERR_INVALPRIVSELECT;
        const bool owner = (dwPrivileges & LINECALLPRIVILEGE_OWNER) != 0;
        if (owner && dwMediaModes == 0)
            return LINEERR_INVALMEDIAMODE;

        if (dwDeviceID == LINEMAPPER) {
            auto supports = [&](const LineDevice& line) { return (dwMediaModes & line.media_modes) == dwMediaModes; };
            auto it = std::find_if(lines.begin(), lines.end(), supports);
            if (it == lines.end())
                return LINEERR_LINEMAPPERFAILED;
            device = static_cast<uint32_t>(it - lines.begin());
        } else if (dwDeviceID >= lines.size()) {
            return LINEERR_BADDEVICEID;
        } else if (owner && (dwMediaModes & lines[device].media_modes) != dwMediaModes) {
            return LINEERR_INVALMEDIAMODE;
        }
        if (device::inject_fault("lineOpen"))
            return LINEERR_OPERATIONFAILED;

        std::lock_guard guard(tapi_mutex);
        Application* app = find_application(hLineApp);
        if (!app)
            return LINEERR_INVALAPPHANDLE;
        const HLINE handle = next_line++;
        app->lines.push_back(OpenLine{handle, device, dwPrivileges, owner ? dwMediaModes : 0, dwCallbackInstance});
        publish_open_lines();
        *lphLine = handle;
        return 0;
    }();
    eventlog::write("line.open", {{"line", device}, {"ok", result == 0}});
    return result;
}

LONG WINAPI lineGetMessage(HLINEAPP hLineApp, LPLINEMESSAGE lpMessage, DWORD dwTimeout)
{
    if (!lpMessage)
        return LINEERR_INVALPOINTER;
    const double deadline = sync::deadline_after(dwTimeout);
    for (;;) {
        HANDLE event;
        {
            std::lock_guard guard(tapi_mutex);
            Application* app = find_application(hLineApp);
            if (!app)
                return LINEERR_INVALAPPHANDLE;
            if (!app->queue.empty()) {
                *lpMessage = app->queue.front();
                app->queue.pop_front();
                if (app->queue.empty())
                    ResetEvent(app->event);
                return 0;
            }
            event = app->event;
        }
        const double left = deadline - clock::now();
        if (left <= 0)
            return LINEERR_OPERATIONFAILED;
        // The event is only closed by lineShutdown, after which the next
        // pass finds the application gone.
        const DWORD wait = deadline == clock::forever ? INFINITE : static_cast<DWORD>(std::ceil(left));
        if (WaitForSingleObject(event, wait) == WAIT_FAILED)
            return LINEERR_OPERATIONFAILED;
    }
}

LONG WINAPI lineGetCallInfoW(HCALL hCall, LPLINECALLINFO info)
{
    std::lock_guard guard(tapi_mutex);
    const KnownCall* call = nullptr;
    HLINE line_handle = 0;
    for (const auto& [handle, app] : applications) {
        auto it = app.calls.find(hCall);
        if (it == app.calls.end())
            continue;
        call = &it->second;
        for (const OpenLine& line : app.lines)
            if (line.device == call->line) {
                line_handle = line.handle;
                break;
            }
        break;
    }
    if (!call)
        return LINEERR_INVALCALLHANDLE;
    if (!info)
        return LINEERR_INVALPOINTER;
    if (info->dwTotalSize < sizeof(LINECALLINFO))
        return LINEERR_STRUCTURETOOSMALL;
    const DWORD total = info->dwTotalSize;
    std::memset(info, 0, sizeof(LINECALLINFO));
    info->dwTotalSize = total;
    info->dwNeededSize = sizeof(LINECALLINFO);
    info->dwUsedSize = sizeof(LINECALLINFO);
    info->hLine = line_handle;
    info->dwLineDeviceID = call->line;
    info->dwBearerMode = (call->media & LINEMEDIAMODE_INTERACTIVEVOICE) ? LINEBEARERMODE_VOICE : LINEBEARERMODE_DATA;
    info->dwMediaMode = call->media;
    info->dwCallID = hCall;
    info->dwCallStates = 0xFFFF; // every LINECALLSTATE_ the radio can report
    info->dwOrigin = call->outbound ? LINECALLORIGIN_OUTBOUND : LINECALLORIGIN_INBOUND;
    info->dwNumOwners = 1;
    return 0;
}

LONG WINAPI lineClose(HLINE hLine)
{
    LONG result = LINEERR_INVALLINEHANDLE;
    uint32_t device = 0;
    {
        std::lock_guard guard(tapi_mutex);
        for (auto& [handle, app] : applications) {
            auto it = std::find_if(app.lines.begin(), app.lines.end(),
                                   [&](const OpenLine& line) { return line.handle == hLine; });
            if (it == app.lines.end())
                continue;
            device = it->device;
            app.lines.erase(it);
            publish_open_lines();
            result = 0;
            break;
        }
    }
    if (result == 0)
        eventlog::write("line.close", {{"line", device}, {"ok", true}});
    return result;
}

LONG WINAPI lineShutdown(HLINEAPP hLineApp)
{
    std::vector<uint32_t> closed;
    {
        std::lock_guard guard(tapi_mutex);
        auto it = applications.find(hLineApp);
        if (it == applications.end())
            return LINEERR_INVALAPPHANDLE;
        for (const OpenLine& line : it->second.lines)
            closed.push_back(line.device);
        CloseHandle(it->second.event);
        applications.erase(it);
        publish_open_lines();
    }
    for (uint32_t device : closed)
        eventlog::write("line.close", {{"line", device}, {"ok", true}});
    return 0;
}
