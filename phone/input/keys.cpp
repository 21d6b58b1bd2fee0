// The device's hardware keys: a soft key goes to the phone's own screen when
// that takes it; every other key to the program whose window takes keys
// now, over that program's channel.
#include "input/keys.h"

#include "device/channel.h"
#include "parsing.h"
#include "screens/shown_screen.h"
#include "user/toplevel.h"

namespace phone {

wince::user::Key key_named(const std::string& name)
{
    auto key = wince::user::parse_key(name);
    if (!key)
        throw Failure("unknown key '" + name +
                      "': use F1 F2 RETURN ESCAPE TAB UP DOWN LEFT RIGHT SPACE BACK TTALK TEND TVOLUMEUP "
                      "TVOLUMEDOWN (also as SHIFT+KEY) or a single character");
    return *key;
}

void press_key(const wince::user::Key& key)
{
    // A soft key the phone's own screen takes reaches no window (target 0).
    if (!key.shift && (key.vk == VK_F1 || key.vk == VK_F2) &&
        press_phone_softkey(key.vk == VK_F1 ? 0 : 1, "key", {{"key", key.name}, {"target", 0}}))
        return;
    auto target = wince::user::toplevel::key_target();
    if (!target)
        throw Failure("no window on the device to receive key " + key.name);
    if (!wince::channel::send(target->pid, {{"kind", "key"}, {"window", target->hwnd}, {"key", key.name}}))
        throw Failure("could not send key " + key.name + ": the program of window '" + target->title +
                      "' has ended");
}

} // namespace phone
