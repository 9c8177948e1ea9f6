// The system guard as Vaultine sees it: a privileged service that holds locked launches in the
// kernel and keeps the password's verifier. Absent on a system without it (standard protection).
#pragma once

#include <sys/types.h>

#include <QString>
#include <functional>
#include <memory>

#include "platform/Installable.h"

namespace platform {

class Guard : public Installable<Guard> {
  public:
    enum class Answer {
        ok,
        notGenuine,     // the guard does not take this process for the trusted Vaultine
        otherDisplay,   // the trusted Vaultine, but drawing on a display other than its session's
        traceable,      // the trusted Vaultine, but traced or open to a tracer of its user
        wrongPassword,  // or no password enrolled for a change that lowers protection
        noPolicy,       // nothing enrolled for this user yet
        refused,        // malformed, unknown program or a limit reached
        unavailable,    // no guard answers (none installed, or it went away)
    };
    using AnswerHandler = std::function<void(Answer)>;

    // What protection lowers or raises; each is one request to the guard.
    enum class Change { lockProgram, switchOn, unlockProgram, switchOff, newPassword };
    enum Switch : unsigned { protection = 1u << 0, administrativeLock = 1u << 1 };
    struct PolicyChange {
        Change change = Change::lockProgram;
        QString password;  // the current one, for a change that lowers protection
        unsigned switches = 0;
        QString program;  // the executable to lock or unlock
        QString newPassword;
    };

    virtual ~Guard() = default;

    // The guard's socket in /run/vaultine-guard, or in the folder VAULTINE_GUARD_RUNTIME_DIR names.
    static std::unique_ptr<Guard> createDefault();

    // Connects now and whenever the guard appears; `onConnected` runs for each new connection.
    virtual void start() = 0;
    virtual bool connected() const = 0;
    // The guard took this process for the trusted Vaultine and keeps a password for this user:
    // what it holds, the session's user cannot undo.
    virtual bool protecting() const = 0;

    // What the popover's menu and the help page say of the protection in force.
    static QString protectionSummary(bool guarded) {
        return guarded ? QStringLiteral("Protected by the system guard")
                       : QStringLiteral(
                             "Standard protection: install the system guard to keep "
                             "applications locked even when Vaultine is ended");
    }

    // Requests are answered in the order they were made; a handler runs on the main thread, with
    // `unavailable` when the connection ends first. Unset handlers are allowed.
    // Hello with the password Vaultine holds: enrols it when the guard has none for this user, else
    // checks it (also a check of any typed text).
    virtual void hello(const QString& password, AnswerHandler done) = 0;
    virtual void lockShown(pid_t pid, unsigned long long startTime) = 0;
    virtual void runReleased(pid_t pid, unsigned long long startTime) = 0;
    virtual void changePolicy(const PolicyChange& change, AnswerHandler done) = 0;

    // Main thread; unset handlers do nothing.
    std::function<void()> onConnected;
    std::function<void()> onDisconnected;
    // The guard holds a launch of a locked program until a lock covers the process.
    std::function<void(pid_t pid, unsigned long long startTime, const QString& program)>
        onLaunchHeld;
};

}  // namespace platform
