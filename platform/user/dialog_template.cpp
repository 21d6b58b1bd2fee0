// Reads classic dialog templates (dialog_template.h): the header, menu,
// class, caption and DS_SETFONT font, then each DLGITEMTEMPLATE on its
// DWORD boundary with its class (name or ordinal), text (string or
// ordinal) and creation data.  Leaves out DLGTEMPLATEEX, which the
// programs' resources do not use.
#include "dialog_template.h"

#include "resources/word_reader.h"

namespace wince::user {
namespace {

std::wstring class_of_ordinal(int ordinal)
{
    switch (ordinal) {
    case 0x80:
        return L"BUTTON";
    case 0x81:
        return L"EDIT";
    case 0x82:
        return L"STATIC";
    case 0x83:
        return L"LISTBOX";
    case 0x84:
        return L"SCROLLBAR";
    case 0x85:
        return L"COMBOBOX";
    default:
        return L"#" + std::to_wstring(ordinal);
    }
}

void read_item(resources::WordReader& in, DialogItem& item)
{
    in.align_dword();
    item.style = in.dword();
    item.ex_style = in.dword();
    item.x = in.signed_word();
    item.y = in.signed_word();
    item.cx = in.signed_word();
    item.cy = in.signed_word();
    item.id = in.word();
    int ordinal;
    item.class_name = in.string_or_ordinal(ordinal);
    if (ordinal >= 0)
        item.class_name = class_of_ordinal(ordinal);
    item.text = in.string_or_ordinal(item.text_ordinal);
    in.skip(in.word()); // creation data: no control of ours takes any
}

} // namespace

std::optional<DialogTemplate> parse_dialog_template(std::span<const unsigned char> bytes)
{
    resources::WordReader in(bytes);
    DialogTemplate t;
    t.style = in.dword();
    if (in.ok() && (t.style & 0xFFFF0000u) == 0xFFFF0000u && (t.style & 0xFFFF) == 1)
        return std::nullopt; // DLGTEMPLATEEX: dlgVer 1, signature 0xFFFF
    t.ex_style = in.dword();
    const WORD count = in.word();
    t.x = in.signed_word();
    t.y = in.signed_word();
    t.cx = in.signed_word();
    t.cy = in.signed_word();
    int ordinal;
    in.string_or_ordinal(ordinal); // menu: dialogs of ours have none
    in.string_or_ordinal(ordinal); // class: the dialog class
    t.caption = in.string();
    if (t.style & DS_SETFONT) {
        t.has_font = true;
        t.point_size = in.word();
        t.face = in.string();
    }
    for (WORD i = 0; i < count && in.ok(); ++i) {
        DialogItem item;
        read_item(in, item);
        t.items.push_back(std::move(item));
    }
    if (!in.ok())
        return std::nullopt;
    return t;
}

} // namespace wince::user
