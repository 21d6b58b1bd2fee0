// A command's failure, the parsing of numbers, bytes and window messages,
// and the writing of files for the user, which the commands and the phone
// library share.  Kept apart from
// commands/commands.h so that the library's sources do not compile CLI11, which costs
// every file that includes it several CPU seconds.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace phone {

// A command's failure: printed as one line on stderr, exit status 1.
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Decimal or 0x-hexadecimal; throws Failure naming `what` otherwise.
uint64_t parse_number(const std::string& text, const std::string& what);

// parse_number for a 32-bit field (message numbers, parameters, ids).
uint32_t parse_uint32(const std::string& text, const std::string& what);

// ASCII letters in upper case ("hklm" -> "HKLM").
std::string upper(std::string text);

// Bytes written as hex digits in pairs, optionally separated by commas and
// white space ("01,ff", "01 FF"); none when the text is anything else.
std::optional<std::vector<unsigned char>> parse_hex_bytes(const std::string& text);

// A window message by number or by name ("WM_QUIT", "WM_MONITOR_QUIT").
uint32_t parse_message(const std::string& text);
// The name of a window message parse_message knows, else its number.
std::string message_name(uint32_t message);

// The fastest clock a device runs at: beyond it timers round to nothing.
inline constexpr double max_clock_rate = 10000;
// The fastest clock the demo runs at: beyond it the programs' reactions,
// a few milliseconds of real time, take seconds of device time, longer
// than the signals the demo waits for.
inline constexpr double max_demo_clock_rate = 1000;

// A --clock-rate from 0.001 to `most`; throws Failure naming both limits
// otherwise.
double parse_clock_rate(const std::string& text, double most);

// Writes a file the user asked for (a picture, an export) whole: written
// aside in the same folder, then renamed over `file`, so an existing file
// is replaced only by a complete one.  Made with the user's umask, as any
// file a command-line tool writes for its user.  Throws Failure naming the
// file and the reason when it cannot.
void write_user_file(const std::string& file, const std::string& bytes);

} // namespace phone
