// The channel between the device's processes: each attached process listens
// on a datagram socket in run/, and other processes send it small JSON
// messages (posted thread and window messages, keys, telephony events).
// A reader thread receives them and hands each to the handler registered
// for its "kind"; handlers run on that thread and take the kernel lock as
// needed.  Messages to this very process are handled directly.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include <nlohmann/json.hpp>

namespace wince::channel {

using Handler = std::function<void(const nlohmann::json& message)>;

// Registers the handler for messages whose "kind" is `kind`.
void on(const std::string& kind, Handler handler);

// Sends `message` (which must have a "kind") to process `pid`.  Returns
// false when that process is not listening (dead, or not a device process).
bool send(uint32_t pid, const nlohmann::json& message);

// Starts this process's listener (done by process::attach).
void listen();
void stop();

} // namespace wince::channel
