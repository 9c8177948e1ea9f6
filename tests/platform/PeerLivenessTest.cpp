// The peer check against scripted answers: a stopped peer is continued, a traced or hung one is
// killed, a name held by another program is not the peer, and each new peer process is ready
// once it answers.
#include "platform/PeerLiveness.h"

#include <gtest/gtest.h>

#include <csignal>
#include <utility>
#include <vector>

namespace {

using platform::PeerLiveness;

class PeerCheck : public ::testing::Test {
  protected:
    pid_t holder = 40;
    bool holderIsPeer = true;
    char state = 'S';
    std::vector<std::pair<pid_t, int>> signals;
    std::vector<PeerLiveness::PingReply> pings;
    std::function<void()> ownerChanged;
    int readyReports = 0;

    PeerLiveness liveness{
        QStringLiteral("org.vaultine.Vaultine"),
        PeerLiveness::Probes{
            [this](const QString&) { return holder; },
            [this](pid_t, const QString&) { return holderIsPeer; }, [this](pid_t) { return state; },
            [this](pid_t pid, int signal) { signals.emplace_back(pid, signal); },
            [this](const QString&, std::chrono::milliseconds, PeerLiveness::PingReply reply) {
                pings.push_back(std::move(reply));
            },
            [this](const QString&, std::function<void()> changed) {
                ownerChanged = std::move(changed);
            }}};

    void SetUp() override {
        liveness.onPeerReady = [this] { ++readyReports; };
    }

    // One check whose ping gets `answered`.
    void checkAndAnswer(bool answered) {
        liveness.check();
        ASSERT_FALSE(pings.empty());
        auto reply = std::move(pings.back());
        pings.clear();
        reply(answered);
    }
};

TEST_F(PeerCheck, StoppedPeerIsContinuedAtOnceAndTracedOneKilled) {
    state = 'T';
    liveness.check();
    EXPECT_EQ(signals, (std::vector<std::pair<pid_t, int>>{{40, SIGCONT}}));
    EXPECT_EQ(pings.size(), 1u);

    signals.clear();
    state = 't';
    liveness.check();
    EXPECT_EQ(signals, (std::vector<std::pair<pid_t, int>>{{40, SIGKILL}}));
}

TEST_F(PeerCheck, OnlyMissedPingsInARowKillTheSameHolder) {
    for (int missed = 1; missed < PeerLiveness::missedPingsBeforeKill; ++missed)
        checkAndAnswer(false);
    checkAndAnswer(true);
    for (int missed = 1; missed < PeerLiveness::missedPingsBeforeKill; ++missed)
        checkAndAnswer(false);
    EXPECT_TRUE(signals.empty());

    // A relaunched peer starts with a clean record.
    holder = 41;
    checkAndAnswer(false);
    EXPECT_TRUE(signals.empty());
    for (int missed = 1; missed < PeerLiveness::missedPingsBeforeKill; ++missed)
        checkAndAnswer(false);
    EXPECT_EQ(signals, (std::vector<std::pair<pid_t, int>>{{41, SIGKILL}}));
}

TEST_F(PeerCheck, PingStillInFlightIsNotRepeated) {
    liveness.check();
    liveness.check();
    EXPECT_EQ(pings.size(), 1u);
}

TEST_F(PeerCheck, NameHeldByAnotherProgramIsNoPeerAndIsLeftAlone) {
    holderIsPeer = false;
    state = 'T';

    liveness.check();

    EXPECT_FALSE(liveness.peerHoldsItsName());
    EXPECT_TRUE(signals.empty());
    EXPECT_TRUE(pings.empty());
    holder = 0;
    EXPECT_FALSE(liveness.peerHoldsItsName());
}

TEST_F(PeerCheck, EachNewPeerIsReadyAtItsFirstAnswerAndIsProbedWhenItTakesTheName) {
    liveness.start([](std::chrono::milliseconds, std::function<void()>) {});
    ASSERT_TRUE(ownerChanged);
    ASSERT_EQ(pings.size(), 1u);
    std::exchange(pings, {}).back()(true);
    checkAndAnswer(true);
    EXPECT_EQ(readyReports, 1);

    // A relaunched peer takes the name: it is pinged at once, not at the next interval, and the
    // ping still in flight to the one before is dropped.
    liveness.check();
    auto staleReply = std::move(pings.back());
    pings.clear();
    holder = 41;
    ownerChanged();
    ASSERT_EQ(pings.size(), 1u);
    staleReply(true);
    EXPECT_EQ(readyReports, 1);
    std::exchange(pings, {}).back()(true);
    EXPECT_EQ(readyReports, 2);

    // An answer that arrives once the name is gone does not count.
    holder = 42;
    ownerChanged();
    holder = 0;
    std::exchange(pings, {}).back()(true);
    EXPECT_EQ(readyReports, 2);
}

}  // namespace
