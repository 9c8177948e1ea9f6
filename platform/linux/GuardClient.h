// Vaultine's connection to the system guard: a SOCK_SEQPACKET socket in the guard's runtime folder,
// read on the main thread, connected again whenever the guard comes back.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <deque>
#include <memory>
#include <vector>

#include "guard/GuardProtocol.h"
#include "platform/Guard.h"
#include "platform/linux/UniqueFd.h"

namespace platform {

class GuardClient : public QObject, public Guard {
  public:
    explicit GuardClient(QString socketPath);
    ~GuardClient() override;

    // The socket named by VAULTINE_GUARD_RUNTIME_DIR, else the installed guard's.
    static QString defaultSocketPath();

    void start() override;
    bool connected() const override { return static_cast<bool>(socket); }
    bool protecting() const override { return socket && enrolled; }
    void hello(const QString& password, AnswerHandler done) override;
    void lockShown(pid_t pid, unsigned long long startTime) override;
    void runReleased(pid_t pid, unsigned long long startTime) override;
    void changePolicy(const PolicyChange& change, AnswerHandler done) override;

  private:
    // A request that waits for its answer; hellos and policy changes go one at a time, so that
    // an answer the guard gives later (a password checked on its worker) is never taken for
    // another's.
    struct Pending {
        guard::protocol::Request request;
        AnswerHandler done;
    };

    void tryConnect();
    void disconnect();
    void readMessages();
    void handleEvent(const guard::protocol::Event& event);
    void enqueue(guard::protocol::Request request, AnswerHandler done);
    void sendNext();
    bool send(const guard::protocol::Bytes& bytes);

    QString socketPath;
    UniqueFd socket;
    std::unique_ptr<QSocketNotifier> notifier;
    QTimer retry;
    std::deque<Pending> queue;
    bool waiting = false;
    bool enrolled = false;  // a hello was answered as from the trusted Vaultine of an enrolled user
                            // // the queue's front was sent and awaits its answer
};

}  // namespace platform
