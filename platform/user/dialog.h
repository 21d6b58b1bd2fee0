// What a modal dialog keeps (dialog.cpp makes it; SHInitDialog and the
// screen's view read it).
#pragma once

#include <windows.h>

#include "state.h"

namespace wince::user {

struct DialogData : KindData {
    DLGPROC proc = nullptr;
    HFONT font = nullptr;        // from the template; deleted with the dialog
    SIZE base{4, 8};             // dialog base units
    bool ended = false;
    INT_PTR result = 0;
    bool done_button = false;    // SHInitDialog: "ok" in the title bar
    int template_id = -1;        // resource ordinal, -1 when not from resources
};

} // namespace wince::user
