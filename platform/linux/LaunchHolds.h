// Launches held stopped while their lock goes up: SIGSTOP at once, SIGCONT once the lock window's
// map has reached the X server, or after 200 ms at the latest; on the gate, until the password.
// Every hold is written to a file in the user's runtime folder first, so that a Vaultine killed
// during a hold leaves no process stopped for ever: its successor continues what the file names,
// or on the gate takes the holds over and locks their runs again.
#pragma once

#include <sys/types.h>

#include <QObject>
#include <QString>
#include <chrono>
#include <map>
#include <utility>
#include <vector>

namespace platform {

class LaunchHolds : public QObject {
  public:
    static constexpr std::chrono::milliseconds longestHold{200};

    // `recordPath` empty: holds are not recorded (and not taken, since nothing could end them).
    explicit LaunchHolds(QString recordPath);
    ~LaunchHolds() override;

    // `startTime` tells the process from a later one with its pid (0 accepts any). Without
    // `untilReleased` the hold ends by itself after `longestHold`.
    void hold(pid_t pid, unsigned long long startTime, bool untilReleased = false);
    void release(pid_t pid);
    // Whether the process (with that start time, 0 for any) is held by this program.
    bool isHolding(pid_t pid, unsigned long long startTime) const;
    // Continues every process of the record, ours and a killed predecessor's.
    void releaseAll();
    // Keeps the holds of the record as ours, until released; names those whose process still
    // exists.
    std::vector<std::pair<pid_t, unsigned long long>> takeOver();
    // Kills the process and its descendants, continuing them so that a stopped one dies; drops
    // its hold. False when the process is another by now or any of them refused the signal.
    bool endRun(pid_t pid, unsigned long long startTime);

    // `$XDG_RUNTIME_DIR/vaultine-launch-holds`, or empty without a runtime folder.
    static QString defaultRecordPath();

  private:
    struct Hold {
        unsigned long long startTime = 0;
        int timer = 0;
    };
    void timerEvent(QTimerEvent* event) override;
    bool writeRecord() const;
    void continueProcess(pid_t pid, unsigned long long startTime) const;

    QString recordPath;
    std::map<pid_t, Hold> holds;
};

// The record's text: one "pid start-time" per line. Lines in any other shape are skipped.
std::map<pid_t, unsigned long long> parseLaunchHolds(const QByteArray& text);

}  // namespace platform
