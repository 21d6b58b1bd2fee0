#include "common.h"

#include <cctype>
#include <map>

namespace phone {

uint64_t parse_number(const std::string& text, const std::string& what)
{
    try {
        size_t used = 0;
        const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
        if (text.empty() || text[0] == '-' || text[0] == '+')
            throw std::invalid_argument(text);
        uint64_t value = std::stoull(hex ? text.substr(2) : text, &used, hex ? 16 : 10);
        if (used != (hex ? text.size() - 2 : text.size()))
            throw std::invalid_argument(text);
        return value;
    } catch (const std::logic_error&) {
        throw Failure("invalid " + what + " '" + text + "': expected a decimal or 0x-hexadecimal number");
    }
}

uint32_t parse_message(const std::string& text)
{
    static const std::map<std::string, uint32_t> names = {
        {"WM_NULL", 0x0000},        {"WM_CREATE", 0x0001},   {"WM_DESTROY", 0x0002},
        {"WM_CLOSE", 0x0010},       {"WM_QUIT", 0x0012},     {"WM_KEYDOWN", 0x0100},
        {"WM_KEYUP", 0x0101},       {"WM_CHAR", 0x0102},     {"WM_COMMAND", 0x0111},
        {"WM_TIMER", 0x0113},       {"WM_USER", 0x0400},     {"WM_CALL_CONNECTED", 0x0401},
        {"WM_CALL_ENDED", 0x0402},  {"WM_MONITOR_QUIT", 0x0403},
    };
    if (!text.empty() && std::isdigit(static_cast<unsigned char>(text[0])))
        return static_cast<uint32_t>(parse_number(text, "message"));
    auto it = names.find(text);
    if (it == names.end())
        throw Failure("unknown message '" + text + "': give a number or a name such as WM_QUIT");
    return it->second;
}

} // namespace phone
