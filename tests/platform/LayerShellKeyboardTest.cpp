// Keys of the overlay surfaces' own keyboard: the compositor's keymap and modifiers turned into
// the toolkit's keys and text, as the lock's password field and its Alt-key test read them.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon.h>

#include <memory>
#include <string>

#include "platform/linux/LayerShellKeyboard.h"

using platform::wayland::qtKeyForKeysym;
using platform::wayland::XkbKeyboard;

namespace {

// A US keymap in the text form a compositor sends, and the mask of its Shift and Control.
struct UsKeymap {
    std::string text;
    std::uint32_t shift = 0;
    std::uint32_t control = 0;
};

UsKeymap usKeymap() {
    std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(
        xkb_context_new(XKB_CONTEXT_NO_FLAGS), xkb_context_unref);
    const xkb_rule_names names{"evdev", "pc105", "us", "", ""};
    std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> keymap(
        xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS),
        xkb_keymap_unref);
    if (!keymap)
        return {};
    char* text = xkb_keymap_get_as_string(keymap.get(), XKB_KEYMAP_FORMAT_TEXT_V1);
    UsKeymap result{text, 1u << xkb_keymap_mod_get_index(keymap.get(), XKB_MOD_NAME_SHIFT),
                    1u << xkb_keymap_mod_get_index(keymap.get(), XKB_MOD_NAME_CTRL)};
    free(text);
    return result;
}

void expectKey(const XkbKeyboard& keyboard, std::uint32_t code, int key, const QString& text,
               Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    const auto translated = keyboard.translate(code, true);
    ASSERT_TRUE(translated) << code;
    EXPECT_EQ(translated->key, key) << code;
    EXPECT_EQ(translated->text, text) << code;
    EXPECT_EQ(translated->modifiers, modifiers) << code;
    EXPECT_EQ(translated->type, QEvent::KeyPress);
}

}  // namespace

TEST(LayerShellKeyboard, TypesWhatThePasswordFieldAndItsOwnerRead) {
    const UsKeymap us = usKeymap();
    ASSERT_FALSE(us.text.empty()) << "no XKB data to compile a US keymap";
    XkbKeyboard keyboard;
    // As the compositor sends it: the text with its terminating zero.
    ASSERT_TRUE(keyboard.setKeymap(us.text.c_str(), us.text.size() + 1));

    expectKey(keyboard, KEY_A, Qt::Key_A, "a");
    expectKey(keyboard, KEY_SPACE, Qt::Key_Space, " ");
    expectKey(keyboard, KEY_1, Qt::Key_1, "1");
    expectKey(keyboard, KEY_ENTER, Qt::Key_Return, "\r");
    expectKey(keyboard, KEY_KPENTER, Qt::Key_Enter, "\r");
    expectKey(keyboard, KEY_BACKSPACE, Qt::Key_Backspace, "\b");
    expectKey(keyboard, KEY_LEFTALT, Qt::Key_Alt, "");
    expectKey(keyboard, KEY_RIGHTALT, Qt::Key_Alt, "");

    keyboard.updateModifiers(us.shift, 0, 0, 0);
    expectKey(keyboard, KEY_A, Qt::Key_A, "A", Qt::ShiftModifier);
    expectKey(keyboard, KEY_1, Qt::Key_Exclam, "!", Qt::ShiftModifier);

    // Control with a letter types a control character; the key is still the letter's.
    keyboard.updateModifiers(us.control, 0, 0, 0);
    expectKey(keyboard, KEY_A, Qt::Key_A, QString(QChar(1)), Qt::ControlModifier);

    keyboard.updateModifiers(0, 0, 0, 0);
    const auto released = keyboard.translate(KEY_A, false);
    ASSERT_TRUE(released);
    EXPECT_EQ(released->type, QEvent::KeyRelease);
    EXPECT_TRUE(keyboard.repeats(KEY_A));
    EXPECT_FALSE(keyboard.repeats(KEY_LEFTSHIFT));
}

TEST(LayerShellKeyboard, CharactersBeyondLatinAreTheirUpperCase) {
    EXPECT_EQ(qtKeyForKeysym(XKB_KEY_Cyrillic_a, QStringLiteral("а")), 0x410);
    EXPECT_EQ(qtKeyForKeysym(XKB_KEY_adiaeresis, QStringLiteral("ä")), Qt::Key_Adiaeresis);
    EXPECT_EQ(qtKeyForKeysym(XKB_KEY_F5, QString()), Qt::Key_F5);
    EXPECT_EQ(qtKeyForKeysym(XKB_KEY_VoidSymbol, QString()), Qt::Key_unknown);
}

TEST(LayerShellKeyboard, AKeymapThatDoesNotCompileLeavesNoKeys) {
    XkbKeyboard keyboard;
    const std::string garbage = "xkb_keymap { not a keymap";
    EXPECT_FALSE(keyboard.setKeymap(garbage.data(), garbage.size()));
    EXPECT_FALSE(keyboard.setKeymap(nullptr, 0));
    EXPECT_FALSE(keyboard.hasKeymap());
    EXPECT_FALSE(keyboard.translate(KEY_A, true));
    EXPECT_FALSE(keyboard.repeats(KEY_A));
}
