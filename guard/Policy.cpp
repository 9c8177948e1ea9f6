// A policy's text form: one record a line, every field free of spaces (paths and build-ids in hex),
// so that a parser which checks each field and each limit is all that stands between the file and
// the guard.
#include "guard/Policy.h"

#include <sodium.h>

#include <algorithm>
#include <charconv>

namespace guard {

namespace {

constexpr std::string_view kHeader = "vaultine-guard-policy 1";
constexpr std::size_t kMaxText = 4 * 1024 * 1024;

std::string toHex(std::string_view bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    for (const unsigned char byte : bytes) {
        out.push_back(digits[byte >> 4]);
        out.push_back(digits[byte & 15]);
    }
    return out.empty() ? "-" : out;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::optional<std::string> fromHex(std::string_view hex, std::size_t limit) {
    if (hex == "-")
        return std::string();
    if (hex.size() % 2 || hex.size() / 2 > limit)
        return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = hexDigit(hex[i]), low = hexDigit(hex[i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        out.push_back(static_cast<char>(high * 16 + low));
    }
    return out;
}

std::optional<std::uint64_t> number(std::string_view text) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find(separator, start), text.size());
        pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

bool validPath(const std::string& path) {
    return !path.empty() && path.size() <= protocol::kMaxPath && path[0] == '/' &&
           path.find('\0') == std::string::npos;
}

// The verifier is libsodium's own text; only its shape is checked here.
bool parseVerifier(const std::vector<std::string_view>& fields, Policy& policy) {
    if (fields.size() != 2 || fields[1].size() >= crypto_pwhash_STRBYTES ||
        !fields[1].starts_with("$argon2id$") || !policy.verifier.empty())
        return false;
    policy.verifier = std::string(fields[1]);
    return true;
}

bool parseSwitches(const std::vector<std::string_view>& fields, Policy& policy) {
    const auto value = fields.size() == 2 ? number(fields[1]) : std::nullopt;
    if (!value || (*value & ~std::uint64_t{protocol::kAllSwitches}))
        return false;
    policy.switches = static_cast<std::uint32_t>(*value);
    return true;
}

bool parseProgram(const std::vector<std::string_view>& fields, Policy& policy) {
    if (fields.size() != 5 || policy.programs.size() >= kMaxPrograms)
        return false;
    const auto device = number(fields[1]), inode = number(fields[2]);
    auto buildId = fromHex(fields[3], kMaxBuildId);
    auto path = fromHex(fields[4], protocol::kMaxPath);
    if (!device || !inode || !buildId || !path || !validPath(*path))
        return false;
    policy.programs.push_back({std::move(*path), *device, *inode, std::move(*buildId)});
    return true;
}

bool parseReleased(const std::vector<std::string_view>& fields, Policy& policy) {
    if (fields.size() != 3 || policy.releasedRuns.size() >= kMaxReleasedRuns)
        return false;
    const auto pid = number(fields[1]), startTime = number(fields[2]);
    if (!pid || !startTime || *pid == 0 || *pid > 0x3fffffff || *startTime == 0)
        return false;
    policy.releasedRuns.push_back({static_cast<std::uint32_t>(*pid), *startTime});
    return true;
}

bool parseLine(std::string_view line, Policy& policy) {
    const auto fields = split(line, ' ');
    if (fields[0] == "verifier")
        return parseVerifier(fields, policy);
    if (fields[0] == "switches")
        return parseSwitches(fields, policy);
    if (fields[0] == "program")
        return parseProgram(fields, policy);
    if (fields[0] == "released")
        return parseReleased(fields, policy);
    return false;
}

}  // namespace

bool Policy::isReleased(const Run& run) const {
    return std::find(releasedRuns.begin(), releasedRuns.end(), run) != releasedRuns.end();
}

std::string serializePolicy(const Policy& policy) {
    std::string text = std::string(kHeader) + "\n";
    if (!policy.verifier.empty())
        text += "verifier " + policy.verifier + "\n";
    text += "switches " + std::to_string(policy.switches) + "\n";
    for (const LockedProgram& program : policy.programs) {
        text += "program " + std::to_string(program.device) + " " + std::to_string(program.inode) +
                " " + toHex(program.buildId) + " " + toHex(program.path) + "\n";
    }
    for (const Run& run : policy.releasedRuns)
        text += "released " + std::to_string(run.pid) + " " + std::to_string(run.startTime) + "\n";
    return text;
}

std::optional<Policy> parsePolicy(std::string_view text) {
    if (text.size() > kMaxText || !text.ends_with('\n'))
        return std::nullopt;
    auto lines = split(text.substr(0, text.size() - 1), '\n');
    if (lines[0] != kHeader)
        return std::nullopt;
    Policy policy;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (!parseLine(lines[i], policy))
            return std::nullopt;
    }
    return policy;
}

std::string makeVerifier(std::string_view password) {
    if (sodium_init() < 0)
        return {};
    char verifier[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(verifier, password.data(), password.size(),
                          crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        return {};
    return verifier;
}

bool verifyPassword(const std::string& verifier, std::string_view password) {
    if (verifier.empty() || sodium_init() < 0)
        return false;
    return crypto_pwhash_str_verify(verifier.c_str(), password.data(), password.size()) == 0;
}

namespace {

protocol::Status lockProgram(Policy& policy, const std::string& path, const ProgramLookup& lookup) {
    if (!validPath(path) || policy.programs.size() >= kMaxPrograms)
        return protocol::Status::Refused;
    auto program = lookup ? lookup(path) : std::nullopt;
    if (!program || program->buildId.size() > kMaxBuildId)
        return protocol::Status::Refused;
    program->path = path;
    if (std::find(policy.programs.begin(), policy.programs.end(), *program) ==
        policy.programs.end())
        policy.programs.push_back(std::move(*program));
    return protocol::Status::Ok;
}

protocol::Status applyLowering(Policy& policy, const protocol::PolicyUpdate& update) {
    using protocol::PolicyChange;
    if (update.change == PolicyChange::UnlockProgram) {
        std::erase_if(policy.programs,
                      [&](const LockedProgram& program) { return program.path == update.path; });
    } else if (update.change == PolicyChange::SwitchOff) {
        policy.switches &= ~update.switches;
    } else {
        std::string verifier = makeVerifier(update.newPassword);
        if (update.newPassword.empty() || verifier.empty())
            return protocol::Status::Refused;
        policy.verifier = std::move(verifier);
    }
    return protocol::Status::Ok;
}

}  // namespace

protocol::Status applyPolicyUpdate(Policy& policy, const protocol::PolicyUpdate& update,
                                   bool passwordVerified, const ProgramLookup& lookup) {
    if (update.change == protocol::PolicyChange::LockProgram)
        return lockProgram(policy, update.path, lookup);
    if (update.change == protocol::PolicyChange::SwitchOn) {
        policy.switches |= update.switches & protocol::kAllSwitches;
        return protocol::Status::Ok;
    }
    if (!passwordVerified)
        return protocol::Status::WrongPassword;
    return applyLowering(policy, update);
}

}  // namespace guard
