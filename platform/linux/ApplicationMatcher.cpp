// The matching order that turns a process into an application: the first source that names an
// application decides; a process that none names is not an application.
#include "platform/linux/ApplicationMatcher.h"

#include <QFileInfo>
#include <algorithm>
#include <tuple>

namespace platform {

namespace {

ApplicationMatch fromEntry(const DesktopEntry& entry, const proc::ProcessStatus& process) {
    ApplicationMatch match;
    match.identifier = entry.identifier;
    match.name = entry.name.isEmpty() ? process.name : entry.name;
    match.bundlePath = entry.path;
    match.iconName = entry.iconName;
    match.activationPolicy =
        entry.noDisplay ? ActivationPolicy::accessory : ActivationPolicy::regular;
    return match;
}

// How well a claim's Exec arguments fit the process's: all present, and how many.
std::pair<bool, qsizetype> argumentFit(const ProgramClaim& claim, const QStringList& arguments) {
    for (const QString& argument : claim.arguments) {
        if (!arguments.contains(argument))
            return {false, 0};
    }
    return {true, claim.arguments.size()};
}

}  // namespace

const ProgramClaim& chooseClaim(const std::vector<ProgramClaim>& claims,
                                const QStringList& arguments) {
    const auto rank = [&](const ProgramClaim& claim) {
        const auto [fits, specific] = argumentFit(claim, arguments);
        return std::make_tuple(fits, specific, !claim.hidden, !claim.entry.noDisplay);
    };
    // The first of the best keeps XDG order among equals.
    const ProgramClaim* best = &claims.front();
    for (const ProgramClaim& claim : claims) {
        if (rank(claim) > rank(*best))
            best = &claim;
    }
    return *best;
}

std::optional<ApplicationMatch> ApplicationMatcher::match(
    const proc::ProcessStatus& process, const CgroupLeafReader& cgroupLeaf) const {
    if (process.executable.isEmpty())
        return std::nullopt;
    if (auto bundle = matchBundle(process))
        return bundle;
    if (const QString flatpak = proc::readFlatpakApplication(process.pid); !flatpak.isEmpty())
        return matchIdentifier(flatpak, process);
    if (const QString snap = proc::snapDesktopIdOfCgroup(cgroupLeaf(process.pid)); !snap.isEmpty())
        return matchIdentifier(snap, process);
    if (auto program = matchProgram(process))
        return program;
    if (auto launched = matchLaunchVariables(process))
        return launched;
    return matchUnit(process, cgroupLeaf);
}

std::optional<ApplicationMatch> ApplicationMatcher::matchBundle(
    const proc::ProcessStatus& process) const {
    const QString bundlePath = enclosingBundlePath(process.executable);
    if (bundlePath.isEmpty())
        return std::nullopt;
    const std::optional<BundleInfo> info = readBundleInfo(bundlePath);
    if (!info || info->identifier.isEmpty())
        return std::nullopt;
    ApplicationMatch match;
    match.identifier = info->identifier;
    match.name = info->name.isEmpty() ? process.name : info->name;
    match.bundlePath = bundlePath;
    match.activationPolicy =
        info->backgroundOnly ? ActivationPolicy::prohibited : ActivationPolicy::regular;
    return match;
}

std::optional<ApplicationMatch> ApplicationMatcher::matchProgram(
    const proc::ProcessStatus& process) const {
    std::vector<ProgramClaim> claims = catalogue.claimsOfProgram(process.executable);
    // A copy of a claimed program elsewhere, altered anywhere but in its build-id, is that program.
    if (claims.empty())
        claims = catalogue.claimsOfProgramBuildId(proc::readProgramImagePath(process.pid));
    if (claims.empty())
        return std::nullopt;
    QStringList arguments;
    if (claims.size() > 1) {
        arguments = proc::readCommandLine(process.pid);
        if (!arguments.isEmpty())
            arguments.removeFirst();
    }
    const ProgramClaim& chosen = chooseClaim(claims, arguments);
    ApplicationMatch match = fromEntry(chosen.entry, process);
    for (const ProgramClaim& claim : claims) {
        if (claim.entry.identifier != match.identifier &&
            !match.otherIdentifiers.contains(claim.entry.identifier))
            match.otherIdentifiers.append(claim.entry.identifier);
    }
    return match;
}

ApplicationMatch ApplicationMatcher::matchDeclared(const QStringList& identifiers,
                                                   const proc::ProcessStatus& process) const {
    QStringList ordered = identifiers;
    std::stable_partition(ordered.begin(), ordered.end(), [this](const QString& identifier) {
        const std::optional<DesktopEntry> entry = catalogue.entryForIdentifier(identifier);
        return entry && !entry->noDisplay;
    });
    ApplicationMatch match = *matchIdentifier(ordered.front(), process);
    match.otherIdentifiers = ordered.mid(1);
    return match;
}

// Sandboxed applications are named by their id; the exported entry, when there is one, gives the
// name and icon.
std::optional<ApplicationMatch> ApplicationMatcher::matchIdentifier(
    const QString& identifier, const proc::ProcessStatus& process) const {
    if (const std::optional<DesktopEntry> entry = catalogue.entryForIdentifier(identifier))
        return fromEntry(*entry, process);
    ApplicationMatch match;
    match.identifier = identifier;
    match.name = process.name;
    return match;
}

// GIO tells the launched process which entry started it; the pid check keeps the children that
// inherit the variables from claiming the entry too.
std::optional<ApplicationMatch> ApplicationMatcher::matchLaunchVariables(
    const proc::ProcessStatus& process) const {
    const std::optional<QByteArray> launchedPid =
        proc::readEnvironmentValue(process.pid, "GIO_LAUNCHED_DESKTOP_FILE_PID");
    if (!launchedPid || launchedPid->toLongLong() != process.pid)
        return std::nullopt;
    const std::optional<QByteArray> file =
        proc::readEnvironmentValue(process.pid, "GIO_LAUNCHED_DESKTOP_FILE");
    if (!file || file->isEmpty())
        return std::nullopt;
    const std::optional<DesktopEntry> entry = catalogue.entryForPath(QString::fromUtf8(*file));
    return entry ? std::optional(fromEntry(*entry, process)) : std::nullopt;
}

// Children inherit their parent's unit, so only the unit's topmost process is its application: a
// shell started from a terminal's unit is not the terminal.
std::optional<ApplicationMatch> ApplicationMatcher::matchUnit(
    const proc::ProcessStatus& process, const CgroupLeafReader& cgroupLeaf) const {
    const QString unit = cgroupLeaf(process.pid);
    if (unit.isEmpty() || (process.parent > 0 && cgroupLeaf(process.parent) == unit))
        return std::nullopt;
    std::vector<QString> identifiers = proc::applicationIdsOfUnit(unit);
    // A user unit that a session-bus service names runs that service's application.
    for (const QString& identifier : catalogue.identifiersOfUnit(unit))
        identifiers.push_back(identifier);
    for (const QString& identifier : identifiers) {
        if (const std::optional<DesktopEntry> entry = catalogue.entryForIdentifier(identifier))
            return fromEntry(*entry, process);
    }
    return std::nullopt;
}

}  // namespace platform
