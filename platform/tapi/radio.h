// The device's radio: the line devices of device.json and the device-wide
// calls on them.  The phone tool (and tests) change calls here; every change
// is logged as a `call` event and delivered as a line message to every
// process of the device that has that line open, whose applications then
// find it with lineGetMessage.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace wince::tapi {

struct LineDevice {
    std::optional<std::wstring> name; // none: the line reports no name
    uint32_t media_modes = 0;         // LINEMEDIAMODE_ bits
};

// The line devices of the configuration, read once per configuration:
// every line function looks one up, so a device with many lines must not
// read them all for each.
class LineDevices {
public:
    explicit LineDevices(std::shared_ptr<const std::vector<LineDevice>> lines) : lines_(std::move(lines)) {}
    size_t size() const { return lines_->size(); }
    const LineDevice& operator[](size_t id) const { return (*lines_)[id]; }
    auto begin() const { return lines_->begin(); }
    auto end() const { return lines_->end(); }

private:
    std::shared_ptr<const std::vector<LineDevice>> lines_;
};

// device.json "lines", in device-identifier order.  A line without
// "media_modes" supports interactive voice and data.
LineDevices line_devices();

// The identifier of the last line called "Cellular Line", if any.
std::optional<uint32_t> default_cellular_line();

} // namespace wince::tapi

namespace wince::tapi::radio {

struct Call {
    uint32_t id = 0;    // also the HCALL applications see
    uint32_t line = 0;
    uint32_t state = 0; // one LINECALLSTATE_ bit
    uint32_t media = 0; // LINEMEDIAMODE_ bits
    bool outbound = false;
    std::string number;
    // Device ms of its first connection: a call's time runs from here to
    // its end, through holds.
    std::optional<double> connected_at;
};

// The calls that have not gone idle, oldest first.
std::vector<Call> calls();
std::optional<Call> find(uint32_t id);

// A new call in `state` (offering for an incoming call, dialling for an
// outgoing one).  The caller has checked the line and the media mode.
// place and change_state throw std::runtime_error naming the radio's file
// when the change cannot be stored (a full disk).
Call place(uint32_t line, uint32_t state, uint32_t media, bool outbound, const std::string& number);

// Moves a call to `state`; a call that goes idle is gone afterwards.
// nullopt when there is no such call.
std::optional<Call> change_state(uint32_t id, uint32_t state);

// Answers a ringing call as the network does: every connected call on
// the device is put on hold first, then `id` is connected.  Returns the
// calls changed, in order.
std::vector<Call> answer(uint32_t id);

// Hangs a call up as the network ends it: disconnected (unless it is
// already), then idle.  Returns the calls changed, in order; empty when
// there is no such call.
std::vector<Call> drop(uint32_t id);

// The active call on hold and the held one connected, in that order; the
// one-step change a user knows.  Empty when there is not exactly one
// connected and one held call.
std::vector<Call> swap();

// A line message other than a call state (LINE_LINEDEVSTATE...), to every
// application with `line` open, or with any line open when none is given.
// Returns how many processes it reached.
int line_message(uint32_t message, uint32_t param1, uint32_t param2, uint32_t param3,
                 std::optional<uint32_t> line = std::nullopt);

// Records which lines this process has open, for the radio's deliveries.
void publish_open_lines(const std::vector<uint32_t>& lines);

} // namespace wince::tapi::radio
