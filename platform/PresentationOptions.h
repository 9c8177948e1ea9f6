// The program-wide presentation options: while the lock screen's options are set, the guarded lock
// window holds the keyboard and the pointer (see platform/WindowGuard.h); 0 gives them back.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/Installable.h"

namespace platform {

class PresentationOptions : public Installable<PresentationOptions> {
  public:
    using Options = std::uint32_t;
    using ObserverId = std::uint64_t;
    using Handler = std::function<void(Options)>;

    static constexpr Options defaultOptions = 0;
    static constexpr Options autoHideDock = 0x1;
    static constexpr Options disableProcessSwitching = 0x20;
    static constexpr Options disableForceQuit = 0x40;
    static constexpr Options disableHideApplication = 0x100;
    // What the lock screen sets: 0x161.
    static constexpr Options lockScreenOptions =
        disableForceQuit | autoHideDock | disableProcessSwitching | disableHideApplication;

    virtual ~PresentationOptions() = default;
    // The process-wide value that the Linux window guards observe.
    static std::unique_ptr<PresentationOptions> createDefault();

    virtual void setPresentationOptions(Options options) = 0;
    virtual Options presentationOptions() const = 0;
    // The handler runs after every set, with the new value, on the calling thread.
    virtual ObserverId addObserver(Handler handler) = 0;
    // Unknown ids are ignored.
    virtual void removeObserver(ObserverId id) = 0;
};

}  // namespace platform
