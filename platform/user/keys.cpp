// Emulates the phone's keypad: a key pressed on the device (phone key)
// arrives over the channel and is posted to the focused control of the
// chosen window as WM_KEYDOWN then WM_KEYUP; TranslateMessage turns a
// character key into WM_CHAR.  Leaves out key state (GetKeyState), auto
// repeat, system keys and keyboard layouts other than US.
#include "keys.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "device/channel.h"
#include "device/eventlog.h"
#include "kernel/sync.h"
#include "state.h"
#include "window.h"

namespace wince::user {
namespace {

struct Named {
    const char* name;
    UINT vk;
    wchar_t character;
};

constexpr std::array named_keys{
    Named{"F1", VK_F1, 0},         Named{"F2", VK_F2, 0},         Named{"RETURN", VK_RETURN, L'\r'},
    Named{"ESCAPE", VK_ESCAPE, 0x1B}, Named{"TAB", VK_TAB, L'\t'}, Named{"UP", VK_UP, 0},
    Named{"DOWN", VK_DOWN, 0},     Named{"LEFT", VK_LEFT, 0},     Named{"RIGHT", VK_RIGHT, 0},
    Named{"SPACE", VK_SPACE, L' '}, Named{"BACK", VK_BACK, 0x08}, Named{"TTALK", VK_TTALK, 0},
    Named{"TEND", VK_TEND, 0},     Named{"TVOLUMEUP", VK_TVOLUMEUP, 0}, Named{"TVOLUMEDOWN", VK_TVOLUMEDOWN, 0},
};

// Punctuation of the US layout: the key and the character without / with shift.
struct Punctuation {
    UINT vk;
    char plain;
    char shifted;
};

constexpr std::array punctuation{
    Punctuation{0xBA, ';', ':'}, Punctuation{0xBB, '=', '+'},  Punctuation{0xBC, ',', '<'},
    Punctuation{0xBD, '-', '_'}, Punctuation{0xBE, '.', '>'},  Punctuation{0xBF, '/', '?'},
    Punctuation{0xC0, '`', '~'}, Punctuation{0xDB, '[', '{'},  Punctuation{0xDC, '\\', '|'},
    Punctuation{0xDD, ']', '}'}, Punctuation{0xDE, '\'', '"'},
};

constexpr std::string_view shifted_digits = ")!@#$%^&*(";

std::optional<UINT> vk_of_character(char c)
{
    if (std::isalpha(static_cast<unsigned char>(c)))
        return static_cast<UINT>(std::toupper(static_cast<unsigned char>(c)));
    if (std::isdigit(static_cast<unsigned char>(c)))
        return static_cast<UINT>(c);
    if (c == ' ')
        return VK_SPACE;
    if (auto at = shifted_digits.find(c); at != std::string_view::npos)
        return static_cast<UINT>('0' + at);
    for (const Punctuation& p : punctuation)
        if (c == p.plain || c == p.shifted)
            return p.vk;
    return std::nullopt;
}

// What a key typed without shift gives, for keys posted by programs.
wchar_t default_character(UINT vk)
{
    if (vk >= 'A' && vk <= 'Z')
        return static_cast<wchar_t>(std::tolower(static_cast<int>(vk)));
    if (vk >= '0' && vk <= '9')
        return static_cast<wchar_t>(vk);
    for (const Named& n : named_keys)
        if (n.vk == vk)
            return n.character;
    for (const Punctuation& p : punctuation)
        if (p.vk == vk)
            return static_cast<wchar_t>(p.plain);
    return 0;
}

void register_channel_handler()
{
    using channel::Type;
    channel::on("key", {{"window", Type::u64}, {"key", Type::text}}, [](const nlohmann::json& m) {
        if (auto key = parse_key(m["key"].get_ref<const std::string&>()))
            deliver_key(hwnd_from_value(m["window"].get<uint64_t>()), *key);
    });
}

[[maybe_unused]] const bool handler_at_start = (register_channel_handler(), true);

} // namespace

std::optional<Key> parse_key(std::string_view name)
{
    if (name.size() == 1) {
        if (auto vk = vk_of_character(name[0]))
            return Key{std::string(name), *vk, static_cast<wchar_t>(name[0])};
        return std::nullopt;
    }
    std::string upper(name);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    constexpr std::string_view shift_prefix = "SHIFT+";
    const bool shift = upper.starts_with(shift_prefix);
    if (shift)
        upper.erase(0, shift_prefix.size());
    for (const Named& n : named_keys)
        if (upper == n.name)
            return Key{shift ? "SHIFT+" + upper : upper, n.vk, n.character, shift};
    return std::nullopt;
}

bool deliver_key(HWND window, const Key& key)
{
    HWND target;
    {
        auto held = sync::lock();
        const Window* w = find_window(window);
        if (w == nullptr || w->destroying || !w->top_level())
            return false;
        // Where the key would go now; a key still queued before it may move the focus.
        target = focus_control_locked(window);
        Queue& queue = state().queues[w->thread];
        if (key.character != 0)
            queue.typed.emplace_back(key.vk, key.character);
        const auto post = [&](UINT msg, UINT vk, LPARAM lparam) { post_locked(queue, window, msg, vk, lparam, true); };
        if (key.shift)
            post(WM_KEYDOWN, VK_SHIFT, 1);
        post(WM_KEYDOWN, key.vk, 1);
        post(WM_KEYUP, key.vk, static_cast<LPARAM>(0xC0000001u));
        if (key.shift)
            post(WM_KEYUP, VK_SHIFT, static_cast<LPARAM>(0xC0000001u));
    }
    eventlog::write("key", {{"key", key.name}, {"target", hwnd_value(target)}});
    return true;
}

bool shift_pressed()
{
    auto held = sync::lock();
    return own_queue().shift;
}

} // namespace wince::user

using namespace wince;
using namespace wince::user;

BOOL WINAPI TranslateMessage(const MSG* lpMsg)
{
    if (lpMsg == nullptr)
        return FALSE;
    if (lpMsg->message == WM_KEYUP)
        return TRUE;
    if (lpMsg->message != WM_KEYDOWN)
        return FALSE;
    const UINT vk = static_cast<UINT>(lpMsg->wParam);
    auto held = sync::lock();
    Queue& queue = own_queue();
    wchar_t character = default_character(vk);
    auto typed = std::find_if(queue.typed.begin(), queue.typed.end(), [&](const auto& t) { return t.first == vk; });
    if (typed != queue.typed.end()) {
        character = typed->second;
        queue.typed.erase(typed);
    }
    if (character != 0) {
        // WM_CHAR comes before the key's WM_KEYUP, which already waits.
        queue.posted.push_front(PostedMessage{lpMsg->hwnd, WM_CHAR, static_cast<WPARAM>(character), lpMsg->lParam,
                                              lpMsg->time});
        sync::wake_all();
    }
    return TRUE;
}
