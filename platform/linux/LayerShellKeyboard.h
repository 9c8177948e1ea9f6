// The keyboard of our own Wayland connection: the compositor's keymap and modifier state through
// xkbcommon, and each key turned into the toolkit's key event for the widget that has the focus.
#pragma once

#include <QKeyEvent>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

struct xkb_context;
struct xkb_keymap;
struct xkb_state;

namespace platform::wayland {

// The toolkit's key for an XKB keysym that typed `text`: named keys from a table, letters and
// other characters as their upper case (as the toolkit reports them); Qt::Key_unknown otherwise.
int qtKeyForKeysym(std::uint32_t keysym, const QString& text);

// What a key event carries, ready to make the toolkit's event from.
struct TranslatedKey {
    QEvent::Type type = QEvent::KeyPress;
    int key = Qt::Key_unknown;
    Qt::KeyboardModifiers modifiers;
    QString text;
    std::uint32_t scanCode = 0;  // the XKB key code
    std::uint32_t keysym = 0;
    bool autoRepeat = false;

    QKeyEvent event() const {
        return QKeyEvent(type, key, modifiers, scanCode, keysym, 0, text, autoRepeat);
    }
};

class XkbKeyboard {
  public:
    XkbKeyboard();
    ~XkbKeyboard();

    // Takes a keymap in the XKB text format (as the compositor sends it); false, keeping none, when
    // it does not compile.
    bool setKeymap(const char* text, std::size_t length);
    bool hasKeymap() const { return state != nullptr; }
    // The compositor's modifier state, as wl_keyboard.modifiers gives it.
    void updateModifiers(std::uint32_t depressed, std::uint32_t latched, std::uint32_t locked,
                         std::uint32_t group);
    // The event for the evdev key code `key` (wl_keyboard.key); none without a keymap.
    std::optional<TranslatedKey> translate(std::uint32_t key, bool pressed,
                                           bool autoRepeat = false) const;
    // Whether holding the key repeats it.
    bool repeats(std::uint32_t key) const;
    Qt::KeyboardModifiers modifiers() const;

  private:
    struct ContextDeleter {
        void operator()(xkb_context* context) const;
    };
    struct KeymapDeleter {
        void operator()(xkb_keymap* keymap) const;
    };
    struct StateDeleter {
        void operator()(xkb_state* state) const;
    };
    std::unique_ptr<xkb_context, ContextDeleter> context;
    std::unique_ptr<xkb_keymap, KeymapDeleter> keymap;
    std::unique_ptr<xkb_state, StateDeleter> state;
};

}  // namespace platform::wayland
