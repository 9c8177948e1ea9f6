// The guard's messages: every message survives a round trip, and nothing malformed decodes.
#include <gtest/gtest.h>

#include "guard/GuardProtocol.h"

using namespace guard::protocol;

namespace {

Request roundTrip(const Request& request) {
    const Bytes bytes = encode(request);
    EXPECT_FALSE(bytes.empty());
    const auto decoded = decodeRequest(bytes);
    EXPECT_TRUE(decoded.has_value());
    return decoded.value_or(Request{});
}

}  // namespace

TEST(GuardProtocol, RequestsSurviveARoundTrip) {
    const auto hello = std::get<Hello>(roundTrip(Hello{"pass word"}));
    EXPECT_EQ(hello.password, "pass word");
    const auto shown = std::get<LockShown>(roundTrip(LockShown{4242, 1234567890123ull}));
    EXPECT_EQ(shown.pid, 4242u);
    EXPECT_EQ(shown.startTime, 1234567890123ull);
    EXPECT_EQ(std::get<RunReleased>(roundTrip(RunReleased{7, 8})).pid, 7u);
    const PolicyUpdate update{PolicyChange::NewPassword, "old", kProtection, "/usr/bin/xterm",
                              std::string(kMaxPassword, 'n')};
    const auto decoded = std::get<PolicyUpdate>(roundTrip(update));
    EXPECT_EQ(decoded.change, PolicyChange::NewPassword);
    EXPECT_EQ(decoded.password, "old");
    EXPECT_EQ(decoded.switches, kProtection);
    EXPECT_EQ(decoded.path, "/usr/bin/xterm");
    EXPECT_EQ(decoded.newPassword, update.newPassword);
}

TEST(GuardProtocol, EventsSurviveARoundTrip) {
    const auto held = decodeEvent(encode(Event{LaunchHeld{99, 5, "/tmp/a b"}}));
    ASSERT_TRUE(held);
    EXPECT_EQ(std::get<LaunchHeld>(*held).path, "/tmp/a b");
    const auto reply =
        decodeEvent(encode(Event{Reply{MessageType::PolicyUpdate, Status::WrongPassword}}));
    ASSERT_TRUE(reply);
    EXPECT_EQ(std::get<Reply>(*reply).status, Status::WrongPassword);
    // The last status there is; the next is none.
    Bytes traceable = encode(Event{Reply{MessageType::LockShown, Status::Traceable}});
    ASSERT_TRUE(decodeEvent(traceable));
    EXPECT_EQ(std::get<Reply>(*decodeEvent(traceable)).status, Status::Traceable);
    ++traceable.back();
    EXPECT_FALSE(decodeEvent(traceable));
}

TEST(GuardProtocol, EncodersRefuseFieldsOutOfBounds) {
    EXPECT_TRUE(encode(Hello{std::string(kMaxPassword + 1, 'x')}).empty());
    EXPECT_TRUE(encode(LockShown{0, 5}).empty());
    EXPECT_TRUE(encode(RunReleased{5, 0}).empty());
    EXPECT_TRUE(encode(LaunchHeld{5, 5, std::string(kMaxPath + 1, 'p')}).empty());
}

TEST(GuardProtocol, MalformedMessagesDecodeToNothing) {
    const Bytes good = encode(Hello{"secret"});
    EXPECT_FALSE(decodeRequest(Bytes{}));
    EXPECT_FALSE(decodeRequest(Bytes{kVersion}));
    Bytes wrongVersion = good;
    wrongVersion[0] = kVersion + 1;
    EXPECT_FALSE(decodeRequest(wrongVersion));
    Bytes trailing = good;
    trailing.push_back(0);
    EXPECT_FALSE(decodeRequest(trailing));
    // Each shorter prefix, a length that claims more than is there, an unknown type or change.
    for (std::size_t size = 0; size < good.size(); ++size)
        EXPECT_FALSE(decodeRequest(std::span(good).first(size)));
    Bytes longLength = good;
    longLength[2] = 0xff;
    EXPECT_FALSE(decodeRequest(longLength));
    EXPECT_FALSE(decodeRequest(Bytes{kVersion, 99, 0, 0}));
    Bytes update = encode(PolicyUpdate{PolicyChange::SwitchOn, "", kProtection, "", ""});
    update[2] = 9;
    EXPECT_FALSE(decodeRequest(update));
    Bytes unknownSwitch = encode(PolicyUpdate{PolicyChange::SwitchOn, "", kProtection, "", ""});
    unknownSwitch[6] = 0x80;
    EXPECT_FALSE(decodeRequest(unknownSwitch));
    // Requests are not events and events are not requests.
    EXPECT_FALSE(decodeEvent(good));
    EXPECT_FALSE(decodeRequest(encode(Reply{})));
}

TEST(GuardProtocol, OnlyRaisingChangesGoWithoutPassword) {
    EXPECT_TRUE(raisesProtection(PolicyChange::LockProgram));
    EXPECT_TRUE(raisesProtection(PolicyChange::SwitchOn));
    EXPECT_FALSE(raisesProtection(PolicyChange::UnlockProgram));
    EXPECT_FALSE(raisesProtection(PolicyChange::SwitchOff));
    EXPECT_FALSE(raisesProtection(PolicyChange::NewPassword));
}
