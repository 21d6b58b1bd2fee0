// phone screen / ui / tap / select: what the device's screen shows, as text
// or JSON, and the stylus on it.
#include <cstdio>

#include <nlohmann/json.hpp>

#include "commands/commands.h"
#include "input/stylus.h"
#include "render/screen_text.h"
#include "screens/shown_screen.h"
#include "user/screen_model.h"

namespace phone {
namespace {

namespace screen = wince::screen;

nlohmann::ordered_json ui_json(const screen::Screen& s)
{
    if (s.dark)
        return nullptr;
    nlohmann::ordered_json controls = nlohmann::ordered_json::array();
    for (const auto& c : s.controls) {
        nlohmann::ordered_json j = {{"id", c.id}, {"class", c.kind}, {"text", c.text}, {"focused", c.focused}, {"bold", c.bold}};
        if (c.checked)
            j["checked"] = *c.checked;
        if (c.kind == "COMBOBOX") {
            j["items"] = c.items;
            j["selection"] = c.selection;
        }
        controls.push_back(std::move(j));
    }
    nlohmann::ordered_json softkeys = nlohmann::ordered_json::array();
    for (const auto& k : s.softkeys)
        softkeys.push_back(k.label);
    nlohmann::ordered_json j = {{"title", s.title}, {"pid", s.pid},         {"hwnd", s.hwnd},
                        {"controls", controls}, {"softkeys", softkeys}, {"menu", nullptr}, {"messagebox", nullptr}};
    if (s.owner == "phone") {
        // No program's: no process, no window.
        j["pid"] = nullptr;
        j["hwnd"] = nullptr;
        nlohmann::ordered_json own = {{"owner", s.owner}, {"screen", s.kind}};
        own.update(j);
        return own;
    }
    if (s.menu)
        j["menu"] = s.menu->items;
    if (s.messagebox)
        j["messagebox"] = {{"text", s.messagebox->text}, {"caption", s.messagebox->caption}, {"type", s.messagebox->type}};
    return j;
}

// A pixel coordinate; a negative one is refused as off the screen later.
int coordinate(const std::string& text, const char* axis)
{
    const bool negative = !text.empty() && text[0] == '-';
    const uint64_t magnitude = parse_number(negative ? text.substr(1) : text, std::string(axis) + " coordinate");
    const int capped = static_cast<int>(std::min<uint64_t>(magnitude, 1u << 30));
    return negative ? -capped : capped;
}

} // namespace

void add_screen_commands(CLI::App& app)
{
    app.add_subcommand("screen", "The screen as text, laid out as on the device, with its controls' ids and labels")
        ->callback([] {
            const auto shown = shown_screen();
            std::fputs((screen_text(shown) + screen_legend(shown)).c_str(), stdout);
        });
    app.add_subcommand("ui", "What the screen shows as JSON: the foreground window, or the phone's own screen "
                             "(\"owner\": \"phone\"); null while the backlight is off")
        ->callback([] { std::printf("%s\n", ui_json(shown_screen()).dump(2).c_str()); });

    auto* tap = app.add_subcommand("tap", "Tap the screen: X Y (a device pixel), ok, softkey left|right, menu TEXT, "
                                          "control ID|LABEL");
    tap->require_subcommand(0, 1);
    auto point = std::make_shared<std::pair<std::string, std::string>>();
    tap->add_option("X", point->first, "With Y: the device pixel to tap, X pixels from the left edge")->type_name("");
    tap->add_option("Y", point->second, "Y pixels from the top edge")->type_name("");
    tap->parse_complete_callback([tap, point] {
        if (!tap->get_subcommands().empty() && !point->first.empty())
            throw CLI::ValidationError("tap takes X Y or one of ok, softkey, menu, control, not both ('" +
                                       point->first + "')");
    });
    tap->callback([tap, point] {
        if (!tap->get_subcommands().empty())
            return;
        if (point->second.empty()) // named as a missing subcommand is, X Y in the help it points to
            throw CLI::RequiredError("X Y");
        std::printf("%s\n", tap_at_saying(coordinate(point->first, "x"), coordinate(point->second, "y")).c_str());
    });
    tap->add_subcommand("ok", "The \"ok\" in the title bar")->callback(tap_ok);
    auto side = std::make_shared<std::string>();
    auto* softkey = tap->add_subcommand("softkey", "A soft key");
    softkey->add_option("SIDE", *side, "left or right")->required();
    softkey->callback([side] { tap_softkey(*side); });
    auto text = std::make_shared<std::string>();
    auto* menu = tap->add_subcommand("menu", "An item of the open menu");
    menu->add_option("TEXT", *text, "The item's text as shown")->required();
    menu->callback([text] { tap_menu(*text); });
    auto id = std::make_shared<std::string>();
    auto* control = tap->add_subcommand("control", "A control of the foreground window");
    control->add_option("CONTROL", *id, "The control's id, or its label as phone screen shows it (\"Interval:\")")
        ->required();
    control->callback([id] { tap_control(*id); });

    auto select_id = std::make_shared<std::string>();
    auto select_index = std::make_shared<std::string>();
    auto* select = app.add_subcommand("select", "Tap a combo box, then its item INDEX (from 0)");
    select->add_option("CONTROL", *select_id, "The combo box's control id, or its label")->required();
    select->add_option("INDEX", *select_index, "The item's position")->required();
    select->callback([select_id, select_index] { select_item(*select_id, *select_index); });
}

} // namespace phone
