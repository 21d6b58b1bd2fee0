// The demo's narration: the events of a device's log that a user cares
// about, each as a plain sentence with the call time it happened at
// ("call 1  0:55.0  beep at full volume: 5 s before minute 1").
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "log/story.h"

namespace phone {

class Narrator {
public:
    // The sentence for an event, given in the log's order; none for the
    // steps beneath what a user notices (timers, sound device calls...).
    std::optional<std::string> tell(const nlohmann::json& event);

    const std::vector<nlohmann::json>& events() const { return events_; }

private:
    std::string signal_sentence(const nlohmann::json& event, const Told& told);

    std::vector<nlohmann::json> events_;
    Story story_; // which call a line belongs to, and its time: as phone log tells it
};

} // namespace phone
