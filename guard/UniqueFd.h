// An owned file descriptor of the guard (fanotify, sockets, pidfds, files): closed when the owner
// goes, movable, never copied.
#pragma once

#include <unistd.h>

#include <utility>

namespace guard {

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int descriptor) : fd(descriptor) {}
    UniqueFd(UniqueFd&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other)
            reset(std::exchange(other.fd, -1));
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return fd; }
    explicit operator bool() const { return fd >= 0; }
    void reset(int descriptor = -1) {
        if (fd >= 0)
            ::close(fd);
        fd = descriptor;
    }

  private:
    int fd = -1;
};

}  // namespace guard
