// The claim that makes a program the only running instance of its bundle: each program claims its
// bundle identifier at start and exits at once when another process holds it.
#pragma once

#include <QString>
#include <memory>

#include "platform/Installable.h"

namespace platform {

class SingleInstance : public Installable<SingleInstance> {
  public:
    virtual ~SingleInstance() = default;

    // The session-bus claim (platform/linux).
    static std::unique_ptr<SingleInstance> createDefault();

    // Claims the identifier for this process until it exits. False only when another process
    // holds it; without a session bus there is nobody to race with and the claim succeeds.
    virtual bool claim(const QString& bundleIdentifier) = 0;
};

}  // namespace platform
