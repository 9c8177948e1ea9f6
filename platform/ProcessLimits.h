// The limits of our own process that its protection depends on: enough descriptors that the
// processes and files of the session cannot use up those it needs to record a lock.
#pragma once

namespace platform {

// Raises the soft limit of open descriptors to the hard one; false when it stays lower.
bool raiseDescriptorLimit();

}  // namespace platform
