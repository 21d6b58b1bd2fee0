// The phone's screen as lines of text, for the terminal view.
#pragma once

#include <string>
#include <vector>

namespace phone {

struct ScreenText {
    std::vector<std::string> lines; // the title bar first
    std::vector<std::string> softkeys;
};

// The foreground window as it would read on the device, `width` columns wide.
ScreenText screen_text(int width);

} // namespace phone
