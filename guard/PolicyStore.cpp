// Reads and writes policy files with bounded reads and no trust in what is found on disk.
#include "guard/PolicyStore.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <memory>

#include "guard/UniqueFd.h"

namespace guard {

namespace {

constexpr off_t kMaxFile = 4 * 1024 * 1024;

std::optional<std::string> readOwnFile(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat status {};
    if (!fd || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_uid != ::geteuid() || (status.st_mode & 077) || status.st_size > kMaxFile)
        return std::nullopt;
    std::string text(static_cast<std::size_t>(status.st_size), '\0');
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t count = ::read(fd.get(), text.data() + done, text.size() - done);
        if (count <= 0)
            return std::nullopt;
        done += static_cast<std::size_t>(count);
    }
    return text;
}

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t count = ::write(fd, text.data() + done, text.size() - done);
        if (count <= 0)
            return false;
        done += static_cast<std::size_t>(count);
    }
    return true;
}

bool syncFolder(const std::string& directory) {
    UniqueFd fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd && ::fsync(fd.get()) == 0;
}

std::optional<uid_t> uidOfName(const char* name) {
    unsigned long value = 0;
    const char* end = name + std::char_traits<char>::length(name);
    const auto [stop, error] = std::from_chars(name, end, value);
    if (error != std::errc() || stop != end || name == end || value > 0xfffffffeUL)
        return std::nullopt;
    return static_cast<uid_t>(value);
}

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

bool PolicyStore::prepare() const {
    if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat status {};
    return ::lstat(directory.c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
           status.st_uid == ::geteuid() && ::chmod(directory.c_str(), 0700) == 0;
}

std::optional<Policy> PolicyStore::load(uid_t uid) const {
    const auto text = readOwnFile(pathOf(uid));
    return text ? parsePolicy(*text) : std::nullopt;
}

std::map<uid_t, Policy> PolicyStore::loadAll() const {
    std::map<uid_t, Policy> policies;
    std::unique_ptr<DIR, DirCloser> dir(::opendir(directory.c_str()));
    while (dir) {
        const dirent* entry = ::readdir(dir.get());
        if (!entry)
            break;
        const auto uid = uidOfName(entry->d_name);
        if (!uid)
            continue;
        if (auto policy = load(*uid))
            policies.emplace(*uid, std::move(*policy));
    }
    return policies;
}

bool PolicyStore::save(uid_t uid, const Policy& policy) const {
    const std::string target = pathOf(uid), temporary = target + ".new";
    ::unlink(temporary.c_str());
    UniqueFd fd(
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    const bool written = fd && ::fchmod(fd.get(), 0600) == 0 &&
                         writeAll(fd.get(), serializePolicy(policy)) && ::fsync(fd.get()) == 0;
    fd.reset();
    if (!written || ::rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return syncFolder(directory);
}

bool PolicyStore::forget(uid_t uid) const {
    if (::unlink(pathOf(uid).c_str()) != 0 && errno != ENOENT)
        return false;
    return syncFolder(directory);
}

UniqueFd PolicyStore::watchRemovals() const {
    UniqueFd watch(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (watch && ::inotify_add_watch(watch.get(), directory.c_str(),
                                     IN_DELETE | IN_MOVED_FROM | IN_ONLYDIR) < 0)
        return {};
    return watch;
}

std::vector<uid_t> PolicyStore::readRemovals(int watch) {
    std::vector<uid_t> uids;
    alignas(inotify_event) std::array<char, 4096> buffer;
    ssize_t length = 0;
    while ((length = ::read(watch, buffer.data(), buffer.size())) > 0) {
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= length;) {
            inotify_event event;
            std::memcpy(&event, buffer.data() + at, sizeof event);
            const char* name = buffer.data() + at + sizeof event;
            const std::size_t room = static_cast<std::size_t>(length - at) - sizeof event;
            if (event.len > 0 && event.len <= room && ::memchr(name, '\0', event.len))
                if (const auto uid = uidOfName(name))
                    uids.push_back(*uid);
            at += static_cast<ssize_t>(sizeof event + event.len);
        }
    }
    return uids;
}

}  // namespace guard
