// The /proc readers of the process watcher: the parsers of stat, environ, cgroup and .flatpak-info
// bytes, systemd unit and snap names, this process's own files, a process that does not exist or
// is not dumpable, and the session decision: display names resolved as Xlib resolves them, and
// their servers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <elf.h>

#include <csignal>
#include <cstddef>
#include <cstring>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "platform/linux/DisplaySession.h"
#include "platform/linux/ElfBuildId.h"
#include "platform/linux/ProcReader.h"

namespace {

using namespace platform::proc;
using namespace platform::session;

QByteArray statLine(const QByteArray& comm, const QByteArray& ppid = "1",
                    const QByteArray& pgrp = "4242", const QByteArray& start = "2017342") {
    return "4243 (" + comm + ") S " + ppid + " " + pgrp +
           " 23170 0 -1 4194304 99 0 0 0 0 0 0 0 20 0 1 0 " + start +
           " 3133440 361 18446744073709551615 0 0 0 0 0 0 0 0 0 0 0 0 17 1 0 0 0 0 0\n";
}

TEST(StatParsing, PlainLineGivesParentGroupStartAndName) {
    const auto fields = parseStat(statLine("bash"));

    ASSERT_TRUE(fields);
    EXPECT_EQ(fields->parent, 1);
    EXPECT_EQ(fields->processGroup, 4242);
    EXPECT_EQ(fields->startTime, 2017342ULL);
    EXPECT_EQ(fields->name, "bash");
    EXPECT_EQ(fields->state, 'S');
}

TEST(StatParsing, NameWithSpacesAndParenthesesIsKeptWhole) {
    const auto fields = parseStat(statLine("a) (b) S 9 9 ("));

    ASSERT_TRUE(fields);
    EXPECT_EQ(fields->name, "a) (b) S 9 9 (");
    EXPECT_EQ(fields->parent, 1);
    EXPECT_EQ(fields->startTime, 2017342ULL);
}

TEST(StatParsing, NameWithNewlineIsKept) {
    const auto fields = parseStat(statLine("two\nlines"));

    ASSERT_TRUE(fields);
    EXPECT_EQ(fields->name, "two\nlines");
    EXPECT_EQ(fields->processGroup, 4242);
}

TEST(StatParsing, TruncatedLineGivesNothing) {
    const QByteArray line = statLine("bash");

    EXPECT_FALSE(parseStat(line.left(line.indexOf(" 2017342"))));
    EXPECT_FALSE(parseStat("4243 (bash) S 1 4242"));
    EXPECT_FALSE(parseStat("4243 (bash"));
    EXPECT_FALSE(parseStat(""));
}

TEST(StatParsing, NegativeIdsGiveNothing) {
    EXPECT_FALSE(parseStat(statLine("bash", "-1")));
    EXPECT_FALSE(parseStat(statLine("bash", "1", "-4242")));
    EXPECT_FALSE(parseStat(statLine("bash", "1", "4242", "-5")));
}

TEST(StatParsing, OverflowingOrMalformedNumbersGiveNothing) {
    EXPECT_FALSE(parseStat(statLine("bash", "2147483648")));
    EXPECT_FALSE(parseStat(statLine("bash", "1", "4242", "18446744073709551616")));
    EXPECT_FALSE(parseStat(statLine("bash", "+1")));
    EXPECT_FALSE(parseStat(statLine("bash", "1x")));
    EXPECT_TRUE(parseStat(statLine("bash", "1", "4242", "18446744073709551615")));
}

TEST(StatParsing, ClosingParenthesisBeforeOpeningGivesNothing) {
    EXPECT_FALSE(parseStat("4243 )bash( S 1 4242 0 0 0 0 0 0 0 0 0 0 0 0 0 0 1 0 5 0"));
}

TEST(EnvironmentParsing, FindsTheValueOfTheNamedVariable) {
    const QByteArray environ("HOME=/home/ada\0PATH=/usr/bin:/bin\0LANG=C.UTF-8\0", 47);

    EXPECT_EQ(environmentValue(environ, "PATH"), QByteArray("/usr/bin:/bin"));
    EXPECT_EQ(environmentValue(environ, "HOME"), QByteArray("/home/ada"));
}

TEST(EnvironmentParsing, NameThatPrefixesAnotherVariableDoesNotMatchIt) {
    const QByteArray environ("FOOBAR=1\0FOO_X=2\0", 17);

    EXPECT_FALSE(environmentValue(environ, "FOO"));
    EXPECT_FALSE(environmentValue(environ, "FOOBAR=1"));
    EXPECT_EQ(environmentValue(environ, "FOOBAR"), QByteArray("1"));
}

TEST(EnvironmentParsing, LastEntryWithoutNulIsRead) {
    EXPECT_EQ(environmentValue(QByteArray("A=1\0B=two", 9), "B"), QByteArray("two"));
}

TEST(EnvironmentParsing, EmptyValueIsPresentAndEmpty) {
    const auto value = environmentValue(QByteArray("A=\0B=2\0", 7), "A");

    ASSERT_TRUE(value);
    EXPECT_TRUE(value->isEmpty());
}

TEST(EnvironmentParsing, ValueKeepsItsEqualsSigns) {
    EXPECT_EQ(environmentValue("X=a=b=c", "X"), QByteArray("a=b=c"));
}

TEST(EnvironmentParsing, FirstOfRepeatedEntriesWins) {
    EXPECT_EQ(environmentValue(QByteArray("A=1\0A=2\0", 8), "A"), QByteArray("1"));
}

TEST(EnvironmentParsing, NamesThatAreNoVariableNamesMatchNothing) {
    const QByteArray environ("=x\0A=B=C\0", 9);

    EXPECT_FALSE(environmentValue(environ, ""));
    EXPECT_FALSE(environmentValue(environ, "A=B"));
    EXPECT_FALSE(environmentValue(environ, QByteArray("A\0", 2)));
}

TEST(CommandLineParsing, SplitsAtNulsAndKeepsEmptyWords) {
    EXPECT_EQ(parseCommandLine(QByteArray("term\0--tab\0\0x y\0", 16)),
              QStringList({"term", "--tab", "", "x y"}));
    EXPECT_EQ(parseCommandLine(QByteArray("unterminated")), QStringList({"unterminated"}));
    EXPECT_TRUE(parseCommandLine({}).isEmpty());
}

TEST(DisplayNames, SpellingsOfOneServerResolveAsXlibResolvesThem) {
    const QList<QByteArray> localNames{"workstation", "10.0.0.7"};
    const DisplayAddress zero{DisplayAddress::Kind::local, 0, {}, {}};
    for (const QByteArray name : {":0",
                                  ":0.0",
                                  ":0.1",
                                  "unix:0",
                                  "unix:0.1",
                                  "unix/:0",
                                  "unix/elsewhere:0",
                                  "localhost:0",
                                  "LOCALHOST.:0",
                                  "x.localhost:0",
                                  "tcp/localhost:0",
                                  "inet/127.0.0.1:0",
                                  "127.0.0.1:0",
                                  "127.1:0",
                                  "127.0.1.1:0",
                                  "0.0.0.0:0",
                                  "[::1]:0",
                                  "::1:0",
                                  "[::ffff:127.0.0.1]:0",
                                  "workstation:0",
                                  "10.0.0.7:0",
                                  "/tmp/.X11-unix/X0",
                                  "/tmp/.X11-unix/X0.1",
                                  ": 0",
                                  ":+0",
                                  ":00"}) {
        EXPECT_EQ(resolveDisplayName(name, localNames), zero) << name.constData();
    }
    EXPECT_EQ(resolveDisplayName(":1", localNames)->number, 1);
    EXPECT_EQ(resolveDisplayName("/tmp/.X11-unix/X12", localNames)->number, 12);
    const std::optional<DisplayAddress> remote = resolveDisplayName("far.example:0", localNames);
    EXPECT_EQ(remote->kind, DisplayAddress::Kind::remote);
    EXPECT_EQ(remote->host, "far.example");
    EXPECT_EQ(resolveDisplayName("10.0.0.8:0", localNames)->kind, DisplayAddress::Kind::remote);
    // A socket elsewhere is identified by who listens on it, not by its name.
    const std::optional<DisplayAddress> socket = resolveDisplayName("/home/u/x", localNames);
    EXPECT_EQ(socket->kind, DisplayAddress::Kind::socket);
    EXPECT_EQ(socket->path, "/home/u/x");
    EXPECT_EQ(resolveDisplayName("/tmp/.X11-unix/X+0", localNames)->kind,
              DisplayAddress::Kind::socket);
    // What Xlib refuses to connect to.
    for (const QByteArray name : {"", ":", "0", ":x", ":0.", ":0.x", ":0.1.2", "tcp/:0", "foo/:0",
                                  "foo/host:0", ":-1", ":99999999999", "host"}) {
        EXPECT_FALSE(resolveDisplayName(name, localNames)) << name.constData();
    }
    EXPECT_FALSE(resolveDisplayName(QByteArray(":0\0:1", 5), localNames));
}

TEST(DisplayNames, TheKernelNamesTheListenerOfASocket) {
    const QByteArray path =
        QFile::encodeName(QDir::tempPath()) + "/vaultine-display-" + QByteArray::number(::getpid());
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), path.size());
    ::unlink(path.constData());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);

    const std::optional<DisplayServer> server =
        readDisplayServer(*resolveDisplayName(path + ".1", {}));
    ::close(listener);
    ::unlink(path.constData());
    ASSERT_TRUE(server);
    EXPECT_EQ(server->pid, ::getpid());
    EXPECT_EQ(server->owner, ::getuid());
    EXPECT_FALSE(readDisplayServer(*resolveDisplayName(path, {})));
    EXPECT_FALSE(readDisplayServer(*resolveDisplayName("far.example:0", {})));
}

TEST(SessionMarks, AnotherSessionOnlyWhenTheKernelOrAnotherLoginsServerSaysSo) {
    constexpr uid_t user = 1000;
    const auto display = [](const QByteArray& name) { return resolveDisplayName(name, {}); };
    const DisplayServer ownServer{100, 0, 2, false};
    const SessionMarks ours{display(":0"), 3, ownServer};
    const auto on = [&](const QByteArray& name, std::optional<unsigned> audit,
                        std::optional<DisplayServer> server) {
        return isSameSession(ours, {display(name), audit, server}, user);
    };
    // Our display, however written: ours whatever the login session (a bus-activated service).
    EXPECT_TRUE(on("unix:0.0", 7, std::nullopt));
    EXPECT_TRUE(on("/run/link-to-our-socket", 7, ownServer));
    // No display, or one that nothing here serves: the kernel's login session tells.
    EXPECT_FALSE(on("", 7, std::nullopt));
    EXPECT_TRUE(on("", 3, std::nullopt));
    EXPECT_TRUE(on("", std::nullopt, std::nullopt));
    EXPECT_TRUE(on(":5", 3, std::nullopt));
    EXPECT_FALSE(on("far.example:0", 7, std::nullopt));
    EXPECT_TRUE(isSameSession({display(":0"), std::nullopt, ownServer}, {{}, 7, {}}, user));
    // A nested server started from this session, or by the user's own systemd: its clients too.
    EXPECT_TRUE(on(":5", 3, DisplayServer{200, user, 3, false}));
    EXPECT_TRUE(on(":5", 3, DisplayServer{200, user, std::nullopt, false}));
    EXPECT_TRUE(on(":5", 3, DisplayServer{200, user, 9, true}));
    EXPECT_TRUE(isSameSession({display(":0"), std::nullopt, ownServer},
                              {display(":5"), std::nullopt, DisplayServer{200, user, 9, false}},
                              user));
    // Another login's server: a display manager's, another user's, or ours of another login.
    EXPECT_FALSE(on(":1", 3, DisplayServer{300, 0, 2, false}));
    EXPECT_FALSE(on(":1", 3, DisplayServer{300, 1001, std::nullopt, false}));
    EXPECT_FALSE(on(":1", 3, DisplayServer{300, user, 9, false}));

    EXPECT_FALSE(needsDisplayServer(ours, {display("localhost:0"), {}, {}}));
    EXPECT_FALSE(needsDisplayServer(ours, {display("far.example:1"), {}, {}}));
    EXPECT_TRUE(needsDisplayServer(ours, {display(":1"), {}, {}}));
    EXPECT_TRUE(needsDisplayServer(ours, {display("/home/u/x"), {}, {}}));
}

TEST(CgroupParsing, UnifiedHierarchyNamesTheUnit) {
    EXPECT_EQ(parseCgroupLeaf("0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
                              "app-gnome-firefox-1234.scope\n"),
              "app-gnome-firefox-1234.scope");
}

TEST(CgroupParsing, SystemdHierarchyStandsInWhenTheUnifiedOneIsTheRoot) {
    const QByteArray cgroups =
        "9:name=systemd:/user.slice/user-1000.slice/session-2.scope\n8:pids:/\n"
        "4:memory:/user.slice\n0::/\n";

    EXPECT_EQ(parseCgroupLeaf(cgroups), "session-2.scope");
}

TEST(CgroupParsing, UnifiedHierarchyWinsOverTheSystemdOne) {
    EXPECT_EQ(parseCgroupLeaf("1:name=systemd:/user.slice/a.scope\n0::/user.slice/b.scope\n"),
              "b.scope");
}

TEST(CgroupParsing, RemovedCgroupStillNamesTheUnit) {
    EXPECT_EQ(parseCgroupLeaf("0::/app.slice/app-gnome-gedit-77.scope (deleted)\n"),
              "app-gnome-gedit-77.scope");
}

TEST(CgroupParsing, RootOrUnknownShapesGiveNothing) {
    EXPECT_EQ(parseCgroupLeaf("0::/\n"), "");
    EXPECT_EQ(parseCgroupLeaf(""), "");
    EXPECT_EQ(parseCgroupLeaf("garbage"), "");
}

TEST(FlatpakInfoParsing, GivesTheApplicationName) {
    EXPECT_EQ(parseFlatpakInfo("[Application]\nname=org.gnome.Calculator\n"
                               "runtime=runtime/org.gnome.Platform/x86_64/45\n\n"
                               "[Instance]\ninstance-id=1234\n"),
              "org.gnome.Calculator");
}

TEST(FlatpakInfoParsing, RuntimeOrBrokenFilesGiveNothing) {
    EXPECT_EQ(parseFlatpakInfo("[Runtime]\nname=org.gnome.Platform\n"), "");
    EXPECT_EQ(parseFlatpakInfo("name=org.gnome.Calculator\n"), "");
    EXPECT_EQ(parseFlatpakInfo(QByteArray("[Application]\nname=a\0b\n", 23)), "");
    EXPECT_EQ(parseFlatpakInfo(""), "");
}

TEST(ExecutableLinks, DeletedMarkIsDropped) {
    EXPECT_EQ(executableOfLink("/usr/bin/gedit (deleted)"), "/usr/bin/gedit");
    EXPECT_EQ(executableOfLink("/usr/bin/gedit"), "/usr/bin/gedit");
}

TEST(SystemdUnitNames, ScopeWithLauncherGivesTheIdWithoutAndWithTheLauncher) {
    EXPECT_EQ(applicationIdsOfUnit("app-gnome-firefox-1234.scope"),
              std::vector<QString>({"firefox", "gnome-firefox"}));
}

TEST(SystemdUnitNames, ServiceWithoutLauncherGivesTheId) {
    EXPECT_EQ(applicationIdsOfUnit("app-org.gnome.Terminal@8f2c.service"),
              std::vector<QString>({"org.gnome.Terminal"}));
}

TEST(SystemdUnitNames, EscapedDashesBelongToTheId) {
    EXPECT_EQ(applicationIdsOfUnit("app-gnome-my\\x2dtool-77.scope"),
              std::vector<QString>({"my-tool", "gnome-my-tool"}));
}

TEST(SystemdUnitNames, EscapedUtf8BytesGiveTheirCharacter) {
    EXPECT_EQ(applicationIdsOfUnit("app-caf\\xc3\\xa9-5.scope"), std::vector<QString>({"café"}));
}

TEST(SystemdUnitNames, BrokenEscapesStayAsTheyAre) {
    EXPECT_EQ(applicationIdsOfUnit("app-a\\x+1-5.scope"), std::vector<QString>({"a\\x+1"}));
    EXPECT_EQ(applicationIdsOfUnit("app-a\\x00-5.scope"), std::vector<QString>({"a\\x00"}));
}

TEST(SystemdUnitNames, OtherUnitsAreNoApplication) {
    EXPECT_TRUE(applicationIdsOfUnit("session-2.scope").empty());
    EXPECT_TRUE(applicationIdsOfUnit("app-.scope").empty());
    EXPECT_TRUE(applicationIdsOfUnit("app-x.mount").empty());
    EXPECT_TRUE(applicationIdsOfUnit("").empty());
}

TEST(SnapCgroups, NewScopeNamesGiveTheDesktopId) {
    EXPECT_EQ(snapDesktopIdOfCgroup("snap.firefox.firefox.4b1c9a2e-1f.scope"), "firefox_firefox");
}

TEST(SnapCgroups, OlderScopeNamesDropThePid) {
    EXPECT_EQ(snapDesktopIdOfCgroup("snap.gimp.gimp-4321.scope"), "gimp_gimp");
}

TEST(SnapCgroups, UuidSuffixedScopeNamesDropTheUuid) {
    EXPECT_EQ(
        snapDesktopIdOfCgroup("snap.firefox.firefox-0c6d3a9a-1b43-4a3f-9a84-9bd8d3a7b8c3.scope"),
        "firefox_firefox");
    EXPECT_EQ(
        snapDesktopIdOfCgroup("snap.firefox.firefox-0c6d3a9a-1b43-4a3f-9a84-123456789012.scope"),
        "firefox_firefox");
}

TEST(SnapCgroups, ApplicationNameEndingInANonNumberIsKept) {
    EXPECT_EQ(snapDesktopIdOfCgroup("snap.tool.tool-x2.scope"), "tool_tool-x2");
    EXPECT_EQ(snapDesktopIdOfCgroup("snap.tool.tool-+2.scope"), "tool_tool-+2");
}

TEST(SnapCgroups, OtherCgroupsAreNoSnap) {
    EXPECT_EQ(snapDesktopIdOfCgroup("app-gnome-firefox-1234.scope"), "");
    EXPECT_EQ(snapDesktopIdOfCgroup("snap..x.scope"), "");
}

TEST(ProcessFiles, OwnStatusIsRead) {
    const auto status = readStatus(::getpid());

    ASSERT_TRUE(status);
    EXPECT_EQ(status->parent, ::getppid());
    EXPECT_EQ(status->processGroup, ::getpgrp());
    EXPECT_EQ(status->owner, ::geteuid());
    EXPECT_FALSE(status->executable.isEmpty());
    EXPECT_EQ(readStartTime(::getpid()), status->startTime);
}

TEST(ProcessFiles, OwnEnvironmentValueIsFound) {
    ASSERT_EQ(::setenv("VAULTINE_UNSEEN_LATER", "1", 1), 0);

    // The initial environment is what /proc shows; a variable set later is not in it.
    EXPECT_FALSE(readEnvironmentValue(::getpid(), "VAULTINE_UNSEEN_LATER"));
    EXPECT_TRUE(readEnvironmentValue(::getpid(), "PATH").has_value());
}

TEST(ProcessFiles, EnvironmentCutAtTheReadLimitHidesTheCutVariable) {
    // Eight entries of 127004 bytes, then one that the 1 MiB read limit cuts in its value.
    QProcessEnvironment environment;
    for (int i = 0; i < 8; ++i)
        environment.insert(QStringLiteral("A%1").arg(i), QString(127000, QLatin1Char('x')));
    environment.insert(QStringLiteral("B"), QString(40000, QLatin1Char('y')));
    QProcess child;
    child.setProcessEnvironment(environment);
    child.start(QStringLiteral("/bin/sleep"), {QStringLiteral("30")});
    ASSERT_TRUE(child.waitForStarted());

    const auto before = readEnvironmentValue(child.processId(), "A7");
    const auto cut = readEnvironmentValue(child.processId(), "B");
    child.kill();
    child.waitForFinished();

    ASSERT_TRUE(before);
    EXPECT_EQ(before->size(), 127000);
    EXPECT_FALSE(cut);
}

TEST(ProcessFiles, StoppedProcessIsToldFromARunningOne) {
    QProcess child;
    child.start(QStringLiteral("/bin/sleep"), {QStringLiteral("30")});
    ASSERT_TRUE(child.waitForStarted());
    const pid_t pid = static_cast<pid_t>(child.processId());

    const auto isStopped = [](pid_t pid) {
        const auto fields = readStatFields(pid);
        return fields && fields->state == 'T';
    };
    const bool runningAtFirst = isStopped(pid);
    ::kill(pid, SIGSTOP);
    bool stopped = false;
    for (int attempt = 0; attempt < 200 && !stopped; ++attempt) {
        stopped = isStopped(pid);
        if (!stopped)
            ::usleep(5000);
    }
    ::kill(pid, SIGCONT);
    child.kill();
    child.waitForFinished();

    EXPECT_FALSE(runningAtFirst);
    EXPECT_TRUE(stopped);
    EXPECT_FALSE(isStopped(pid));
}

TEST(ProcessFiles, ASocketBesidesTheStandardStreamsMayBeADisplayConnection) {
    QProcess plain;
    plain.start(QStringLiteral("/bin/sleep"), {QStringLiteral("30")});
    ASSERT_TRUE(plain.waitForStarted());
    EXPECT_FALSE(
        platform::proc::holdsSocketsBeyondStandardStreams(static_cast<pid_t>(plain.processId())));
    QProcess connected;
    connected.start(QStringLiteral("/usr/bin/python3"),
                    {QStringLiteral("-c"), QStringLiteral("import socket, time\n"
                                                          "s = socket.socket(socket.AF_UNIX)\n"
                                                          "print('ready', flush=True)\n"
                                                          "time.sleep(30)\n")});
    ASSERT_TRUE(connected.waitForReadyRead(10000));
    EXPECT_TRUE(platform::proc::holdsSocketsBeyondStandardStreams(
        static_cast<pid_t>(connected.processId())));
    // Nothing to read, nothing known: it may be connected.
    EXPECT_TRUE(platform::proc::holdsSocketsBeyondStandardStreams(1 << 30));
    plain.kill();
    connected.kill();
    plain.waitForFinished();
    connected.waitForFinished();
}

// As an ordinary user (nobody, when the test runs as root): a child of ours that made itself
// non-dumpable is told from one that did not.
TEST(ProcessFiles, AnUndumpableProcessOfOursIsToldFromADumpableOne) {
    const pid_t tester = ::fork();
    if (tester == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(2);
        int told = 0;
        for (const bool closed : {false, true}) {
            int ready[2];
            if (::pipe(ready) != 0)
                ::_exit(2);
            const pid_t child = ::fork();
            if (child == 0) {
                ::prctl(PR_SET_DUMPABLE, closed ? 0 : 1, 0, 0, 0);
                ::close(ready[0]);
                ::close(ready[1]);
                ::pause();
                ::_exit(0);
            }
            ::close(ready[1]);
            char byte = 0;
            (void)::read(ready[0], &byte, 1);
            ::close(ready[0]);
            told += isUndumpableOfOurs(child) == closed ? 1 : 0;
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
        }
        ::_exit(told == 2 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(tester, &status, 0), tester);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(ProcessFiles, APseudoTerminalIsKnownOnTheShellsSideAndItsHoldersSide) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const int index = QByteArray(::ptsname(master)).mid(9).toInt();
    EXPECT_TRUE(platform::proc::holdsPseudoTerminalMaster(::getpid(), index));
    EXPECT_FALSE(platform::proc::holdsPseudoTerminalMaster(::getpid(), index + 1));
    ::close(master);
    EXPECT_FALSE(platform::proc::holdsPseudoTerminalMaster(::getpid(), index));

    EXPECT_EQ(platform::proc::parseTerminalIndex("pos:\t0\nflags:\t02\ntty-index:\t7\n"), 7);
    EXPECT_FALSE(platform::proc::parseTerminalIndex("pos:\t0\nflags:\t02\n"));
    EXPECT_FALSE(platform::proc::parseTerminalIndex("tty-index:\t-3\n"));
}

TEST(LoaderCommandLines, TheProgramIsTheFirstWordAfterTheLoadersOptions) {
    EXPECT_EQ(programOfLoaderCommandLine({"/lib64/ld-linux-x86-64.so.2", "/usr/bin/xterm", "-e"}),
              "/usr/bin/xterm");
    EXPECT_EQ(programOfLoaderCommandLine({"ld.so", "--library-path", "/tmp", "--inhibit-cache",
                                          "--argv0", "zz", "bin/xterm"}),
              "bin/xterm");
    EXPECT_EQ(programOfLoaderCommandLine({"ld.so", "--argv0"}), "");
    EXPECT_EQ(programOfLoaderCommandLine({}), "");
    EXPECT_TRUE(isDynamicLoader("/usr/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2"));
    EXPECT_FALSE(isDynamicLoader("/usr/bin/ld"));
}

TEST(ProcessFiles, AProgramRunThroughTheLoaderIsThatProgram) {
    const QString loader = QStringLiteral("/lib64/ld-linux-x86-64.so.2");
    QProcess child;
    child.setWorkingDirectory(QStringLiteral("/bin"));
    child.start(loader, {QStringLiteral("--inhibit-cache"), QStringLiteral("./sleep"),
                         QStringLiteral("30")});
    ASSERT_TRUE(child.waitForStarted());
    const pid_t pid = static_cast<pid_t>(child.processId());

    const QString executable = readExecutable(pid);
    const QString image = readProgramImagePath(pid);
    child.kill();
    child.waitForFinished();

    EXPECT_EQ(executable, QStringLiteral("/usr/bin/sleep"));
    EXPECT_EQ(image, QStringLiteral("/usr/bin/sleep"));
    EXPECT_EQ(readProgramImagePath(::getpid()), QStringLiteral("/proc/%1/exe").arg(::getpid()));
}

TEST(ProcessFiles, AProcessOfACopyOfTheLoaderIsTheProgramTheLoaderRuns) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    // Named like no loader, and one byte longer than the system's: its build-id tells.
    const QString copy = folder.filePath(QStringLiteral("ld"));
    ASSERT_TRUE(QFile::copy(QStringLiteral("/lib64/ld-linux-x86-64.so.2"), copy));
    QFile appended(copy);
    ASSERT_TRUE(appended.open(QIODevice::Append));
    appended.write("x");
    appended.close();
    QProcess child;
    child.start(copy, {QStringLiteral("/bin/sleep"), QStringLiteral("30")});
    ASSERT_TRUE(child.waitForStarted());
    const pid_t pid = static_cast<pid_t>(child.processId());

    const QString executable = readExecutable(pid);
    const QString image = readProgramImagePath(pid);
    child.kill();
    child.waitForFinished();

    EXPECT_EQ(executable, QStringLiteral("/usr/bin/sleep"));
    EXPECT_EQ(image, QStringLiteral("/usr/bin/sleep"));
}

TEST(ProcessFiles, VanishedProcessGivesNothing) {
    const pid_t absent = 0x3ffffff0;

    EXPECT_FALSE(readStatus(absent));
    EXPECT_FALSE(readStartTime(absent));
    EXPECT_EQ(readExecutable(absent), "");
    EXPECT_FALSE(readEnvironmentValue(absent, "PATH"));
    EXPECT_EQ(readCgroupLeaf(absent), "");
    EXPECT_EQ(readFlatpakApplication(absent), "");
}

TEST(ProcessFiles, ListIncludesThisProcess) {
    const std::vector<pid_t> pids = listProcesses();

    EXPECT_TRUE(std::binary_search(pids.begin(), pids.end(), ::getpid()));
}

// A minimal ELF file of one class and byte order: a header, one PT_NOTE program header and its
// notes, the build-id after another note; no section headers.
template <typename Ehdr, typename Phdr>
QByteArray elfImage(unsigned char fileClass, bool bigEndian, const QByteArray& buildId) {
    const auto put = [bigEndian](QByteArray& bytes, qsizetype at, quint64 value, int size) {
        for (int index = 0; index < size; ++index) {
            const int shift = 8 * (bigEndian ? size - 1 - index : index);
            bytes[at + index] = static_cast<char>((value >> shift) & 0xff);
        }
    };
    const auto note = [&](quint32 type, const QByteArray& name, const QByteArray& descriptor) {
        QByteArray bytes(12, '\0');
        put(bytes, 0, quint64(name.size()), 4);
        put(bytes, 4, quint64(descriptor.size()), 4);
        put(bytes, 8, type, 4);
        const auto padded = [](QByteArray piece) {
            while (piece.size() % 4)
                piece.append('\0');
            return piece;
        };
        return bytes + padded(name) + padded(descriptor);
    };
    const QByteArray notes = note(1, QByteArray("GNU\0", 4), QByteArray(16, '\1')) +
                             note(NT_GNU_BUILD_ID, QByteArray("GNU\0", 4), buildId);
    QByteArray image(sizeof(Ehdr) + sizeof(Phdr), '\0');
    std::memcpy(image.data(), ELFMAG, SELFMAG);
    image[EI_CLASS] = static_cast<char>(fileClass);
    image[EI_DATA] = bigEndian ? ELFDATA2MSB : ELFDATA2LSB;
    image[EI_VERSION] = EV_CURRENT;
    put(image, offsetof(Ehdr, e_phoff), sizeof(Ehdr), sizeof(Ehdr::e_phoff));
    put(image, offsetof(Ehdr, e_phentsize), sizeof(Phdr), 2);
    put(image, offsetof(Ehdr, e_phnum), 1, 2);
    const qsizetype program = sizeof(Ehdr);
    put(image, program + offsetof(Phdr, p_type), PT_NOTE, 4);
    put(image, program + offsetof(Phdr, p_offset), quint64(image.size()), sizeof(Phdr::p_offset));
    put(image, program + offsetof(Phdr, p_filesz), quint64(notes.size()), sizeof(Phdr::p_filesz));
    put(image, program + offsetof(Phdr, p_align), 4, sizeof(Phdr::p_align));
    return image + notes;
}

TEST(ElfBuildIds, BothClassesAndByteOrdersGiveTheNoteAndWhereItLies) {
    const QByteArray id = QByteArray::fromHex("00112233445566778899aabbccddeeff01234567");
    for (const QByteArray& image : {elfImage<Elf64_Ehdr, Elf64_Phdr>(ELFCLASS64, false, id),
                                    elfImage<Elf64_Ehdr, Elf64_Phdr>(ELFCLASS64, true, id),
                                    elfImage<Elf32_Ehdr, Elf32_Phdr>(ELFCLASS32, false, id),
                                    elfImage<Elf32_Ehdr, Elf32_Phdr>(ELFCLASS32, true, id)}) {
        const auto found = platform::elf::buildIdOfImage(image);
        ASSERT_TRUE(found);
        EXPECT_EQ(found->bytes, id);
        EXPECT_EQ(image.mid(qsizetype(found->offset), id.size()), id);
    }
}

TEST(ElfBuildIds, TruncatedMalformedOrForeignFilesHaveNone) {
    const QByteArray id = QByteArray::fromHex("0011223344556677");
    const QByteArray image = elfImage<Elf64_Ehdr, Elf64_Phdr>(ELFCLASS64, false, id);
    ASSERT_TRUE(platform::elf::buildIdOfImage(image));
    for (qsizetype length = 0; length < image.size(); ++length)
        EXPECT_FALSE(platform::elf::buildIdOfImage(image.left(length))) << length;
    const auto altered = [&image](qsizetype at, QByteArray bytes) {
        QByteArray copy = image;
        copy.replace(at, bytes.size(), bytes);
        return copy;
    };
    const qsizetype program = sizeof(Elf64_Ehdr);
    const qsizetype notes = program + sizeof(Elf64_Phdr);
    // Headers that count too many, a segment past the end, notes whose sizes overrun it, a build-id
    // longer than any, and another file's bytes.
    EXPECT_FALSE(platform::elf::buildIdOfImage(
        altered(offsetof(Elf64_Ehdr, e_phnum), QByteArray("\xff\xff", 2))));
    EXPECT_FALSE(platform::elf::buildIdOfImage(
        altered(program + offsetof(Elf64_Phdr, p_offset), QByteArray(8, '\xff'))));
    EXPECT_FALSE(platform::elf::buildIdOfImage(altered(notes, QByteArray(4, '\xff'))));
    EXPECT_FALSE(platform::elf::buildIdOfImage(altered(notes + 4, QByteArray(4, '\xff'))));
    EXPECT_FALSE(platform::elf::buildIdOfImage("#!/bin/sh\nexec xterm \"$@\"\n"));
    // A last note of another name whose padding the segment leaves out.
    QByteArray unpadded = elfImage<Elf64_Ehdr, Elf64_Phdr>(ELFCLASS64, false, "12345");
    unpadded.replace(unpadded.lastIndexOf("GNU"), 3, "GNX");
    unpadded.chop(3);
    unpadded[program + offsetof(Elf64_Phdr, p_filesz)] = static_cast<char>(unpadded.size() - notes);
    EXPECT_FALSE(platform::elf::buildIdOfImage(unpadded));
    QByteArray longId = elfImage<Elf64_Ehdr, Elf64_Phdr>(ELFCLASS64, false, QByteArray(80, 'i'));
    EXPECT_FALSE(platform::elf::buildIdOfImage(longId));
}

TEST(ElfBuildIds, AnInstalledProgramAndItsCopiesHaveOneBuildId) {
    const auto installed = platform::elf::readBuildId(QStringLiteral("/bin/true"));
    ASSERT_TRUE(installed);
    QFile file(QStringLiteral("/bin/true"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QByteArray copy = file.readAll();
    copy.append('x');
    copy[copy.size() / 2] = static_cast<char>(~copy[copy.size() / 2]);

    EXPECT_EQ(platform::elf::buildIdOfImage(copy)->bytes, installed->bytes);
}

}  // namespace
