// Shared by the phone tool's commands and its library: numbers, hex bytes
// and window messages by name, and the files it writes for the user.
#include "parsing.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

#include <fcntl.h>
#include <unistd.h>

#include <windows.h>

#include "monitor_messages.h"

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
    } catch (const std::out_of_range&) {
        throw Failure(what + " " + text + " is too large");
    } catch (const std::logic_error&) {
        throw Failure("invalid " + what + " '" + text + "': expected a decimal or 0x-hexadecimal number");
    }
}

uint32_t parse_uint32(const std::string& text, const std::string& what)
{
    const uint64_t value = parse_number(text, what);
    if (value > 0xFFFFFFFFull)
        throw Failure(what + " " + text + " does not fit in 32 bits (at most 4294967295 or 0xFFFFFFFF)");
    return static_cast<uint32_t>(value);
}

std::string upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::optional<std::vector<unsigned char>> parse_hex_bytes(const std::string& text)
{
    std::string digits;
    for (char c : text)
        if (!std::isspace(static_cast<unsigned char>(c)) && c != ',')
            digits += c;
    if (digits.size() % 2 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
        return std::nullopt;
    std::vector<unsigned char> bytes;
    for (size_t i = 0; i < digits.size(); i += 2)
        bytes.push_back(static_cast<unsigned char>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return bytes;
}

namespace {

const std::map<std::string, uint32_t>& message_names()
{
    static const std::map<std::string, uint32_t> names = {
        {"WM_NULL", 0x0000},        {"WM_CREATE", 0x0001},   {"WM_DESTROY", 0x0002},
        {"WM_CLOSE", 0x0010},       {"WM_QUIT", 0x0012},     {"WM_KEYDOWN", 0x0100},
        {"WM_KEYUP", 0x0101},       {"WM_CHAR", 0x0102},     {"WM_COMMAND", 0x0111},
        {"WM_TIMER", 0x0113},       {"WM_USER", 0x0400},     {"WM_CALL_CONNECTED", WM_CALL_CONNECTED},
        {"WM_CALL_ENDED", WM_CALL_ENDED},  {"WM_MONITOR_QUIT", WM_MONITOR_QUIT},
    };
    return names;
}

} // namespace

std::string message_name(uint32_t message)
{
    for (const auto& [name, value] : message_names())
        if (value == message)
            return name;
    return std::to_string(message);
}

uint32_t parse_message(const std::string& text)
{
    const auto& names = message_names();
    if (!text.empty() && std::isdigit(static_cast<unsigned char>(text[0])))
        return parse_uint32(text, "message");
    auto it = names.find(upper(text));
    if (it == names.end())
        throw Failure("unknown message '" + text + "': give a number or a name such as WM_QUIT");
    return it->second;
}

void write_user_file(const std::string& file, const std::string& bytes)
{
    const std::string aside = file + "." + std::to_string(::getpid()) + ".part";
    const auto failed = [&](int error) {
        ::unlink(aside.c_str());
        return Failure("cannot write " + file + ": " + std::strerror(error));
    };
    const int fd = ::open(aside.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int error = errno;
        throw Failure("cannot write " + file + ": " + std::strerror(error));
    }
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            ::close(fd);
            throw failed(error);
        }
        done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0 || ::rename(aside.c_str(), file.c_str()) != 0)
        throw failed(errno);
}

double parse_clock_rate(const std::string& text, double most)
{
    // Below this the device's timers stand still.
    constexpr double min_clock_rate = 0.001;
    double rate = 0;
    try {
        size_t used = 0;
        rate = std::stod(text, &used);
        if (used != text.size())
            rate = 0;
    } catch (const std::exception&) {
    }
    if (!(rate >= min_clock_rate && rate <= most)) {
        char limits[64];
        std::snprintf(limits, sizeof limits, "give a number from 0.001 to %g", most);
        throw Failure("invalid --clock-rate '" + text + "': " + limits);
    }
    return rate;
}

} // namespace phone
