// Two questions of the menu-bar interface about the desktop: whether its appearance is dark, and
// switching Corvane on or off as the login item that starts the pair at login.
#pragma once

#include <functional>

// Stateless: owners create an instance when they need one.
class SystemConfigurationService {
  public:
    // True iff the desktop's interface style is text that reads "dark" once lower-cased. Read
    // afresh on every call.
    bool darkModeOn() const;
    // Registers Corvane (never Vaultine) as a login item, or unregisters it; true iff the change
    // took effect. Stores nothing: the caller persists the switch only on success.
    bool startAtLogin(bool enabled) const;
    // True iff Corvane's login item, as registered now, starts it at login.
    bool loginItemRegistered() const;
    // The handler runs whenever the registered login items may have changed.
    void observeLoginItem(std::function<void()> handler) const;
};
