// The answer to an execution or a loader's open, the loaders, and the build-id that recognises a
// copy of a locked program.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "guard/ElfBuildId.h"
#include "guard/ExecDecision.h"

using namespace guard;

namespace {

constexpr uid_t kUser = 1000;
constexpr uid_t kOther = 1001;
const std::vector<Run> kRun{{500, 9000}, {400, 8000}};

std::map<uid_t, Policy> lockingXterm() {
    Policy policy;
    policy.programs.push_back({"/usr/bin/xterm", 8, 100, "BUILDID"});
    return {{kUser, policy}};
}

ExecutedFile file(std::uint64_t inode, std::string path, std::string buildId = "other") {
    ExecutedFile executed{8, inode, std::move(path), 0, S_IFREG | 0755, nullptr};
    executed.buildId = [buildId] { return buildId; };
    return executed;
}

std::vector<std::uint8_t> bytesOf(const char* path) {
    std::ifstream stream(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

}  // namespace

TEST(ExecDecision, HoldsALockedProgramByInodePathOrBuildId) {
    const auto policies = lockingXterm();
    EXPECT_EQ(decideExec(policies, kUser, kRun, file(100, "/elsewhere")), ExecAnswer::Hold);
    EXPECT_EQ(decideExec(policies, kUser, kRun, file(5, "/usr/bin/xterm")), ExecAnswer::Hold);
    EXPECT_EQ(decideExec(policies, kUser, kRun, file(6, "/tmp/copy", "BUILDID")), ExecAnswer::Hold);
}

TEST(ExecDecision, LetsEverythingElseRun) {
    auto policies = lockingXterm();
    // Another user's exec of the program this user locked: allowed, but still watched.
    EXPECT_EQ(decideExec(policies, kOther, kRun, file(100, "/usr/bin/xterm")), ExecAnswer::Allow);
    // A run the password released, and what it starts, run freely.
    policies[kUser].releasedRuns.push_back({400, 8000});
    EXPECT_EQ(decideExec(policies, kUser, kRun, file(100, "/usr/bin/xterm")), ExecAnswer::Allow);
    policies[kUser].switches = 0;
    EXPECT_EQ(decideExec(policies, kUser, {{1, 2}}, file(100, "/usr/bin/xterm")),
              ExecAnswer::AllowAndIgnore);
}

TEST(ExecDecision, IgnoresOnlyUnlockedFilesOnlyRootCanChange) {
    const auto policies = lockingXterm();
    EXPECT_EQ(decideExec(policies, kUser, kRun, file(7, "/usr/bin/ls")),
              ExecAnswer::AllowAndIgnore);
    ExecutedFile usersOwn = file(7, "/home/u/tool");
    usersOwn.owner = kUser;
    EXPECT_EQ(decideExec(policies, kUser, kRun, usersOwn), ExecAnswer::Allow);
    ExecutedFile groupWritable = file(7, "/usr/local/bin/tool");
    groupWritable.mode |= S_IWGRP;
    EXPECT_EQ(decideExec(policies, kUser, kRun, groupWritable), ExecAnswer::Allow);
    EXPECT_EQ(decideExec({}, kUser, kRun, file(100, "/usr/bin/xterm")), ExecAnswer::AllowAndIgnore);
}

TEST(ExecDecision, HoldsALockedProgramsOpenOnlyByALoader) {
    auto policies = lockingXterm();
    EXPECT_EQ(decideOpen(policies, kUser, kRun, file(100, "/usr/bin/xterm"), true),
              ExecAnswer::Hold);
    // Any other reader (cat, a file manager's thumbnails) goes on at once.
    EXPECT_EQ(decideOpen(policies, kUser, kRun, file(100, "/usr/bin/xterm"), false),
              ExecAnswer::Allow);
    EXPECT_EQ(decideOpen(policies, kOther, kRun, file(100, "/usr/bin/xterm"), true),
              ExecAnswer::Allow);
    // What is never locked is allowed, not ignored: the ignore marks are for exec events.
    EXPECT_EQ(decideOpen(policies, kUser, kRun, file(7, "/usr/bin/ls"), true), ExecAnswer::Allow);
    policies[kUser].releasedRuns.push_back({400, 8000});
    EXPECT_EQ(decideOpen(policies, kUser, kRun, file(100, "/usr/bin/xterm"), true),
              ExecAnswer::Allow);
}

TEST(Loaders, KnowsALoaderByItsFileOrACopyByItsBuildId) {
    Loaders loaders;
    loaders.files.insert({8, 50});
    loaders.buildIds.insert("LOADER");
    int reads = 0;
    const auto buildId = [&reads](std::string id) {
        return [&reads, id] {
            ++reads;
            return id;
        };
    };
    EXPECT_TRUE(loaders.contains(8, 50, buildId("LOADER")));
    EXPECT_EQ(reads, 0);
    EXPECT_TRUE(loaders.contains(9, 70, buildId("LOADER")));
    EXPECT_FALSE(loaders.contains(9, 70, buildId("OTHER")));
    EXPECT_FALSE(loaders.contains(9, 70, buildId("")));
    // The loader of this machine is among them, when it has one at a usual path.
    struct stat status {};
    if (::stat("/lib64/ld-linux-x86-64.so.2", &status) == 0) {
        EXPECT_TRUE(systemLoaders().contains(status.st_dev, status.st_ino, nullptr));
    }
}

TEST(ElfBuildId, ReadsTheSameIdFromAProgramAndItsCopy) {
    const std::vector<std::uint8_t> program = bytesOf("/bin/true");
    const std::string id = buildIdOfBytes(program);
    if (id.empty())
        GTEST_SKIP() << "/bin/true has no build-id note";
    EXPECT_GE(id.size(), 16u);
    const int fd = ::open("/bin/true", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(buildIdOfFile(fd), id);
    ::close(fd);
}

TEST(ElfBuildId, FindsNothingInTruncatedOrForeignFiles) {
    const std::vector<std::uint8_t> program = bytesOf("/bin/true");
    for (const std::size_t size :
         {std::size_t{0}, std::size_t{4}, std::size_t{63}, std::size_t{200}})
        EXPECT_EQ(buildIdOfBytes(std::span(program).first(std::min(size, program.size()))), "");
    const std::string script = "#!/bin/sh\necho hello\n";
    EXPECT_EQ(buildIdOfBytes(
                  std::span(reinterpret_cast<const std::uint8_t*>(script.data()), script.size())),
              "");
}
