// A user's policy: its text form, the store's files, and who may raise or lower protection.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "guard/Policy.h"
#include "guard/PolicyStore.h"

using namespace guard;
using protocol::PolicyChange;
using protocol::PolicyUpdate;
using protocol::Status;

namespace {

Policy samplePolicy() {
    Policy policy;
    policy.verifier = "$argon2id$v=19$m=65536,t=2,p=1$c2FsdA$aGFzaA";
    policy.switches = protocol::kAllSwitches;
    policy.programs.push_back({"/usr/bin/x term\nz", 2049, 77, std::string("\x01\x00\xff", 3)});
    policy.programs.push_back({"/opt/a", 1, 2, ""});
    policy.releasedRuns.push_back({123, 456});
    return policy;
}

struct TempFolder {
    TempFolder() {
        char pattern[] = "/tmp/guard-test-XXXXXX";
        path = ::mkdtemp(pattern);
    }
    ~TempFolder() { std::filesystem::remove_all(path); }
    std::string path;
};

ProgramLookup fakeLookup() {
    return [](const std::string& path) -> std::optional<LockedProgram> {
        if (path == "/missing")
            return std::nullopt;
        return LockedProgram{path, 9, 10, "id"};
    };
}

}  // namespace

TEST(PolicyText, SurvivesARoundTrip) {
    const Policy policy = samplePolicy();
    EXPECT_EQ(parsePolicy(serializePolicy(policy)), policy);
    EXPECT_EQ(parsePolicy(serializePolicy(Policy{})), Policy{});
}

TEST(PolicyText, RefusesAnythingMalformed) {
    const std::string good = serializePolicy(samplePolicy());
    for (const std::string& bad :
         {std::string(), std::string("vaultine-guard-policy 2\n"), good.substr(0, good.size() - 1),
          good + "\n", good + "unknown 1\n", good + "switches 8\n", good + "released 0 5\n",
          good + "program 1 2 zz 2f61\n", good + "program 1 2 - 61\n",
          good + "program 1 2 - 2f00\n", good + "verifier $argon2id$again\n",
          good + "released 1 2 3\n", good + "program 1 -2 - 2f61\n",
          std::string("vaultine-guard-policy 1\nverifier plain\n")}) {
        EXPECT_FALSE(parsePolicy(bad)) << bad;
    }
}

TEST(PolicyStore, SavesRootOnlyFilesAndLoadsThemBack) {
    TempFolder folder;
    const PolicyStore store(folder.path + "/state");
    ASSERT_TRUE(store.prepare());
    EXPECT_FALSE(store.load(1000));
    ASSERT_TRUE(store.save(1000, samplePolicy()));
    struct stat status {};
    ASSERT_EQ(::stat((folder.path + "/state/1000").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    EXPECT_EQ(store.load(1000), samplePolicy());
    EXPECT_EQ(store.loadAll().size(), 1u);
    // A running guard learns of a forgotten policy, and not of its own atomic replace.
    const UniqueFd watch = store.watchRemovals();
    ASSERT_TRUE(watch);
    ASSERT_TRUE(store.save(1000, samplePolicy()));
    EXPECT_TRUE(PolicyStore::readRemovals(watch.get()).empty());
    EXPECT_TRUE(store.forget(1000));
    EXPECT_EQ(PolicyStore::readRemovals(watch.get()), std::vector<uid_t>{1000});
    EXPECT_FALSE(store.load(1000));
    EXPECT_TRUE(store.loadAll().empty());
}

TEST(PolicyStore, DistrustsCorruptOrLooseFiles) {
    TempFolder folder;
    const PolicyStore store(folder.path);
    ASSERT_TRUE(store.save(1000, samplePolicy()));
    const std::string file = folder.path + "/1000";
    ::chmod(file.c_str(), 0644);
    EXPECT_FALSE(store.load(1000));
    ::chmod(file.c_str(), 0600);
    std::ofstream(file, std::ios::app) << "garbage\n";
    EXPECT_FALSE(store.load(1000));
    std::ofstream(folder.path + "/not-a-uid") << "x";
    EXPECT_TRUE(store.loadAll().empty());
}

TEST(PolicyRules, RaisingNeedsNoPassword) {
    Policy policy;
    policy.switches = 0;
    EXPECT_EQ(applyPolicyUpdate(policy, {PolicyChange::LockProgram, "", 0, "/usr/bin/a", ""}, false,
                                fakeLookup()),
              Status::Ok);
    EXPECT_EQ(applyPolicyUpdate(policy, {PolicyChange::SwitchOn, "", protocol::kProtection, "", ""},
                                false, fakeLookup()),
              Status::Ok);
    ASSERT_EQ(policy.programs.size(), 1u);
    EXPECT_EQ(policy.programs[0], (LockedProgram{"/usr/bin/a", 9, 10, "id"}));
    EXPECT_TRUE(policy.protects());
    EXPECT_EQ(applyPolicyUpdate(policy, {PolicyChange::LockProgram, "", 0, "/missing", ""}, false,
                                fakeLookup()),
              Status::Refused);
    EXPECT_EQ(applyPolicyUpdate(policy, {PolicyChange::LockProgram, "", 0, "relative", ""}, false,
                                fakeLookup()),
              Status::Refused);
}

TEST(PolicyRules, LoweringNeedsTheVerifiedPassword) {
    Policy policy = samplePolicy();
    const Policy before = policy;
    for (const PolicyUpdate& update :
         {PolicyUpdate{PolicyChange::UnlockProgram, "", 0, "/opt/a", ""},
          PolicyUpdate{PolicyChange::SwitchOff, "", protocol::kProtection, "", ""},
          PolicyUpdate{PolicyChange::NewPassword, "", 0, "", "new"}}) {
        EXPECT_EQ(applyPolicyUpdate(policy, update, false, fakeLookup()), Status::WrongPassword);
        EXPECT_EQ(policy, before);
    }
    EXPECT_EQ(applyPolicyUpdate(policy, {PolicyChange::UnlockProgram, "", 0, "/opt/a", ""}, true,
                                fakeLookup()),
              Status::Ok);
    EXPECT_EQ(policy.programs.size(), 1u);
    EXPECT_EQ(
        applyPolicyUpdate(policy, {PolicyChange::SwitchOff, "", protocol::kProtection, "", ""},
                          true, fakeLookup()),
        Status::Ok);
    EXPECT_FALSE(policy.protects());
}

TEST(PolicyRules, VerifierChecksOnlyTheRightPassword) {
    Policy policy;
    policy.verifier = makeVerifier("first");
    ASSERT_TRUE(policy.verifier.starts_with("$argon2id$"));
    EXPECT_TRUE(verifyPassword(policy.verifier, "first"));
    EXPECT_FALSE(verifyPassword(policy.verifier, "First"));
    EXPECT_FALSE(verifyPassword("", ""));
    EXPECT_EQ(applyPolicyUpdate(policy, {PolicyChange::NewPassword, "", 0, "", "second"}, true,
                                fakeLookup()),
              Status::Ok);
    EXPECT_TRUE(verifyPassword(policy.verifier, "second"));
    EXPECT_FALSE(verifyPassword(policy.verifier, "first"));
    EXPECT_EQ(parsePolicy(serializePolicy(policy)), policy);
}
