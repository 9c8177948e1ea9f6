// The cgroup v2 freezer against a fake cgroup tree in a temporary folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "guard/Freezer.h"

using namespace guard;

namespace {

std::string contents(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

struct FakeTree {
    FakeTree() {
        char pattern[] = "/tmp/guard-cgroup-XXXXXX";
        root = ::mkdtemp(pattern);
        std::filesystem::create_directories(root + "/user.slice/app.scope");
        std::filesystem::create_directories(root + "/vaultine-guard.frozen");
        for (const char* file :
             {"/user.slice/app.scope/cgroup.procs", "/vaultine-guard.frozen/cgroup.procs",
              "/vaultine-guard.frozen/cgroup.freeze"})
            std::ofstream(root + file) << "";
    }
    ~FakeTree() { std::filesystem::remove_all(root); }
    std::string root;
};

CgroupFileReader cgroupOfEveryProcess(std::string text) {
    return [text](pid_t) { return std::optional(text); };
}

}  // namespace

TEST(CgroupFreezer, FreezesIntoItsCgroupAndThawsBackToTheOrigin) {
    FakeTree tree;
    CgroupFreezer freezer(tree.root, CgroupVersion::V2,
                          cgroupOfEveryProcess("0::/user.slice/app.scope\n"));
    ASSERT_TRUE(freezer.prepare());
    EXPECT_EQ(contents(tree.root + "/vaultine-guard.frozen/cgroup.freeze"), "1");
    ASSERT_TRUE(freezer.freeze(4242, {4242, false}));
    EXPECT_EQ(contents(tree.root + "/vaultine-guard.frozen/cgroup.procs"), "4242");
    ASSERT_TRUE(freezer.thaw(4242));
    EXPECT_EQ(contents(tree.root + "/user.slice/app.scope/cgroup.procs"), "4242");
    EXPECT_FALSE(freezer.thaw(4242));
}

TEST(CgroupFreezer, ARestartedFreezerThawsWhatTheLastOneFrozeAndKnowsItsRuns) {
    FakeTree tree;
    const std::string record = tree.root + "/frozen-runs";
    {
        CgroupFreezer previous(tree.root, CgroupVersion::V2,
                               cgroupOfEveryProcess("0::/user.slice/app.scope\n"), record);
        ASSERT_TRUE(previous.prepare());
        ASSERT_TRUE(previous.freeze(4242, {4242, true}));
        ASSERT_TRUE(previous.freeze(4250, {4242, true}));
        // Frozen again, a process keeps the run it was frozen with.
        ASSERT_TRUE(previous.freeze(4250, {4250, false}));
    }
    // The fake cgroup.procs holds what was written; a real one lists every frozen pid a line.
    std::ofstream(tree.root + "/vaultine-guard.frozen/cgroup.procs") << "4242\n4250\n77\n";
    CgroupFreezer restarted(tree.root, CgroupVersion::V2, cgroupOfEveryProcess("0::/elsewhere\n"),
                            record);
    // 77 is another guard's: the frozen cgroup is the machine's.
    EXPECT_EQ(restarted.adoptFrozen(),
              (std::map<pid_t, FrozenMark>{{4242, {4242, true}}, {4250, {4242, true}}}));
    ASSERT_TRUE(restarted.thaw(4242));
    EXPECT_EQ(contents(tree.root + "/user.slice/app.scope/cgroup.procs"), "4242");
    EXPECT_FALSE(restarted.thaw(77));
}

TEST(CgroupFreezer, ReadsOnlyWellFormedRecordLines) {
    // An older guard's lines, without a mark, are runs of their own that ran under a lock.
    const auto origins = parseOrigins(
        "12 /a b\n0 /zero\n-3 /neg\nx /y\n13 relative\n14 /x/../y\n15\n16 /ok\n"
        "17 12 held /c d\n18 18 ran /e\n19 0 ran /f\n20 20 maybe /g\n21 21 held\n22 21 held \n");
    EXPECT_EQ(origins, (std::map<pid_t, FrozenOrigin>{{12, {"/a b", {12, true}}},
                                                      {16, {"/ok", {16, true}}},
                                                      {17, {"/c d", {12, false}}},
                                                      {18, {"/e", {18, true}}}}));
    EXPECT_EQ(parseOrigins(serializeOrigins(origins)), origins);
    EXPECT_EQ(pidsIn("1\n\n2x\n3\n"), (std::vector<pid_t>{1, 3}));
}

TEST(CgroupFreezer, RefusesAnOriginItCannotTrust) {
    FakeTree tree;
    CgroupFreezer freezer(tree.root, CgroupVersion::V2, cgroupOfEveryProcess("0::/a/../../etc\n"));
    EXPECT_FALSE(freezer.freeze(1, {1, true}));
    CgroupFreezer unreadable(tree.root, CgroupVersion::V2,
                             [](pid_t) { return std::optional<std::string>(); });
    EXPECT_FALSE(unreadable.freeze(1, {1, true}));
}

TEST(CgroupFreezer, FindsTheHierarchysLine) {
    const std::string v1 = "7:blkio:/\n6:freezer:/user/1000\n0::/\n";
    EXPECT_EQ(cgroupPathIn(v1, CgroupVersion::V1), "/user/1000");
    EXPECT_EQ(cgroupPathIn(v1, CgroupVersion::V2), "/");
    EXPECT_EQ(cgroupPathIn("3:cpu,freezer:/x\n", CgroupVersion::V1), "/x");
    EXPECT_EQ(cgroupPathIn("4:cpu:/x\n", CgroupVersion::V1), std::nullopt);
    EXPECT_EQ(cgroupPathIn("0::relative\n", CgroupVersion::V2), std::nullopt);
}
