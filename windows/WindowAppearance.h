// The look and behaviour shared by Vaultine's windows: the dark grey gradient surface with white
// text, the level above normal windows, and moving a window by dragging its background.
#pragma once

class QWidget;

class WindowAppearance {
  public:
    WindowAppearance() = delete;

    // Dark grey gradient (RGB 94,97,106 to 42,43,47), white text, dark fields and buttons; a
    // button whose "primary" property is true is the accent button.
    static void applyPanelLook(QWidget* window);
    // The look of a divider line: RGB 99,102,108, fully opaque.
    static void applyDividerLook(QWidget* line);
    // The style sheet of alerts, so that a sheet matches the window it sits on.
    static const char* alertStyleSheet();
    // A managed window kept above normal windows (the level of modal panels), with title bar.
    static void keepAboveOtherWindows(QWidget* window);
    // Places the window in the middle of the screen under the pointer (the primary screen when
    // that is unknown), so that a window never opens in a corner the user is not looking at.
    static void centerOnScreen(QWidget* window);
    // A press of the left button on the window's background (not on a control) moves the window.
    static void makeMovableByBackground(QWidget* window);
};
