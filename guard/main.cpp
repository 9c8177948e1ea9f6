// vaultine-guard: the system service that holds locked launches in the kernel and keeps each
// user's policy out of that user's reach. Runs as root; see README.md, "The system guard".
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "guard/GuardServer.h"
#include "guard/PolicyStore.h"

namespace {

struct Arguments {
    guard::GuardOptions options;
    std::optional<std::string> forget;
};

std::optional<Arguments> parseArguments(int argc, char** argv) {
    Arguments arguments;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (i + 1 >= argc)
            return std::nullopt;
        const std::string value = argv[++i];
        if (option == "--state-dir")
            arguments.options.stateDirectory = value;
        else if (option == "--runtime-dir")
            arguments.options.runtimeDirectory = value;
        else if (option == "--forget")
            arguments.forget = value;
        else
            return std::nullopt;
    }
    return arguments;
}

std::optional<uid_t> uidOfUser(const std::string& user) {
    if (const passwd* entry = ::getpwnam(user.c_str()))
        return entry->pw_uid;
    char* end = nullptr;
    const unsigned long uid = std::strtoul(user.c_str(), &end, 10);
    if (user.empty() || *end != '\0' || uid > 0xfffffffeUL)
        return std::nullopt;
    return static_cast<uid_t>(uid);
}

// The build tree's guard trusts the build tree's bundle beside it; any other, the installed one.
std::string trustedExecutable() {
    char self[4096] = {};
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length > 0 && std::string_view(self, length) == VAULTINE_GUARD_BUILD_PROGRAM)
        return VAULTINE_GUARD_BUILD_TRUSTED;
    return VAULTINE_GUARD_INSTALLED_TRUSTED;
}

int forget(const guard::GuardOptions& options, const std::string& user) {
    const auto uid = uidOfUser(user);
    if (!uid || !guard::PolicyStore(options.stateDirectory).forget(*uid)) {
        std::fprintf(stderr, "vaultine-guard: cannot forget the policy of %s\n", user.c_str());
        return 1;
    }
    // A running guard sees the file go and drops the policy too.
    std::printf("vaultine-guard: forgot the policy of %s (uid %u)\n", user.c_str(), *uid);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    auto arguments = parseArguments(argc, argv);
    if (!arguments) {
        std::fprintf(stderr,
                     "usage: vaultine-guard [--state-dir DIR] [--runtime-dir DIR] "
                     "[--forget USER]\n");
        return 2;
    }
    if (arguments->forget)
        return forget(arguments->options, *arguments->forget);
    // SIGTERM and SIGINT end the loop through its signalfd; blocked before the password worker's
    // thread starts, so that none of them ends the guard without its orderly stop.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    arguments->options.trustedExecutable = trustedExecutable();
    // The record of frozen runs lives beside the policies: a restarted guard thaws what it froze.
    guard::GuardServer server(
        arguments->options,
        guard::systemFreezer(
            guard::PolicyStore(arguments->options.stateDirectory).pathOfOwn("frozen-runs")));
    if (!server.start())
        return 1;
    server.run();
    return 0;
}
