// The guard as a running service: the programs users name, identified on a worker without ever
// waiting on what a path leads to; its socket's peer identification (SO_PEERPIDFD and the
// SO_PEERCRED fallback), then, as root where the kernel allows fanotify, a locked program executed
// by another user (directly, through the loader, or from a filesystem mounted later) held and
// frozen while no genuine Vaultine covers it, kept frozen by a restarted guard and thawed when its
// policy is forgotten.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include "guard/ElfBuildId.h"
#include "guard/ExecWatcher.h"
#include "guard/GuardProtocol.h"
#include "guard/GuardSocket.h"
#include "guard/PeerIdentity.h"
#include "guard/PolicyStore.h"
#include "guard/Worker.h"

using namespace guard;

namespace {

constexpr uid_t kNobody = 65534;

std::string contents(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// Waits for a condition the guard brings about, giving up after a generous bound.
template <typename Condition>
bool eventually(Condition condition) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

struct RunningGuard {
    std::string folder;
    pid_t pid = -1;

    RunningGuard() {
        char pattern[] = "/tmp/guard-service-XXXXXX";
        folder = ::mkdtemp(pattern);
        ::chmod(folder.c_str(), 0755);
    }
    ~RunningGuard() {
        stop();
        std::filesystem::remove_all(folder);
    }
    // Politely, then for sure: a guard that does not end would hold every exec. True when SIGTERM
    // brought the guard through its own orderly stop to a normal exit.
    bool stop() {
        if (pid <= 0)
            return false;
        ::kill(pid, SIGTERM);
        int status = 0;
        bool ended = false;
        for (int tries = 0; tries < 200 && !ended; ++tries) {
            ended = ::waitpid(pid, &status, WNOHANG) == pid;
            if (!ended)
                ::usleep(10'000);
        }
        if (!ended) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
        }
        pid = -1;
        std::filesystem::remove(folder + "/run/socket");
        return ended && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    // Runs the guard's program to an end with these arguments after the folders'; its exit code.
    int command(const char* option, const char* value) const {
        const pid_t child = ::fork();
        if (child == 0) {
            const std::string state = folder + "/state", run = folder + "/run";
            ::execl(VAULTINE_GUARD_PROGRAM, VAULTINE_GUARD_PROGRAM, "--state-dir", state.c_str(),
                    "--runtime-dir", run.c_str(), option, value, nullptr);
            ::_exit(127);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // False when the guard could not start here (no fanotify in this kernel or container).
    bool start() {
        pid = ::fork();
        if (pid == 0) {
            const std::string state = folder + "/state", run = folder + "/run";
            ::execl(VAULTINE_GUARD_PROGRAM, VAULTINE_GUARD_PROGRAM, "--state-dir", state.c_str(),
                    "--runtime-dir", run.c_str(), nullptr);
            ::_exit(127);
        }
        return eventually([this] {
                   return std::filesystem::exists(folder + "/run/socket") ||
                          ::waitpid(pid, nullptr, WNOHANG) == pid;
               }) &&
               ::kill(pid, 0) == 0 && std::filesystem::exists(folder + "/run/socket");
    }
};

UniqueFd connectTo(const std::string& path) {
    UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return {};
    return fd;
}

// A copy of a program in the folder, locked for nobody alone (by inode, path and build-id).
std::string lockCopyOf(const std::string& folder, const std::string& original = "/bin/true") {
    const std::string program =
        folder + "/locked-" + std::filesystem::path(original).filename().string();
    std::filesystem::copy_file(original, program);
    ::chmod(program.c_str(), 0755);
    struct stat status {};
    ::stat(program.c_str(), &status);
    const int fd = ::open(program.c_str(), O_RDONLY | O_CLOEXEC);
    Policy policy;
    policy.programs.push_back({program, status.st_dev, status.st_ino, buildIdOfFile(fd)});
    ::close(fd);
    PolicyStore store(folder + "/state");
    return store.prepare() && store.save(kNobody, policy) ? program : std::string();
}

pid_t runAsNobody(std::vector<std::string> arguments) {
    const pid_t child = ::fork();
    if (child == 0) {
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
            ::_exit(126);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return child;
}

bool isFrozen(pid_t pid) {
    return contents("/proc/" + std::to_string(pid) + "/cgroup").find("vaultine-guard.frozen") !=
           std::string::npos;
}

// Out of the frozen cgroup (v1 keeps a killed task frozen), then ended.
void endFrozen(pid_t pid) {
    for (const char* root : {"/sys/fs/cgroup/freezer", "/sys/fs/cgroup"})
        std::ofstream(std::string(root) + "/cgroup.procs") << pid;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

// The first child of a process once it runs the program named.
pid_t childRunning(pid_t parent, const std::string& program) {
    pid_t child = 0;
    const std::string children =
        "/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) + "/children";
    eventually([&] {
        child = std::atoi(contents(children).c_str());
        return child > 0 &&
               std::filesystem::equivalent("/proc/" + std::to_string(child) + "/exe", program);
    });
    return child;
}

bool exitsCleanly(pid_t pid) {
    int status = -1;
    const bool ended = eventually([&] { return ::waitpid(pid, &status, WNOHANG) == pid; });
    return ended && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::uint64_t mountIdOf(const std::string& path) {
    struct statx status {};
    ::statx(AT_FDCWD, path.c_str(), 0, STATX_MNT_ID, &status);
    return status.stx_mnt_id;
}

// Runs the work that has finished; false when none finished within a generous bound.
bool finishSome(Worker& worker) {
    pollfd ready{worker.fd(), POLLIN, 0};
    if (::poll(&ready, 1, 10'000) != 1)
        return false;
    worker.finish();
    return true;
}

}  // namespace

TEST(ProgramIdentity, IdentifiesOnlyARegularFileReachedWithoutWaitingOnAnyone) {
    const std::string table = contents("/proc/self/mountinfo");
    const std::set<std::uint64_t> quiet = quietMountsIn(table);
    RunningGuard scratch;
    const std::string program = scratch.folder + "/program";
    std::filesystem::copy_file("/bin/true", program);
    std::filesystem::create_symlink(program, scratch.folder + "/link");
    const auto identified = identifyProgram(scratch.folder + "/link", quiet);
    ASSERT_TRUE(identified);
    const UniqueFd file(::open("/bin/true", O_RDONLY | O_CLOEXEC));
    EXPECT_EQ(identified->buildId, buildIdOfFile(file.get()));
    struct stat status {};
    ASSERT_EQ(::stat(program.c_str(), &status), 0);
    EXPECT_EQ(identified->inode, status.st_ino);
    // A FIFO nobody writes to would block a reading open forever; a device, a folder, a relative
    // path and a loop of links are no programs either.
    const std::string fifo = scratch.folder + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    std::filesystem::create_symlink("loop", scratch.folder + "/loop");
    for (const std::string& path : {fifo, std::string("/dev/null"), scratch.folder,
                                    std::string("bin/true"), scratch.folder + "/loop"})
        EXPECT_FALSE(identifyProgram(path, quiet)) << path;
    // A file on a FUSE mount (here, the scratch folder's mount told to be one), reached directly
    // or through a link from elsewhere, is never looked up nor opened.
    std::string fuseTable;
    std::istringstream lines(table);
    const std::string ownId = std::to_string(mountIdOf(scratch.folder));
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with(ownId + " ")) {
            const std::size_t type = line.find(" - ") + 3;
            line.replace(type, line.find(' ', type) - type, "fuse.sshfs");
        }
        fuseTable += line + "\n";
    }
    const std::set<std::uint64_t> quietButTheScratchMount = quietMountsIn(fuseTable);
    EXPECT_FALSE(quietButTheScratchMount.contains(mountIdOf(scratch.folder)));
    EXPECT_FALSE(identifyProgram(program, quietButTheScratchMount));
    EXPECT_FALSE(identifyProgram(scratch.folder + "/link", quietButTheScratchMount));
    const std::string kinds =
        "20 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
        "21 20 0:50 / /home/u/remote rw - fuse.sshfs u@host: rw\n"
        "22 20 0:51 / /net rw - autofs systemd-1 rw\n"
        "23 20 0:52 / /mnt/nfs rw - nfs4 host:/ rw\n"
        "24 20 0:53 / /media/u/disk rw - fuseblk /dev/sdb1 rw\n";
    EXPECT_EQ(quietMountsIn(kinds), std::set<std::uint64_t>{20});
}

// A stalled identification (an open that waits on a FIFO's writer stands in for it) leaves the
// next one to another thread.
TEST(ProgramIdentity, AnIdentificationIsAnsweredWhileAnotherWaits) {
    RunningGuard scratch;
    const std::string fifo = scratch.folder + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const std::set<std::uint64_t> quiet = quietMountsIn(contents("/proc/self/mountinfo"));
    Worker identifier(2);
    bool stalledDone = false;
    std::optional<LockedProgram> identified;
    ASSERT_TRUE(identifier.submit([fifo] { UniqueFd(::open(fifo.c_str(), O_RDONLY)); },
                                  [&stalledDone] { stalledDone = true; }));
    auto result = std::make_shared<std::optional<LockedProgram>>();
    ASSERT_TRUE(
        identifier.submit([result, quiet] { *result = identifyProgram("/bin/true", quiet); },
                          [&] { identified = *result; }));
    EXPECT_TRUE(finishSome(identifier));
    EXPECT_TRUE(identified);
    EXPECT_FALSE(stalledDone);
    // The writer comes: the stalled one ends too.
    const UniqueFd writer(::open(fifo.c_str(), O_WRONLY | O_CLOEXEC));
    ASSERT_TRUE(writer);
    EXPECT_TRUE(eventually([&] { return finishSome(identifier) && stalledDone; }));
}

TEST(PeerIdentity, TheKernelGivesTheFilesOfAProcessItsUserCannotTraceToRoot) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "the guard runs as root";
    const ProcessReaders readers = systemReaders();
    for (const bool closed : {false, true}) {
        int ready[2];
        ASSERT_EQ(::pipe2(ready, O_CLOEXEC), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            // Changing its user made it non-dumpable; it chooses again.
            if (::setgid(65534) != 0 || ::setuid(65534) != 0 ||
                ::prctl(PR_SET_DUMPABLE, closed ? 0 : 1, 0, 0, 0) != 0)
                ::_exit(1);
            ::close(ready[0]);
            ::close(ready[1]);
            ::pause();
            ::_exit(0);
        }
        ::close(ready[1]);
        char byte = 0;
        EXPECT_EQ(::read(ready[0], &byte, 1), 0);  // the child is set up
        ::close(ready[0]);
        EXPECT_EQ(readers.procFileOwner(child, "status"), closed ? 0u : 65534u) << closed;
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
}

TEST(GuardSocket, IdentifiesThePeerWithAndWithoutPeerPidfd) {
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair), 0);
    UniqueFd ours(pair[0]), theirs(pair[1]);
    const auto ownStart = startTimeOf(::getpid(), systemReaders());
    for (const bool usePeerPidfd : {true, false}) {
        const auto peer = identifyPeer(ours.get(), usePeerPidfd);
        ASSERT_TRUE(peer);
        EXPECT_EQ(peer->pid, ::getpid());
        EXPECT_EQ(peer->uid, ::getuid());
        EXPECT_EQ(peer->startTime, ownStart);
        EXPECT_TRUE(peer->pidfd);
    }
    const int on = 1;
    ::setsockopt(ours.get(), SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
    ASSERT_TRUE(sendMessage(theirs.get(), protocol::encode(protocol::Hello{"x"})));
    const auto message = receiveMessage(ours.get());
    ASSERT_TRUE(message);
    EXPECT_EQ(message->sender, ::getpid());
    EXPECT_TRUE(protocol::decodeRequest(message->bytes));
}

TEST(GuardService, FreezesALockedLaunchNoVaultineCoversAndRefusesOtherClients) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "the guard runs as root";
    RunningGuard guard;
    // A run that lasts: a guard on its way out lets frozen runs take a step each (cgroup v1), and a
    // run that could end in one would be gone before the restarted guard looks.
    const std::string program = lockCopyOf(guard.folder, "/bin/sleep");
    ASSERT_FALSE(program.empty());
    if (!guard.start())
        GTEST_SKIP() << "the guard cannot watch executions here (fanotify or cgroups refused)";

    // Root has no policy: its exec of the same program runs at once.
    const pid_t rootRun = ::fork();
    if (rootRun == 0) {
        ::execl(program.c_str(), program.c_str(), "0", nullptr);
        ::_exit(127);
    }
    int exitStatus = 0;
    ASSERT_EQ(::waitpid(rootRun, &exitStatus, 0), rootRun);
    EXPECT_TRUE(WIFEXITED(exitStatus) && WEXITSTATUS(exitStatus) == 0);

    const pid_t child = runAsNobody({program, "4"});
    // No Vaultine answers: the run is frozen in the guard's cgroup rather than run uncovered.
    EXPECT_TRUE(eventually([child] { return isFrozen(child); }));
    EXPECT_EQ(::waitpid(child, &exitStatus, WNOHANG), 0);

    // A client that is not the trusted Vaultine cannot cover the run.
    UniqueFd client = connectTo(guard.folder + "/run/socket");
    ASSERT_TRUE(client);
    const auto start = startTimeOf(child, systemReaders());
    ASSERT_TRUE(start);
    ASSERT_TRUE(sendMessage(client.get(), protocol::encode(protocol::LockShown{
                                              static_cast<std::uint32_t>(child), *start})));
    std::uint8_t reply[64];
    const ssize_t length = ::recv(client.get(), reply, sizeof reply, 0);
    const auto event = protocol::decodeEvent(std::span(reply, length > 0 ? length : 0));
    ASSERT_TRUE(event);
    EXPECT_EQ(std::get<protocol::Reply>(*event).status, protocol::Status::NotGenuine);
    EXPECT_EQ(::waitpid(child, &exitStatus, WNOHANG), 0);

    // A restarted guard keeps the run frozen, and thaws it when the policy is forgotten.
    guard.stop();
    ASSERT_TRUE(guard.start());
    EXPECT_TRUE(isFrozen(child));
    EXPECT_EQ(guard.command("--forget", "65534"), 0);
    EXPECT_TRUE(exitsCleanly(child));
    if (isFrozen(child))
        endFrozen(child);
    EXPECT_TRUE(guard.stop()) << "SIGTERM ended the guard before its orderly stop";
}

TEST(GuardService, HoldsALockedProgramRunThroughTheLoaderOrFromALaterMountButNotItsReaders) {
    const char* loader = "/lib64/ld-linux-x86-64.so.2";
    if (::geteuid() != 0 || ::access(loader, X_OK) != 0)
        GTEST_SKIP() << "the guard runs as root; this test knows the x86-64 loader";
    RunningGuard guard;
    const std::string program = lockCopyOf(guard.folder);
    ASSERT_FALSE(program.empty());
    if (!guard.start())
        GTEST_SKIP() << "the guard cannot watch executions here (fanotify or cgroups refused)";

    EXPECT_TRUE(exitsCleanly(runAsNobody({"/bin/cat", program})));
    const pid_t loaded = runAsNobody({loader, program});
    EXPECT_TRUE(eventually([loaded] { return isFrozen(loaded); }));
    endFrozen(loaded);

    // A copy on a filesystem mounted after the guard started is still recognised by its build-id.
    const std::string mount = guard.folder + "/late";
    std::filesystem::create_directory(mount);
    if (::mount("none", mount.c_str(), "tmpfs", 0, "mode=0755") != 0)
        GTEST_SKIP() << "no mount here";
    std::filesystem::copy_file("/bin/true", mount + "/true");
    // The guard marks the mount when it sees the table change; a run before that is not held.
    pid_t late = -1;
    const bool frozen = eventually([&] {
        if (late > 0 && ::waitpid(late, nullptr, WNOHANG) == late)
            late = -1;
        if (late < 0)
            late = runAsNobody({mount + "/true"});
        return isFrozen(late);
    });
    EXPECT_TRUE(frozen);
    endFrozen(late);
    ::umount2(mount.c_str(), MNT_DETACH);
}

TEST(GuardService, FreezesARunStartedWhileNoGuardRanWithWhatItStarted) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "the guard runs as root";
    RunningGuard guard;
    const std::string shell = lockCopyOf(guard.folder, "/bin/sh");
    ASSERT_FALSE(shell.empty());
    // Started before the guard, with a child of its own: a terminal's shell and its command.
    const pid_t run = runAsNobody({shell, "-c", "/bin/sleep 1000 & wait"});
    const pid_t child = childRunning(run, "/bin/sleep");
    ASSERT_GT(child, 0);
    if (!guard.start()) {
        endFrozen(child);
        endFrozen(run);
        GTEST_SKIP() << "the guard cannot watch executions here (fanotify or cgroups refused)";
    }
    // No Vaultine of nobody is there: the run is frozen whole.
    EXPECT_TRUE(eventually([&] { return isFrozen(run) && isFrozen(child); }));
    guard.stop();
    ASSERT_TRUE(guard.start());
    EXPECT_TRUE(isFrozen(run) && isFrozen(child));
    // Nothing locks it any longer: it thaws whole, and the shell sees its command end.
    EXPECT_EQ(guard.command("--forget", "65534"), 0);
    EXPECT_TRUE(eventually([&] { return !isFrozen(run) && !isFrozen(child); }));
    endFrozen(child);
    EXPECT_TRUE(exitsCleanly(run));
    if (isFrozen(run))
        endFrozen(run);
    EXPECT_TRUE(guard.stop());
}
