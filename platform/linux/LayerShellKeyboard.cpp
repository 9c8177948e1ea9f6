// Keys of our own Wayland connection: xkbcommon's keymap and state, and the toolkit's key codes
// for the keysyms a lock screen's password field and its owner care about.
#include "platform/linux/LayerShellKeyboard.h"

#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon.h>

#include <QChar>
#include <array>
#include <cstring>
#include <utility>

namespace platform::wayland {

namespace {

// Evdev key codes are XKB key codes less 8.
constexpr std::uint32_t evdevOffset = 8;

constexpr std::array namedKeys = {
    std::pair<std::uint32_t, int>{XKB_KEY_Return, Qt::Key_Return},
    std::pair<std::uint32_t, int>{XKB_KEY_KP_Enter, Qt::Key_Enter},
    std::pair<std::uint32_t, int>{XKB_KEY_BackSpace, Qt::Key_Backspace},
    std::pair<std::uint32_t, int>{XKB_KEY_Tab, Qt::Key_Tab},
    std::pair<std::uint32_t, int>{XKB_KEY_ISO_Left_Tab, Qt::Key_Backtab},
    std::pair<std::uint32_t, int>{XKB_KEY_Escape, Qt::Key_Escape},
    std::pair<std::uint32_t, int>{XKB_KEY_Delete, Qt::Key_Delete},
    std::pair<std::uint32_t, int>{XKB_KEY_KP_Delete, Qt::Key_Delete},
    std::pair<std::uint32_t, int>{XKB_KEY_Insert, Qt::Key_Insert},
    std::pair<std::uint32_t, int>{XKB_KEY_Home, Qt::Key_Home},
    std::pair<std::uint32_t, int>{XKB_KEY_KP_Home, Qt::Key_Home},
    std::pair<std::uint32_t, int>{XKB_KEY_End, Qt::Key_End},
    std::pair<std::uint32_t, int>{XKB_KEY_KP_End, Qt::Key_End},
    std::pair<std::uint32_t, int>{XKB_KEY_Left, Qt::Key_Left},
    std::pair<std::uint32_t, int>{XKB_KEY_KP_Left, Qt::Key_Left},
    std::pair<std::uint32_t, int>{XKB_KEY_Right, Qt::Key_Right},
    std::pair<std::uint32_t, int>{XKB_KEY_KP_Right, Qt::Key_Right},
    std::pair<std::uint32_t, int>{XKB_KEY_Up, Qt::Key_Up},
    std::pair<std::uint32_t, int>{XKB_KEY_KP_Up, Qt::Key_Up},
    std::pair<std::uint32_t, int>{XKB_KEY_Down, Qt::Key_Down},
    std::pair<std::uint32_t, int>{XKB_KEY_KP_Down, Qt::Key_Down},
    std::pair<std::uint32_t, int>{XKB_KEY_Page_Up, Qt::Key_PageUp},
    std::pair<std::uint32_t, int>{XKB_KEY_Page_Down, Qt::Key_PageDown},
    std::pair<std::uint32_t, int>{XKB_KEY_Shift_L, Qt::Key_Shift},
    std::pair<std::uint32_t, int>{XKB_KEY_Shift_R, Qt::Key_Shift},
    std::pair<std::uint32_t, int>{XKB_KEY_Control_L, Qt::Key_Control},
    std::pair<std::uint32_t, int>{XKB_KEY_Control_R, Qt::Key_Control},
    std::pair<std::uint32_t, int>{XKB_KEY_Alt_L, Qt::Key_Alt},
    std::pair<std::uint32_t, int>{XKB_KEY_Alt_R, Qt::Key_Alt},
    std::pair<std::uint32_t, int>{XKB_KEY_Meta_L, Qt::Key_Meta},
    std::pair<std::uint32_t, int>{XKB_KEY_Meta_R, Qt::Key_Meta},
    std::pair<std::uint32_t, int>{XKB_KEY_Super_L, Qt::Key_Super_L},
    std::pair<std::uint32_t, int>{XKB_KEY_Super_R, Qt::Key_Super_R},
    std::pair<std::uint32_t, int>{XKB_KEY_Hyper_L, Qt::Key_Hyper_L},
    std::pair<std::uint32_t, int>{XKB_KEY_Hyper_R, Qt::Key_Hyper_R},
    std::pair<std::uint32_t, int>{XKB_KEY_ISO_Level3_Shift, Qt::Key_AltGr},
    std::pair<std::uint32_t, int>{XKB_KEY_Caps_Lock, Qt::Key_CapsLock},
    std::pair<std::uint32_t, int>{XKB_KEY_Num_Lock, Qt::Key_NumLock},
    std::pair<std::uint32_t, int>{XKB_KEY_Menu, Qt::Key_Menu},
};

}  // namespace

int qtKeyForKeysym(std::uint32_t keysym, const QString& text) {
    for (const auto& [sym, key] : namedKeys) {
        if (sym == keysym)
            return key;
    }
    if (keysym >= XKB_KEY_F1 && keysym <= XKB_KEY_F35)
        return Qt::Key_F1 + static_cast<int>(keysym - XKB_KEY_F1);
    // A character the key typed (the keypad's digits included), upper case as the toolkit has it;
    // control characters (Ctrl with a letter) fall back to the keysym's own character.
    char32_t character = 0;
    if (text.size() > 0 && !text.at(0).isNull() && text.at(0).unicode() >= 0x20)
        character = text.toUcs4().value(0);
    else
        character = xkb_keysym_to_utf32(keysym);
    if (character < 0x20 || character == 0x7f)
        return Qt::Key_unknown;
    return static_cast<int>(QChar::toUpper(character));
}

void XkbKeyboard::ContextDeleter::operator()(xkb_context* value) const {
    xkb_context_unref(value);
}
void XkbKeyboard::KeymapDeleter::operator()(xkb_keymap* value) const {
    xkb_keymap_unref(value);
}
void XkbKeyboard::StateDeleter::operator()(xkb_state* value) const {
    xkb_state_unref(value);
}

XkbKeyboard::XkbKeyboard() : context(xkb_context_new(XKB_CONTEXT_NO_FLAGS)) {}

XkbKeyboard::~XkbKeyboard() = default;

bool XkbKeyboard::setKeymap(const char* text, std::size_t length) {
    state.reset();
    keymap.reset();
    if (!context || !text || length == 0)
        return false;
    // The text may end with its terminating zero, or not.
    keymap.reset(xkb_keymap_new_from_buffer(context.get(), text, strnlen(text, length),
                                            XKB_KEYMAP_FORMAT_TEXT_V1,
                                            XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (keymap)
        state.reset(xkb_state_new(keymap.get()));
    if (!state)
        keymap.reset();
    return state != nullptr;
}

void XkbKeyboard::updateModifiers(std::uint32_t depressed, std::uint32_t latched,
                                  std::uint32_t locked, std::uint32_t group) {
    if (state)
        xkb_state_update_mask(state.get(), depressed, latched, locked, 0, 0, group);
}

Qt::KeyboardModifiers XkbKeyboard::modifiers() const {
    Qt::KeyboardModifiers result;
    if (!state)
        return result;
    const auto active = [this](const char* name) {
        return xkb_state_mod_name_is_active(state.get(), name, XKB_STATE_MODS_EFFECTIVE) > 0;
    };
    if (active(XKB_MOD_NAME_SHIFT))
        result |= Qt::ShiftModifier;
    if (active(XKB_MOD_NAME_CTRL))
        result |= Qt::ControlModifier;
    if (active(XKB_MOD_NAME_ALT))
        result |= Qt::AltModifier;
    if (active(XKB_MOD_NAME_LOGO))
        result |= Qt::MetaModifier;
    return result;
}

std::optional<TranslatedKey> XkbKeyboard::translate(std::uint32_t key, bool pressed,
                                                    bool autoRepeat) const {
    if (!state)
        return std::nullopt;
    const xkb_keycode_t code = key + evdevOffset;
    TranslatedKey result;
    result.type = pressed ? QEvent::KeyPress : QEvent::KeyRelease;
    result.keysym = xkb_state_key_get_one_sym(state.get(), code);
    char text[64] = {};
    xkb_state_key_get_utf8(state.get(), code, text, sizeof text);
    result.text = QString::fromUtf8(text);
    result.key = qtKeyForKeysym(result.keysym, result.text);
    result.modifiers = modifiers();
    result.scanCode = code;
    result.autoRepeat = autoRepeat;
    return result;
}

bool XkbKeyboard::repeats(std::uint32_t key) const {
    return keymap && xkb_keymap_key_repeats(keymap.get(), key + evdevOffset);
}

}  // namespace platform::wayland
