// The one way out of Vaultine: tells Corvane to end, waits (a bounded time) until it has, then
// ends Vaultine with status 0.
#pragma once

#include <chrono>
#include <functional>

class SafeQuitService {
  public:
    // How long Vaultine waits for Corvane to go before it exits all the same.
    static constexpr std::chrono::milliseconds defaultHelperExitTimeout{2000};

    SafeQuitService();

    // Posts "TERMINATE_HELPER_VAULTINE" with our bundle identifier as its object, waits until
    // Corvane's name has left the session bus (so Corvane never sees Vaultine vanish first and
    // relaunches it), then ends the process with status 0. Nothing else needs saving: every
    // setting is stored when it changes, and a lock's "cbaal" stays in place.
    void quitApplication();
    // Quit took the password: the system guard, when one protects this user, stops holding the
    // user's locked launches until Vaultine starts again, so that nothing is left frozen with no
    // Vaultine to open it. Waits (a bounded time) for the guard's answer.
    void switchOffGuard();

    // Replaceable by tests; by default they ask whether Corvane holds its bus name and end the
    // process at once.
    std::function<bool()> helperIsRunning;
    std::function<void(int status)> exitProcess;
    std::chrono::milliseconds helperExitTimeout = defaultHelperExitTimeout;
    std::chrono::milliseconds guardAnswerTimeout{3000};
};
