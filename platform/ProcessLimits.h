// The limits of our own process that its protection depends on: enough descriptors that the
// processes and files of the session cannot use up those it needs to record a lock, and no other
// program of the user attaching to it.
#pragma once

namespace platform {

// Raises the soft limit of open descriptors to the hard one; false when it stays lower.
bool raiseDescriptorLimit();

// Makes the process non-dumpable: attaching to it (a debugger, strace), reading or writing its
// memory through /proc and dumping its core (the password) then take CAP_SYS_PTRACE, which a
// user's programs do not have. Kept until the process ends: it starts other programs only in
// children, whose exec makes them dumpable again.
// False when the kernel refused.
bool closeToTracers();

}  // namespace platform
