// Dialogs, controls, fonts and the soft-key bar on the manual clock, with
// DialogProbe.exe's resources as this test's own module.
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <aygshell.h>
#include <windows.h>

#include "device/device.h"
#include "dialog_probe.h"
#include "kernel/sync.h"
#include "shell/menu_resources.h"
#include "test_device.h"
#include "user/dialog_template.h"
#include "user/fonts.h"
#include "user/hit_test.h"
#include "user/keys.h"
#include "user/screen_model.h"
#include "user/state.h"
#include "user/toplevel.h"
#include "user/window.h"
#include "user/touch.h"

using testing_support::TempDevice;
namespace ks = wince::sync;
namespace user = wince::user;
namespace screen = wince::screen;

namespace {

struct Command {
    WORD id;
    WORD code;
    bool operator==(const Command&) const = default;
};

// What the test's dialog procedure saw; written on the dialog's thread,
// read after settle().
struct Seen {
    std::vector<UINT> messages;
    std::vector<Command> commands;
    HWND init_wparam = nullptr;
    std::vector<LRESULT> added;
    LRESULT out_of_range = 0;
    LRESULT cursel_after = 0;
    std::vector<INT_PTR> about_results;
    LPARAM ok_lparam = -1;
    bool keyup_waiting_at_ok = false;
    LRESULT font_at_init = -1;
};
Seen seen;
BOOL init_answer = TRUE;
bool end_in_init = false;
// Run on the dialog's thread when the dialog procedure sees IDM_WARN.
std::function<void(HWND)> on_warn;

std::span<const unsigned char> resource_bytes(WORD type, WORD id)
{
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(type));
    if (found == nullptr)
        return {};
    return {static_cast<const unsigned char*>(LoadResource(nullptr, found)), SizeofResource(nullptr, found)};
}

void full_screen_with_bar(HWND dialog, UINT menu)
{
    SHINITDLGINFO info{SHIDIM_FLAGS, dialog, SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIPDOWN};
    SHInitDialog(&info);
    SHMENUBARINFO bar{};
    bar.cbSize = sizeof(bar);
    bar.hwndParent = dialog;
    bar.dwFlags = SHCMBF_HMENU;
    bar.nToolBarId = menu;
    SHCreateMenuBar(&bar);
}

INT_PTR CALLBACK AboutProc(HWND dialog, UINT msg, WPARAM wparam, LPARAM)
{
    if (msg == WM_INITDIALOG) {
        full_screen_with_bar(dialog, IDR_ABOUT_MENU);
        return TRUE;
    }
    if (msg == WM_COMMAND && (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDM_DONE)) {
        EndDialog(dialog, LOWORD(wparam));
        return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK ProbeProc(HWND dialog, UINT msg, WPARAM wparam, LPARAM lparam)
{
    seen.messages.push_back(msg);
    switch (msg) {
    case WM_INITDIALOG:
        seen.init_wparam = reinterpret_cast<HWND>(wparam);
        full_screen_with_bar(dialog, IDR_PROBE_MENU);
        for (const wchar_t* item : {L"None", L"Sound", L"Vibrate"}) {
            seen.added.push_back(SendDlgItemMessageW(dialog, IDC_FIRST, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item)));
            SendDlgItemMessageW(dialog, IDC_SECOND, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
        }
        SendDlgItemMessageW(dialog, IDC_FIRST, CB_SETCURSEL, 1, 0);
        seen.out_of_range = SendDlgItemMessageW(dialog, IDC_SECOND, CB_SETCURSEL, 7, 0);
        seen.cursel_after = SendDlgItemMessageW(dialog, IDC_SECOND, CB_GETCURSEL, 0, 0);
        if (end_in_init)
            EndDialog(dialog, 7);
        return init_answer;
    case WM_COMMAND:
        seen.commands.push_back({LOWORD(wparam), HIWORD(wparam)});
        if (LOWORD(wparam) == IDM_WARN && on_warn)
            on_warn(dialog);
        if (LOWORD(wparam) == IDOK) {
            MSG pending;
            seen.ok_lparam = lparam;
            seen.keyup_waiting_at_ok = PeekMessageW(&pending, nullptr, WM_KEYUP, WM_KEYUP, PM_NOREMOVE);
        }
        if (LOWORD(wparam) == IDM_ABOUT)
            seen.about_results.push_back(DialogBoxParamW(nullptr, MAKEINTRESOURCEW(IDD_PROBE_ABOUT), nullptr, AboutProc, 0));
        if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wparam));
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

std::vector<Command> commands_from(WORD id)
{
    std::vector<Command> out;
    for (const Command& c : seen.commands)
        if (c.id == id)
            out.push_back(c);
    return out;
}

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        wince::clock::use_manual(0);
        seen = Seen{};
        init_answer = TRUE;
        end_in_init = false;
        on_warn = nullptr;
    }

    void open()
    {
        thread_ = ks::spawn_device_thread(
            [this] { result_ = DialogBoxParamW(nullptr, MAKEINTRESOURCEW(IDD_PROBE), nullptr, ProbeProc, 42); });
        ks::settle();
    }

    // Ends the dialog when the test has not, and returns its result.
    INT_PTR close()
    {
        if (auto top = user::toplevel::foreground())
            PostMessageW(hwnd_of(*top), WM_COMMAND, IDCANCEL, 0);
        thread_.join();
        return result_;
    }

    void TearDown() override
    {
        if (thread_.joinable())
            close();
    }

    static HWND hwnd_of(const user::toplevel::Entry& e) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(e.hwnd)); }

    void press(const std::string& name)
    {
        auto top = user::toplevel::key_target();
        ASSERT_TRUE(top);
        ASSERT_TRUE(user::deliver_key(hwnd_of(*top), *user::parse_key(name)));
        ks::settle();
    }

    static const screen::Control& control(const screen::Screen& s, int id)
    {
        for (const auto& c : s.controls)
            if (c.id == id)
                return c;
        static screen::Control none;
        ADD_FAILURE() << "no control " << id;
        return none;
    }

    static int focused(const screen::Screen& s)
    {
        for (const auto& c : s.controls)
            if (c.focused)
                return c.id;
        return 0;
    }

    TempDevice device_;
    std::thread thread_;
    INT_PTR result_ = 0;
};

TEST(DialogTemplateTest, ClassicTemplatesGiveTheirControlsInTemplateOrder)
{
    auto probe = user::parse_dialog_template(resource_bytes(5, IDD_PROBE));
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->caption, L"Probe");
    EXPECT_TRUE(probe->has_font);
    EXPECT_EQ(probe->point_size, 8);
    EXPECT_EQ(probe->face, L"MS Shell Dlg");
    EXPECT_EQ(probe->cx, 156);
    EXPECT_EQ(probe->cy, 129);
    ASSERT_EQ(probe->items.size(), 5u);
    const std::vector<std::wstring> classes{L"BUTTON", L"STATIC", L"COMBOBOX", L"STATIC", L"COMBOBOX"};
    const std::vector<WORD> ids{1000, 0xFFFF, 1001, 0xFFFF, 1002};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(probe->items[i].class_name, classes[i]) << i;
        EXPECT_EQ(probe->items[i].id, ids[i]) << i;
    }
    EXPECT_EQ(probe->items[0].text, L"Enabled");
    EXPECT_EQ(probe->items[0].style & 0xF, static_cast<DWORD>(BS_AUTOCHECKBOX));
    EXPECT_EQ(probe->items[2].x, 60);
    EXPECT_EQ(probe->items[2].cy, 35);

    auto about = user::parse_dialog_template(resource_bytes(5, IDD_PROBE_ABOUT));
    ASSERT_TRUE(about);
    ASSERT_EQ(about->items.size(), 3u);
    EXPECT_EQ(about->items[2].class_name, L"STATIC");
    EXPECT_EQ(about->items[2].style & 0x1F, static_cast<DWORD>(SS_ICON));
    EXPECT_EQ(about->items[2].text_ordinal, IDI_PROBE);

    // Cut short anywhere, or an extended template: no template at all.
    const auto bytes = resource_bytes(5, IDD_PROBE);
    for (size_t cut : {size_t{10}, size_t{40}, bytes.size() - 6})
        EXPECT_FALSE(user::parse_dialog_template(bytes.first(cut))) << cut;
    const unsigned char extended[] = {1, 0, 0xFF, 0xFF, 0, 0, 0, 0};
    EXPECT_FALSE(user::parse_dialog_template(extended));
}

TEST(MenuResourcesTest, SoftKeyBarDataNamesLabelsCommandsAndPopups)
{
    auto bar = wince::shell::parse_menubar(resource_bytes(10, IDR_PROBE_MENU));
    ASSERT_TRUE(bar);
    EXPECT_EQ(bar->menu, IDR_PROBE_MENU);
    ASSERT_EQ(bar->buttons.size(), 2u);
    EXPECT_EQ(bar->buttons[0].command, IDM_OK);
    EXPECT_EQ(bar->buttons[0].label, IDS_OK);
    EXPECT_EQ(bar->buttons[0].submenu, -1);
    EXPECT_EQ(bar->buttons[1].image, 0xFFFE);
    EXPECT_EQ(bar->buttons[1].style, 0x18);
    EXPECT_EQ(bar->buttons[1].label, IDS_ACTIONS);
    EXPECT_EQ(bar->buttons[1].submenu, 1);

    auto menu = wince::shell::parse_menu(resource_bytes(4, IDR_PROBE_MENU));
    ASSERT_TRUE(menu);
    ASSERT_EQ(menu->size(), 2u);
    EXPECT_EQ((*menu)[0].text, L"OK");
    EXPECT_EQ((*menu)[0].command, IDM_OK);
    ASSERT_EQ((*menu)[1].popup.size(), 2u);
    EXPECT_EQ((*menu)[1].popup[0].text, L"About...");
    EXPECT_EQ((*menu)[1].popup[1].command, IDM_WARN);

    const auto bytes = resource_bytes(10, IDR_PROBE_MENU);
    EXPECT_FALSE(wince::shell::parse_menubar(bytes.first(bytes.size() - 2)));
    EXPECT_FALSE(wince::shell::parse_menu(resource_bytes(4, IDR_PROBE_MENU).first(9)));
}

TEST_F(DialogTest, InitDialogNamesTheFirstTabStopAndTrueGivesItTheFocus)
{
    open();
    const screen::Screen s = screen::current();
    ASSERT_FALSE(s.dark);
    EXPECT_EQ(s.title, "Probe");
    EXPECT_TRUE(s.ok_button);
    EXPECT_EQ(focused(s), IDC_CHECK);
    EXPECT_EQ(GetDlgCtrlID(seen.init_wparam), IDC_CHECK);
    // The font comes before WM_INITDIALOG, which comes once.
    ASSERT_GE(seen.messages.size(), 2u);
    EXPECT_EQ(std::count(seen.messages.begin(), seen.messages.end(), WM_INITDIALOG), 1);
    EXPECT_LT(std::find(seen.messages.begin(), seen.messages.end(), WM_SETFONT),
              std::find(seen.messages.begin(), seen.messages.end(), WM_INITDIALOG));
    EXPECT_EQ(s.softkeys.size(), 2u);
    // Every control has the template's 8 point font, at 96 dpi 11 pixels.
    for (const auto& c : s.controls) {
        EXPECT_EQ(c.font_height, 11) << c.id;
        EXPECT_EQ(c.face, "Tahoma") << c.id;
        EXPECT_FALSE(c.bold) << c.id;
    }
    // Dialog units at base units 6 x 13, each rounded as MulDiv rounds: the
    // list at x 60, y 12 (19.5 pixels); the check box 10 high (16.25 pixels),
    // whatever its y.
    EXPECT_EQ(control(s, IDC_FIRST).rect.x, 90);
    EXPECT_EQ(control(s, IDC_FIRST).rect.y, s.client.y + 20);
    EXPECT_EQ(control(s, IDC_FIRST).rect.width, 132);
    EXPECT_EQ(control(s, IDC_CHECK).rect.height, 16);
    EXPECT_EQ(close(), IDCANCEL);
}

TEST_F(DialogTest, InitDialogAnsweringFalseLeavesTheFocusAlone)
{
    init_answer = FALSE;
    open();
    EXPECT_EQ(focused(screen::current()), 0);
}

TEST_F(DialogTest, TabVisitsTabStopsInTemplateOrderAndShiftTabGoesBack)
{
    open();
    std::vector<int> visited;
    for (int i = 0; i < 3; ++i) {
        press("TAB");
        visited.push_back(focused(screen::current()));
    }
    press("SHIFT+TAB");
    visited.push_back(focused(screen::current()));
    EXPECT_EQ(visited, (std::vector<int>{IDC_FIRST, IDC_SECOND, IDC_CHECK, IDC_SECOND}));
    // Tab is the dialog manager's: the lists hear only of the focus.
    for (const Command& c : seen.commands)
        EXPECT_TRUE(c.code == CBN_SETFOCUS || c.code == CBN_KILLFOCUS) << c.code;
}

TEST_F(DialogTest, SpaceTogglesTheCheckBoxAndReturnEndsWithIdOk)
{
    open();
    EXPECT_EQ(control(screen::current(), IDC_CHECK).checked, false);
    press("SPACE");
    EXPECT_EQ(control(screen::current(), IDC_CHECK).checked, true);
    press("SPACE");
    EXPECT_EQ(control(screen::current(), IDC_CHECK).checked, false);
    EXPECT_EQ(commands_from(IDC_CHECK), (std::vector<Command>{{IDC_CHECK, BN_CLICKED}, {IDC_CHECK, BN_CLICKED}}));
    press("RETURN");
    thread_.join();
    EXPECT_EQ(result_, IDOK);
    EXPECT_TRUE(screen::current().dark);
}

TEST_F(DialogTest, ComboBoxesAppendClearOutOfRangeSelectionsAndFollowArrowsAndTyping)
{
    open();
    EXPECT_EQ(seen.added, (std::vector<LRESULT>{0, 1, 2}));
    EXPECT_EQ(seen.out_of_range, CB_ERR);
    EXPECT_EQ(seen.cursel_after, CB_ERR);
    screen::Screen s = screen::current();
    EXPECT_EQ(control(s, IDC_FIRST).selection, 1);
    EXPECT_EQ(control(s, IDC_FIRST).text, "Sound");
    EXPECT_EQ(control(s, IDC_SECOND).selection, -1);
    EXPECT_EQ(control(s, IDC_SECOND).text, "");

    press("TAB");
    press("TAB"); // the list with no selection
    press("UP");  // an arrow with nothing selected takes the first item
    press("DOWN");
    press("DOWN");
    press("DOWN"); // already at the last: nothing changes
    s = screen::current();
    EXPECT_EQ(control(s, IDC_SECOND).selection, 2);
    EXPECT_EQ(control(s, IDC_SECOND).text, "Vibrate");
    EXPECT_EQ(commands_from(IDC_SECOND).size(), 7u); // SETFOCUS, then SELENDOK and SELCHANGE for each move

    press("v"); // typing into the closed list replaces the selected text and
    EXPECT_EQ(control(screen::current(), IDC_SECOND).selection, -1); // clears the selection, even for a prefix
    press("y");
    s = screen::current();
    EXPECT_EQ(control(s, IDC_SECOND).text, "vy");
    EXPECT_EQ(control(s, IDC_SECOND).selection, -1);
    EXPECT_EQ(commands_from(IDC_SECOND).back(), (Command{IDC_SECOND, CBN_EDITCHANGE}));
    press("BACK");
    EXPECT_EQ(control(screen::current(), IDC_SECOND).text, "v");
    press("ESCAPE");
    thread_.join();
    EXPECT_EQ(result_, IDCANCEL);
}

TEST_F(DialogTest, SoftKeysOpenTheirMenuAndAChosenItemArrivesAsACommand)
{
    open();
    press("F2");
    screen::Screen s = screen::current();
    ASSERT_TRUE(s.menu);
    EXPECT_EQ(s.menu->items, (std::vector<std::string>{"About...", "Warn"}));
    EXPECT_EQ(s.title, "Probe"); // drawn over the dialog
    press("UP"); // the highlight wraps both ways
    EXPECT_EQ(screen::current().menu->highlighted, 1);
    press("DOWN");
    EXPECT_EQ(screen::current().menu->highlighted, 0);
    press("DOWN");
    EXPECT_EQ(screen::current().menu->highlighted, 1);
    press("RETURN");
    EXPECT_FALSE(screen::current().menu);
    EXPECT_EQ(commands_from(IDM_WARN), (std::vector<Command>{{IDM_WARN, 0}}));

    press("F2");
    press("ESCAPE"); // closes the menu, not the dialog
    EXPECT_FALSE(screen::current().menu);
    EXPECT_TRUE(commands_from(IDCANCEL).empty());
    press("F1");
    EXPECT_EQ(commands_from(IDM_OK), (std::vector<Command>{{IDM_OK, 0}}));
}

TEST_F(DialogTest, NestedDialogsReturnToTheOuterOneWithItsStateInPlace)
{
    open();
    press("SPACE"); // an unsaved change
    for (int round = 0; round < 3; ++round) {
        press("F2");
        press("RETURN"); // About...
        screen::Screen s = screen::current();
        EXPECT_EQ(s.softkeys.size(), 1u);
        ASSERT_EQ(s.controls.size(), 3u);
        EXPECT_TRUE(control(s, IDC_TITLE).bold == false); // no bold font set by this test's About box
        press("F1"); // Done
        s = screen::current();
        EXPECT_EQ(s.softkeys.size(), 2u) << round;
        EXPECT_EQ(control(s, IDC_CHECK).checked, true) << round;
    }
    EXPECT_EQ(seen.about_results, (std::vector<INT_PTR>{IDM_DONE, IDM_DONE, IDM_DONE}));
    EXPECT_EQ(close(), IDCANCEL);
}

TEST_F(DialogTest, ComboBoxesNotifyTheirParentAsWindowsDocuments)
{
    open();
    press("TAB"); // to the first list
    press("DOWN");
    EXPECT_EQ(commands_from(IDC_FIRST), (std::vector<Command>{{IDC_FIRST, CBN_SETFOCUS},
                                                              {IDC_FIRST, CBN_SELENDOK},
                                                              {IDC_FIRST, CBN_SELCHANGE}}));
    seen.commands.clear();
    HWND first = GetDlgItem(hwnd_of(*user::toplevel::foreground()), IDC_FIRST);
    PostMessageW(first, WM_LBUTTONDOWN, 0, 0); // opens the list
    ks::settle();
    press("RETURN"); // a dropped list wants every key: Return closes it, not the dialog
    EXPECT_EQ(commands_from(IDC_FIRST), (std::vector<Command>{{IDC_FIRST, CBN_DROPDOWN},
                                                              {IDC_FIRST, CBN_SELENDOK},
                                                              {IDC_FIRST, CBN_CLOSEUP}}));
    EXPECT_TRUE(commands_from(IDOK).empty());
    ASSERT_TRUE(user::toplevel::foreground());

    seen.commands.clear();
    PostMessageW(first, WM_LBUTTONDOWN, 0, 0);
    ks::settle();
    PostMessageW(first, user::WM_WINCE_PICK, 0, 0); // a tap on "None"
    ks::settle();
    PostMessageW(first, WM_LBUTTONDOWN, 0, 0);
    ks::settle();
    press("v"); // typing into the dropped list selects the first item it begins
    EXPECT_EQ(control(screen::current(), IDC_FIRST).selection, 2);
    press("TAB"); // leaving with the list open cancels the choice
    EXPECT_EQ(commands_from(IDC_FIRST), (std::vector<Command>{{IDC_FIRST, CBN_DROPDOWN},
                                                              {IDC_FIRST, CBN_SELENDOK},
                                                              {IDC_FIRST, CBN_SELCHANGE},
                                                              {IDC_FIRST, CBN_CLOSEUP},
                                                              {IDC_FIRST, CBN_DROPDOWN},
                                                              {IDC_FIRST, CBN_EDITUPDATE},
                                                              {IDC_FIRST, CBN_EDITCHANGE},
                                                              {IDC_FIRST, CBN_SELENDCANCEL},
                                                              {IDC_FIRST, CBN_CLOSEUP},
                                                              {IDC_FIRST, CBN_KILLFOCUS}}));
}

TEST_F(DialogTest, InsertedItemsGoWhereAskedAndTheSelectionStaysOnItsItem)
{
    open(); // the control classes are registered
    HWND sorted = CreateWindowExW(0, L"COMBOBOX", L"", WS_POPUP | CBS_DROPDOWN | CBS_SORT, 0, 0, 10, 10, nullptr,
                                  nullptr, nullptr, nullptr);
    ASSERT_NE(sorted, nullptr);
    for (const wchar_t* item : {L"c", L"b"})
        SendMessageW(sorted, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
    SendMessageW(sorted, CB_SETCURSEL, 0, 0); // "b"
    EXPECT_EQ(SendMessageW(sorted, CB_INSERTSTRING, 0, reinterpret_cast<LPARAM>(L"a")), 0);
    EXPECT_EQ(SendMessageW(sorted, CB_GETCURSEL, 0, 0), 1);
    EXPECT_EQ(SendMessageW(sorted, CB_INSERTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(L"0")), 3);
    wchar_t text[8] = {};
    SendMessageW(sorted, CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(text));
    EXPECT_EQ(std::wstring(text), L"b");
    SendMessageW(sorted, CB_GETLBTEXT, 3, reinterpret_cast<LPARAM>(text));
    EXPECT_EQ(std::wstring(text), L"0"); // at the end, never sorted in
    EXPECT_EQ(SendMessageW(sorted, CB_DELETESTRING, 0, 0), 3); // the items left
    EXPECT_EQ(SendMessageW(sorted, CB_GETCURSEL, 0, 0), 0); // still on "b"
    DestroyWindow(sorted);
}

// A program that only asks a control what it holds changes nothing on the
// screen, so its screen entry is not written again.
TEST_F(DialogTest, ReadingAControlLeavesTheScreenAsItIs)
{
    open();
    HWND combo = CreateWindowExW(0, L"COMBOBOX", L"", WS_POPUP | CBS_DROPDOWN, 0, 0, 10, 10, nullptr, nullptr,
                                 nullptr, nullptr);
    HWND check = CreateWindowExW(0, L"BUTTON", L"", WS_POPUP | BS_AUTOCHECKBOX, 0, 0, 10, 10, nullptr, nullptr,
                                 nullptr, nullptr);
    ASSERT_NE(combo, nullptr);
    ASSERT_NE(check, nullptr);
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"a"));
    const auto dirty = [] {
        auto held = ks::lock();
        return user::state().views_dirty;
    };
    {
        auto held = ks::lock();
        user::state().views_dirty = false;
    }
    wchar_t text[8] = {};
    SendMessageW(combo, CB_GETCURSEL, 0, 0);
    SendMessageW(combo, CB_GETCOUNT, 0, 0);
    SendMessageW(combo, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(text));
    SendMessageW(check, BM_GETCHECK, 0, 0);
    GetWindowTextW(combo, text, 8);
    EnableWindow(check, TRUE); // nor do calls that leave all as it was
    EXPECT_FALSE(dirty());
    SetFocus(check);
    {
        auto held = ks::lock();
        user::state().views_dirty = false;
    }
    SetFocus(check);
    EXPECT_FALSE(dirty());
    SendMessageW(combo, CB_SETCURSEL, 0, 0);
    EXPECT_TRUE(dirty());
    DestroyWindow(check);
    DestroyWindow(combo);
}

// A combo box's procedure still running for a box that has gone (its
// parent destroyed it on a notification) leaves nothing for the next one.
TEST_F(DialogTest, AVanishedComboBoxKeepsNothingForTheNextOne)
{
    open();
    WNDPROC combo_proc = nullptr;
    const auto vanished = [&] {
        HWND combo = CreateWindowExW(0, L"COMBOBOX", L"", WS_POPUP | CBS_DROPDOWN, 0, 0, 10, 10, nullptr, nullptr,
                                     nullptr, nullptr);
        combo_proc = user::replace_window_proc(combo, DefWindowProcW);
        DestroyWindow(combo);
        return combo;
    };
    HWND first = vanished();
    combo_proc(first, CB_SHOWDROPDOWN, TRUE, 0);
    combo_proc(first, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"a"));
    HWND second = vanished();
    EXPECT_EQ(combo_proc(second, CB_GETDROPPEDSTATE, 0, 0), FALSE);
    EXPECT_EQ(combo_proc(second, CB_GETCOUNT, 0, 0), 0);
}

TEST_F(DialogTest, ReturnIsSentAsIdOkBeforeItsKeyUpAndSetFocusNullIgnoresKeys)
{
    on_warn = [](HWND) {
        SetLastError(0);
        EXPECT_NE(SetFocus(nullptr), nullptr); // the check box had it
        EXPECT_EQ(GetLastError(), 0u);
        EXPECT_EQ(GetFocus(), nullptr);
    };
    open();
    press("F2");
    press("DOWN");
    press("RETURN"); // Warn
    EXPECT_EQ(focused(screen::current()), 0);
    press("SPACE"); // goes nowhere
    EXPECT_EQ(control(screen::current(), IDC_CHECK).checked, false);
    press("TAB"); // nor does Tab
    EXPECT_EQ(focused(screen::current()), 0);

    PostMessageW(GetDlgItem(hwnd_of(*user::toplevel::foreground()), IDC_CHECK), WM_LBUTTONDOWN, 0, 0);
    ks::settle(); // a tap gives the check box the focus again
    press("RETURN");
    thread_.join();
    EXPECT_EQ(result_, IDOK);
    EXPECT_TRUE(seen.keyup_waiting_at_ok);
    EXPECT_EQ(seen.ok_lparam, 0); // the dialog has no OK button
}

TEST_F(DialogTest, EndDialogInInitDialogEndsItBeforeItIsShown)
{
    end_in_init = true;
    open();
    thread_.join();
    EXPECT_EQ(result_, 7);
    EXPECT_TRUE(device_.events("dialog.open").empty());
    EXPECT_EQ(device_.events("dialog.end").size(), 1u);
    // It never took the focus: no control heard of it.
    EXPECT_TRUE(commands_from(IDC_FIRST).empty());
}

TEST_F(DialogTest, AMessageBoxBeforeTheFirstDialogLeavesDialogsWorking)
{
    thread_ = ks::spawn_device_thread([this] {
        MessageBoxW(nullptr, L"First", L"Box", MB_OK);
        result_ = DialogBoxParamW(nullptr, MAKEINTRESOURCEW(IDD_PROBE), nullptr, ProbeProc, 42);
    });
    ks::settle();
    press("RETURN"); // the box
    EXPECT_EQ(std::count(seen.messages.begin(), seen.messages.end(), WM_INITDIALOG), 1);
    EXPECT_EQ(screen::current().title, "Probe");
    EXPECT_EQ(close(), IDCANCEL);
}

INT_PTR CALLBACK OkButtonProc(HWND dialog, UINT msg, WPARAM wparam, LPARAM lparam)
{
    if (msg == WM_COMMAND && LOWORD(wparam) == IDOK) {
        seen.ok_lparam = lparam;
        seen.init_wparam = GetDlgItem(dialog, IDOK);
        EndDialog(dialog, IDOK);
    }
    return msg == WM_INITDIALOG;
}

TEST_F(DialogTest, ReturnComesWithTheHandleOfTheOkButton)
{
    struct alignas(4) {
        DLGTEMPLATE dialog;
        WORD menu, window_class, title;
        DLGITEMTEMPLATE item; // on a DWORD boundary, at 24
        WORD item_class[2];   // the BUTTON class by ordinal
        WORD item_title, extra;
    } with_ok{{WS_POPUP, 0, 1, 0, 0, 100, 50}, 0, 0, 0, {WS_CHILD | WS_VISIBLE, 0, 0, 0, 40, 14, IDOK}, {0xFFFF, 0x0080},
              0, 0};
    thread_ = ks::spawn_device_thread(
        [&] { result_ = DialogBoxIndirectParamW(nullptr, &with_ok.dialog, nullptr, OkButtonProc, 0); });
    ks::settle();
    press("RETURN");
    thread_.join();
    EXPECT_EQ(result_, IDOK);
    ASSERT_NE(seen.init_wparam, nullptr);
    EXPECT_EQ(seen.ok_lparam, reinterpret_cast<LPARAM>(seen.init_wparam));
}

INT_PTR CALLBACK FontlessProc(HWND dialog, UINT msg, WPARAM, LPARAM)
{
    if (msg != WM_INITDIALOG)
        return FALSE;
    seen.font_at_init = SendMessageW(dialog, WM_GETFONT, 0, 0);
    EndDialog(dialog, IDOK);
    return TRUE;
}

TEST_F(DialogTest, ADialogWithoutDsSetFontAnswersWmGetFontWithNull)
{
    struct {
        DLGTEMPLATE dialog;
        WORD menu, window_class, title;
    } fontless{{WS_POPUP | WS_CAPTION, 0, 0, 0, 0, 100, 50}, 0, 0, 0};
    std::thread t = ks::spawn_device_thread([&] {
        result_ = DialogBoxIndirectParamW(nullptr, &fontless.dialog, nullptr, FontlessProc, 0);
    });
    t.join();
    EXPECT_EQ(result_, IDOK);
    EXPECT_EQ(seen.font_at_init, 0); // the system font
}

INT_PTR CALLBACK StayingProc(HWND, UINT msg, WPARAM, LPARAM) { return msg == WM_INITDIALOG; }

// A dialog whose modal loop cannot take messages has failed: -1, and the
// last error says why.
TEST(DialogFailureTest, ALoopThatCannotTakeMessagesFailsTheDialogWithItsError)
{
    wince::clock::use_manual(0);
    TempDevice device(nlohmann::json{{"faults", {{"*", {{"GetMessageW", 1}}}}}});
    wince::device::reload_config();
    struct {
        DLGTEMPLATE dialog;
        WORD menu, window_class, title;
    } plain{{WS_POPUP | WS_CAPTION, 0, 0, 0, 0, 100, 50}, 0, 0, 0};
    INT_PTR result = 0;
    DWORD error = 0;
    std::thread t = ks::spawn_device_thread([&] {
        SetLastError(0);
        result = DialogBoxIndirectParamW(nullptr, &plain.dialog, nullptr, StayingProc, 0);
        error = GetLastError();
    });
    t.join();
    EXPECT_EQ(result, -1);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
}

// The point in the middle of a rect.
struct Point {
    int x, y;
};
Point middle(const screen::Rect& r) { return {r.x + r.width / 2, r.y + r.height / 2}; }

// Taps the probe's screen at `p` as the stylus would, in this process.
user::hit_test::Hit tap_at(Point p)
{
    const user::hit_test::Hit hit = user::hit_test::at(screen::current(), p.x, p.y);
    if (hit.tap) {
        EXPECT_TRUE(user::touch::deliver(*hit.tap)) << hit.what;
    }
    ks::settle();
    return hit;
}

TEST_F(DialogTest, ATapOutsideAnOpenListOrMenuOnlyClosesItAndANotifyingStaticTakesItsTap)
{
    constexpr int idc_notifying = 1500;
    on_warn = [](HWND dialog) {
        HWND label = CreateWindowExW(0, L"STATIC", L"Tap me", WS_CHILD | WS_VISIBLE | SS_NOTIFY, 0, 150, 100, 20,
                                     dialog, reinterpret_cast<HMENU>(idc_notifying), nullptr, nullptr);
        // Placed as a template places its controls: CreateWindowExW keeps no place.
        auto held = ks::lock();
        user::find_window(label)->rect = RECT{0, 150, 100, 170};
        user::mark_views_dirty();
    };
    open();
    const screen::Screen s = screen::current();
    const Point check = middle(control(s, IDC_CHECK).rect);
    tap_at(middle(control(s, IDC_FIRST).rect));
    seen.commands.clear();
    EXPECT_EQ(tap_at(check).what, "outside the open list of combo box 1001, which closes it");
    EXPECT_EQ(seen.commands, (std::vector<Command>{{IDC_FIRST, CBN_SELENDCANCEL}, {IDC_FIRST, CBN_CLOSEUP}}));
    EXPECT_EQ(control(screen::current(), IDC_CHECK).checked, false);

    // "Warn" adds a static with SS_NOTIFY.
    tap_at(middle(s.softkeys[1].rect));
    ASSERT_TRUE(screen::current().menu);
    tap_at(middle(screen::menu_items(screen::current(), *screen::current().menu)[1]));
    tap_at(middle(control(screen::current(), idc_notifying).rect));
    EXPECT_EQ(commands_from(idc_notifying), (std::vector<Command>{{idc_notifying, STN_CLICKED}}));

    tap_at(middle(s.softkeys[1].rect));
    seen.commands.clear();
    tap_at(check);
    EXPECT_FALSE(screen::current().menu);
    EXPECT_TRUE(seen.commands.empty());
    EXPECT_EQ(close(), IDCANCEL);
}

// A dialog as the screen shows it: a label over a check box, a combo box,
// a soft key; drawn from the sizes of the device's shell at 96 dpi.
screen::Screen drawn_dialog()
{
    screen::Screen s;
    s.dark = false;
    s.pid = 10;
    s.hwnd = 100;
    s.ok_button = true;
    s.title_bar = {0, 0, 240, 26};
    s.ok = {210, 0, 30, 26};
    s.client = {0, 26, 240, 268};
    s.softkey_bar = {0, 294, 240, 26};
    screen::Control label{.id = -1, .kind = "STATIC", .text = "Note", .rect = {0, 30, 240, 20}};
    screen::Control check{.id = 1000, .kind = "BUTTON", .text = "Enabled", .rect = {0, 30, 120, 20}, .checked = false};
    screen::Control combo{.id = 1001, .kind = "COMBOBOX", .text = "b", .rect = {60, 250, 100, 20},
                          .items = {"a", "b", "c", "d"}};
    s.controls = {label, check, combo};
    s.softkeys = {{"Done", false, {0, 294, 120, 26}}, {"", false, {120, 294, 120, 26}}};
    return s;
}

TEST(HitTest, WhatIsOnTopTakesTheTapAsWindowsRoutesAClick)
{
    screen::Screen s = drawn_dialog();
    using user::touch::Target;
    const auto target = [&](int x, int y) {
        const auto hit = user::hit_test::at(s, x, y);
        return hit.tap ? std::optional<Target>(hit.tap->target) : std::nullopt;
    };
    // A STATIC without SS_NOTIFY lets the tap through to the check box under
    // it; with SS_NOTIFY it takes the tap itself.
    EXPECT_EQ(target(10, 40), Target::control);
    EXPECT_EQ(user::hit_test::at(s, 10, 40).tap->id, 1000u);
    EXPECT_EQ(user::hit_test::at(s, 200, 40).what, "label -1 \"Note\"");
    EXPECT_EQ(target(200, 40), std::nullopt);
    s.controls[0].notify = true;
    EXPECT_EQ(user::hit_test::at(s, 10, 40).tap->id, 0xFFFFu);
    s.controls[0].notify = false;
    // Nothing under the point, or a soft key without a label: no tap.
    EXPECT_EQ(target(10, 200), std::nullopt);
    EXPECT_EQ(target(200, 300), std::nullopt);
    EXPECT_EQ(target(10, 300), Target::softkey);
    EXPECT_EQ(target(220, 10), Target::ok);

    // The list does not fit between its box and the soft-key bar: it drops
    // upwards, and while it is open every tap outside it only closes it.
    s.controls[2].dropped = true;
    const auto list = screen::dropped_list(s, s.controls[2]);
    EXPECT_EQ(list.frame.y + list.frame.height, s.controls[2].rect.y);
    EXPECT_EQ(user::hit_test::at(s, 70, list.items[3].y + 1).tap->index, 3u);
    for (const auto& [x, y] : {std::pair{10, 40}, {10, 300}, {220, 10}})
        EXPECT_EQ(target(x, y), Target::list_outside) << x << "," << y;

    // An open menu is above the list, a message box above all: its owner is
    // disabled, only the box's ok reaches it.
    s.menu = screen::Menu{20, 200, {"One", "Two"}, 0, {0, 250, 80, 44}};
    EXPECT_EQ(target(10, 40), Target::menu_outside);
    const auto item = user::hit_test::at(s, 10, 285);
    EXPECT_EQ(item.tap->index, 1u);
    EXPECT_EQ(item.pid, 20u);
    s.messagebox = screen::MessageBoxView{30, 300, "Sure?", "Probe", 0, {8, 100, 224, 80}};
    EXPECT_EQ(target(10, 40), std::nullopt);
    EXPECT_EQ(target(10, 285), std::nullopt);
    const auto ok = user::hit_test::at(s, 220, 10);
    EXPECT_EQ(ok.tap->window, 300u);
    EXPECT_EQ(ok.pid, 30u);
}

class FontTest : public ::testing::TestWithParam<std::tuple<int, LONG, SIZE>> {};

TEST_P(FontTest, TheBoldTitleFontAndDialogUnitsFollowTheDevicesDpi)
{
    const auto [dpi, height, base] = GetParam();
    TempDevice device(nlohmann::json{{"dpi", dpi}});
    wince::device::reload_config();
    HDC screen_dc = GetDC(nullptr);
    ASSERT_NE(screen_dc, nullptr);
    EXPECT_EQ(GetDeviceCaps(screen_dc, LOGPIXELSY), dpi);
    EXPECT_EQ(ReleaseDC(nullptr, screen_dc), 1);

    LOGFONTW bold{};
    bold.lfHeight = -(9 * dpi) / 72;
    bold.lfWeight = FW_BOLD;
    bold.lfPitchAndFamily = FF_SWISS;
    wcscpy(bold.lfFaceName, L"Tahoma");
    EXPECT_EQ(bold.lfHeight, height);
    HFONT font = CreateFontIndirectW(&bold);
    ASSERT_NE(font, nullptr);
    const auto kept = user::fonts::logfont(font);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->lfHeight, height);
    EXPECT_EQ(kept->lfWeight, FW_BOLD);
    EXPECT_EQ(std::wstring(kept->lfFaceName), L"Tahoma");
    EXPECT_EQ(user::fonts::metrics(*kept).em, -height);
    EXPECT_TRUE(DeleteObject(font));
    EXPECT_FALSE(DeleteObject(font));

    const SIZE units = user::fonts::dialog_base_units(user::fonts::point_font(8, L"Tahoma"));
    EXPECT_EQ(units.cx, base.cx);
    EXPECT_EQ(units.cy, base.cy);
}

INSTANTIATE_TEST_SUITE_P(Dpi, FontTest,
                         ::testing::Values(std::tuple{96, LONG{-12}, SIZE{6, 13}},
                                           std::tuple{131, LONG{-16}, SIZE{8, 18}},
                                           std::tuple{192, LONG{-24}, SIZE{12, 24}}));

} // namespace
