// A guard of the test: absent until `connect()`, answering hellos and policy changes from a
// password the test enrols, recording every covered, released and changed run.
#pragma once

#include <utility>
#include <vector>

#include "platform/Guard.h"

namespace platform::testing {

class FakeGuard : public Guard {
  public:
    struct Covered {
        pid_t pid;
        unsigned long long startTime;
        bool operator==(const Covered&) const = default;
    };

    bool present = false;
    QString enrolled;  // empty: nothing enrolled; the first hello with a password enrols it
    std::vector<QString> hellos;
    std::vector<Covered> shown;
    std::vector<Covered> released;
    std::vector<PolicyChange> changes;

    void start() override {}
    bool connected() const override { return present; }
    bool protecting() const override { return present && !enrolled.isEmpty(); }
    // The guard appears (or comes back).
    void connect() {
        present = true;
        if (onConnected)
            onConnected();
    }
    void disconnect() {
        present = false;
        if (onDisconnected)
            onDisconnected();
    }
    void holdLaunch(pid_t pid, unsigned long long startTime, const QString& program) {
        if (onLaunchHeld)
            onLaunchHeld(pid, startTime, program);
    }

    void hello(const QString& password, AnswerHandler done) override {
        hellos.push_back(password);
        Answer answer = Answer::unavailable;
        if (present) {
            if (enrolled.isEmpty() && !password.isEmpty())
                enrolled = password;
            answer = enrolled.isEmpty()     ? Answer::noPolicy
                     : password == enrolled ? Answer::ok
                                            : Answer::wrongPassword;
        }
        if (done)
            done(answer);
    }
    void lockShown(pid_t pid, unsigned long long startTime) override {
        shown.push_back({pid, startTime});
    }
    void runReleased(pid_t pid, unsigned long long startTime) override {
        released.push_back({pid, startTime});
    }
    void changePolicy(const PolicyChange& change, AnswerHandler done) override {
        changes.push_back(change);
        const bool lowers = change.change == Change::unlockProgram ||
                            change.change == Change::switchOff ||
                            change.change == Change::newPassword;
        Answer answer = present ? Answer::ok : Answer::unavailable;
        if (present && lowers && change.password != enrolled)
            answer = Answer::wrongPassword;
        if (answer == Answer::ok && change.change == Change::newPassword)
            enrolled = change.newPassword;
        if (done)
            done(answer);
    }
};

}  // namespace platform::testing
