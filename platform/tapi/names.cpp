// Telephony constant names, kept in one table per kind so that parsing and
// printing always agree.
#include "names.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <span>
#include <string_view>

#include <tapi.h>

namespace wince::tapi {
namespace {

struct Named {
    std::string_view name;
    uint32_t value;
};

constexpr Named call_states[] = {
    {"IDLE", LINECALLSTATE_IDLE},
    {"OFFERING", LINECALLSTATE_OFFERING},
    {"ACCEPTED", LINECALLSTATE_ACCEPTED},
    {"DIALTONE", LINECALLSTATE_DIALTONE},
    {"DIALING", LINECALLSTATE_DIALING},
    {"RINGBACK", LINECALLSTATE_RINGBACK},
    {"BUSY", LINECALLSTATE_BUSY},
    {"SPECIALINFO", LINECALLSTATE_SPECIALINFO},
    {"CONNECTED", LINECALLSTATE_CONNECTED},
    {"PROCEEDING", LINECALLSTATE_PROCEEDING},
    {"ONHOLD", LINECALLSTATE_ONHOLD},
    {"CONFERENCED", LINECALLSTATE_CONFERENCED},
    {"ONHOLDPENDCONF", LINECALLSTATE_ONHOLDPENDCONF},
    {"ONHOLDPENDTRANSFER", LINECALLSTATE_ONHOLDPENDTRANSFER},
    {"DISCONNECTED", LINECALLSTATE_DISCONNECTED},
    {"UNKNOWN", LINECALLSTATE_UNKNOWN},
};

constexpr Named media_modes[] = {
    {"UNKNOWN", LINEMEDIAMODE_UNKNOWN},
    {"INTERACTIVEVOICE", LINEMEDIAMODE_INTERACTIVEVOICE},
    {"AUTOMATEDVOICE", LINEMEDIAMODE_AUTOMATEDVOICE},
    {"DATAMODEM", LINEMEDIAMODE_DATAMODEM},
    {"G3FAX", LINEMEDIAMODE_G3FAX},
    {"TDD", LINEMEDIAMODE_TDD},
    {"G4FAX", LINEMEDIAMODE_G4FAX},
    {"DIGITALDATA", LINEMEDIAMODE_DIGITALDATA},
    {"TELETEX", LINEMEDIAMODE_TELETEX},
    {"VIDEOTEX", LINEMEDIAMODE_VIDEOTEX},
    {"TELEX", LINEMEDIAMODE_TELEX},
    {"MIXED", LINEMEDIAMODE_MIXED},
    {"ADSI", LINEMEDIAMODE_ADSI},
    {"VOICEVIEW", LINEMEDIAMODE_VOICEVIEW},
};

constexpr Named line_messages[] = {
    {"ADDRESSSTATE", LINE_ADDRESSSTATE},
    {"CALLINFO", LINE_CALLINFO},
    {"CALLSTATE", LINE_CALLSTATE},
    {"CLOSE", LINE_CLOSE},
    {"DEVSPECIFIC", LINE_DEVSPECIFIC},
    {"DEVSPECIFICFEATURE", LINE_DEVSPECIFICFEATURE},
    {"GATHERDIGITS", LINE_GATHERDIGITS},
    {"GENERATE", LINE_GENERATE},
    {"LINEDEVSTATE", LINE_LINEDEVSTATE},
    {"MONITORDIGITS", LINE_MONITORDIGITS},
    {"MONITORMEDIA", LINE_MONITORMEDIA},
    {"MONITORTONE", LINE_MONITORTONE},
    {"REPLY", LINE_REPLY},
    {"REQUEST", LINE_REQUEST},
    {"CREATE", LINE_CREATE},
    {"APPNEWCALL", LINE_APPNEWCALL},
    {"REMOVE", LINE_REMOVE},
};

std::string upper(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return out;
}

std::string trim(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
}

std::optional<uint32_t> parse_number(const std::string& text)
{
    if (text.empty())
        return std::nullopt;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty())
        return std::nullopt;
    uint64_t value = 0;
    for (char c : digits) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (hex && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
        if (value > 0xFFFFFFFFull)
            return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}

std::optional<uint32_t> lookup(std::span<const Named> table, std::string_view prefix, const std::string& text)
{
    std::string key = upper(trim(text));
    if (key.starts_with(prefix))
        key.erase(0, prefix.size());
    for (const Named& entry : table)
        if (entry.name == key)
            return entry.value;
    return parse_number(trim(text));
}

std::string hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

} // namespace

std::string call_state_name(uint32_t state)
{
    for (const Named& entry : call_states)
        if (entry.value == state)
            return "LINECALLSTATE_" + std::string(entry.name);
    return hex(state);
}

std::optional<uint32_t> parse_call_state(const std::string& text)
{
    auto state = lookup(call_states, "LINECALLSTATE_", text);
    // A call is in exactly one state at a time.
    if (!state || *state == 0 || (*state & (*state - 1)) != 0)
        return std::nullopt;
    return state;
}

std::string media_modes_name(uint32_t modes)
{
    std::string out;
    for (const Named& entry : media_modes)
        if (modes & entry.value) {
            out += (out.empty() ? "" : "|") + std::string(entry.name);
            modes &= ~entry.value;
        }
    if (modes != 0 || out.empty())
        out += (out.empty() ? "" : "|") + hex(modes);
    return out;
}

std::optional<uint32_t> parse_media_modes(const std::string& text)
{
    uint32_t modes = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find_first_of("|,", start);
        if (end == std::string::npos)
            end = text.size();
        auto mode = lookup(media_modes, "LINEMEDIAMODE_", text.substr(start, end - start));
        if (!mode)
            return std::nullopt;
        modes |= *mode;
        start = end + 1;
    }
    if (modes == 0)
        return std::nullopt;
    return modes;
}

std::string line_message_name(uint32_t message)
{
    for (const Named& entry : line_messages)
        if (entry.value == message)
            return "LINE_" + std::string(entry.name);
    return std::to_string(message);
}

std::optional<uint32_t> parse_line_message(const std::string& text)
{
    return lookup(line_messages, "LINE_", text);
}

} // namespace wince::tapi
