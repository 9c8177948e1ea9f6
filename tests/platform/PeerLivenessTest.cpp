// The peer check against scripted answers: a stopped peer is continued, a traced or hung one is
// killed, and a name held by another program is not the peer.
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

    PeerLiveness liveness{
        QStringLiteral("org.vaultine.Vaultine"),
        PeerLiveness::Probes{
            [this](const QString&) { return holder; },
            [this](pid_t, const QString&) { return holderIsPeer; }, [this](pid_t) { return state; },
            [this](pid_t pid, int signal) { signals.emplace_back(pid, signal); },
            [this](const QString&, std::chrono::milliseconds, PeerLiveness::PingReply reply) {
                pings.push_back(std::move(reply));
            }}};

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

}  // namespace
