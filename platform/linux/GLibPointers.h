// Owning pointers for the GLib and libsecret objects the platform library receives.
#pragma once

#include <glib-object.h>
#include <glib.h>

#include <memory>

namespace platform {

struct GErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
using GErrorPtr = std::unique_ptr<GError, GErrorFree>;

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct GFreeDeleter {
    void operator()(gpointer memory) const { g_free(memory); }
};
using GCharPtr = std::unique_ptr<gchar, GFreeDeleter>;

struct GKeyFileFree {
    void operator()(GKeyFile* keyFile) const { g_key_file_free(keyFile); }
};
using GKeyFilePointer = std::unique_ptr<GKeyFile, GKeyFileFree>;

// Receives a GError out-parameter: `func(..., error.out())`.
class GErrorSlot {
  public:
    GError** out() { return &raw; }
    GErrorPtr take() { return GErrorPtr(std::exchange(raw, nullptr)); }
    explicit operator bool() const { return raw != nullptr; }
    const char* message() const { return raw ? raw->message : ""; }
    ~GErrorSlot() {
        if (raw)
            g_error_free(raw);
    }

  private:
    GError* raw = nullptr;
};

}  // namespace platform
