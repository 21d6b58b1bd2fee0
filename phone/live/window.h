// phone window: the phone in a desktop window (GTK 4).
#pragma once

namespace phone {

// Runs the window until it is closed.  `zoom` 0 chooses by the device's
// dpi: 2 at 96 dpi, 1 at 192.
void run_window(int zoom);

} // namespace phone
