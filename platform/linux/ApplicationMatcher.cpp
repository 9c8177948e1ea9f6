// The matching order that turns a process into an application: the first source that names an
// application decides; a process that none names is not an application.
#include "platform/linux/ApplicationMatcher.h"

#include <QFileInfo>

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

}  // namespace

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
    if (const std::optional<DesktopEntry> entry = catalogue.entryForProgram(process.executable))
        return fromEntry(*entry, process);
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
    for (const QString& identifier : proc::applicationIdsOfUnit(unit)) {
        if (const std::optional<DesktopEntry> entry = catalogue.entryForIdentifier(identifier))
            return fromEntry(*entry, process);
    }
    return std::nullopt;
}

}  // namespace platform
