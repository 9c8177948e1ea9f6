// Fuzzes the parsers of a process's /proc files: every parser reads the same bytes, as any of the
// files may hold anything a process or a broken kernel interface puts there.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/linux/DisplaySession.h"
#include "platform/linux/ProcReader.h"

namespace {

using namespace platform::proc;

void checkStat(const QByteArray& bytes) {
    if (const auto fields = parseStat(bytes)) {
        // Ids are never negative, and the name is what stands between the parentheses.
        if (fields->parent < 0 || fields->processGroup < 0)
            std::abort();
        (void)fields->name.toUtf8();
    }
}

// The first entry of the bytes read as an environ file is found under its own name.
void checkEnvironment(const QByteArray& bytes) {
    for (const char* name :
         {"PATH", "GIO_LAUNCHED_DESKTOP_FILE", "GIO_LAUNCHED_DESKTOP_FILE_PID", ""})
        (void)environmentValue(bytes, name);
    const QByteArray first = bytes.left(bytes.indexOf('\0'));
    const qsizetype equals = first.indexOf('=');
    if (equals > 0 && environmentValue(bytes, first.left(equals)) != first.mid(equals + 1))
        std::abort();
}

void checkUnitNames(const QString& leaf) {
    const std::vector<QString> identifiers = applicationIdsOfUnit(leaf);
    if (identifiers.size() > 2)
        std::abort();
    for (const QString& identifier : identifiers) {
        if (identifier.isEmpty())
            std::abort();
    }
    const QString snap = snapDesktopIdOfCgroup(leaf);
    if (!snap.isEmpty() && !snap.contains(QLatin1Char('_')))
        std::abort();
}

void checkCgroup(const QByteArray& bytes) {
    const QString leaf = parseCgroupLeaf(bytes);
    // A leaf is one path component of one line.
    if (leaf.contains(QLatin1Char('/')) || leaf.contains(QLatin1Char('\n')))
        std::abort();
    checkUnitNames(leaf);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    checkStat(bytes);
    checkEnvironment(bytes);
    checkCgroup(bytes);
    checkUnitNames(QString::fromUtf8(bytes));
    (void)parseFlatpakInfo(bytes).toUtf8();
    (void)executableOfLink(bytes).toUtf8();
    // No word of a command line holds the NUL that separates them.
    for (const QString& word : parseCommandLine(bytes)) {
        if (word.contains(QChar(0)))
            __builtin_trap();
    }
    (void)platform::session::resolveDisplayName(bytes, {"host.example", "10.0.0.7"});
    return 0;
}
