// The channel between the device's processes: each attached process listens
// on a datagram socket in run/, and other processes send it small JSON
// messages (posted thread and window messages, keys, telephony events).
// A reader thread receives them and hands each to the handler registered
// for its "kind"; handlers run on that thread and take the kernel lock as
// needed.  Messages to this very process are handled directly.
//
// Whatever arrives is untrusted: only the device's owner can reach the
// socket, and the reader accepts a datagram only when its sender runs as
// this process's user.  Every kind is registered with a Schema, and a
// message reaches its handler only when it is a JSON object whose "kind" is
// registered and whose fields are exactly the schema's, of the schema's
// types and ranges.  Anything else (empty or oversized datagrams, bytes that
// do not parse, unknown kinds, missing, unexpected or wrongly typed fields,
// a stranger's datagram) is dropped and logged as `channel.reject` with its
// reason, once per reason and process, so that a flood cannot fill the log.
// Reasons name kinds and fields of the schemas only, never text of the
// message.  Nothing that arrives ends the reader: it stops only when its
// own process calls stop().
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace wince::channel {

// The JSON types a field may have.  Numbers must be integers within the
// type's range: u32 0..2^32-1, u64 0..2^64-1, i64 -2^63..2^63-1.
enum class Type { u32, u64, i64, boolean, text, u32_list };

struct Field {
    const char* name;
    Type type;
    bool required = true;
    size_t max_items = 0; // u32_list: the most items the list may hold
};

// The fields a message carries besides "kind".
using Schema = std::vector<Field>;

// Called only with messages that satisfy the kind's schema, so it may read
// its fields with get<>() without further checks.
using Handler = std::function<void(const nlohmann::json& message)>;

// Registers the schema and handler for messages whose "kind" is `kind`.
void on(const std::string& kind, Schema schema, Handler handler);

// Why `message` does not satisfy `schema`; empty when it does.
std::string violation(const nlohmann::json& message, const std::string& kind, const Schema& schema);

// Sends `message` (which must have a "kind") to process `pid`.  Returns
// false when that process is not listening (dead, or not a device process).
bool send(uint32_t pid, const nlohmann::json& message);

// Starts this process's listener (done by process::attach).
void listen();
void stop();

// Asked for before listen(): the process ends itself as soon as its socket
// is gone from the device (the device folder was removed or moved away, or
// run/ cleared), since nothing can reach it any more.  Device programs ask
// for this; a tool or test that only visits a device does not.  The
// listener learns of it from inotify, so an idle program stays idle.
void end_with_device();

} // namespace wince::channel
