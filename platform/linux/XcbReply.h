// Ownership of the replies xcb allocates with malloc, freed with free.
#pragma once

#include <cstdlib>
#include <memory>

namespace platform::x11 {

template <typename T>
using XcbReply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
XcbReply<T> own(T* reply) {
    return XcbReply<T>(reply, &std::free);
}

}  // namespace platform::x11
