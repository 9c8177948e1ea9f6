// One user's policy as the guard keeps it: the password's verifier, the locked programs, the
// switches and the released runs; its text form, parsed defensively, and the raise/lower rules.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "guard/GuardProtocol.h"

namespace guard {

inline constexpr std::size_t kMaxPrograms = 512;
inline constexpr std::size_t kMaxReleasedRuns = 4096;
inline constexpr std::size_t kMaxBuildId = 64;

struct LockedProgram {
    std::string path;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::string buildId;  // raw bytes of the ELF build-id note, empty when the file has none
    bool operator==(const LockedProgram&) const = default;
};

struct Run {
    std::uint32_t pid = 0;
    std::uint64_t startTime = 0;
    bool operator==(const Run&) const = default;
};

struct Policy {
    std::string verifier;  // crypto_pwhash_str output; empty until a password is enrolled
    std::uint32_t switches = protocol::kProtection;
    std::vector<LockedProgram> programs;
    std::vector<Run> releasedRuns;
    bool operator==(const Policy&) const = default;

    bool protects() const { return (switches & protocol::kProtection) && !programs.empty(); }
    bool isReleased(const Run& run) const;
};

std::string serializePolicy(const Policy& policy);
// None for anything but a well-formed policy within the limits above.
std::optional<Policy> parsePolicy(std::string_view text);

// Argon2id through libsodium, interactive limits; an empty string when hashing fails.
std::string makeVerifier(std::string_view password);
bool verifyPassword(const std::string& verifier, std::string_view password);

// Identifies the program a path names now (device, inode, build-id); none when it cannot be read.
using ProgramLookup = std::function<std::optional<LockedProgram>(const std::string& path)>;

// Applies a change to the policy. A raise needs only a genuine Vaultine (checked by the caller);
// a lowering change needs passwordVerified, the current password checked against the verifier.
protocol::Status applyPolicyUpdate(Policy& policy, const protocol::PolicyUpdate& update,
                                   bool passwordVerified, const ProgramLookup& lookup);

}  // namespace guard
