// Fuzzes what a launch carries: the launch arguments that the presenters hub looks through for
// "-psn_", and the environment that a launched bundle receives its configuration in, read back the
// way /proc shows it to the process watcher.
//
// Input: NUL-separated entries in three sections, each ended by an empty entry: the arguments, the
// inherited environment ("KEY=VALUE") and the configuration ("KEY=VALUE", where the byte 0x01
// stands for a NUL inside a value, which the layout could not carry otherwise).
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "app/PresetersMainHub.h"
#include "platform/linux/LinuxWorkspace.h"
#include "platform/linux/ProcReader.h"

namespace {

const QString launchPrefix = QStringLiteral("VAULTINE_LAUNCH_");

void checkArguments(const QList<QByteArray>& entries) {
    QStringList arguments;
    bool expected = false;
    for (const QByteArray& entry : entries) {
        arguments.append(QString::fromUtf8(entry));
        expected = expected || entry.startsWith("-psn_");
    }
    if (PresetersMainHub::hasProcessSerialNumberArgument(arguments) != expected)
        std::abort();
}

QProcessEnvironment inheritedEnvironment(const QList<QByteArray>& entries) {
    QProcessEnvironment environment;
    for (const QByteArray& entry : entries) {
        const qsizetype equals = entry.indexOf('=');
        if (equals > 0)
            environment.insert(QString::fromUtf8(entry.left(equals)),
                               QString::fromUtf8(entry.mid(equals + 1)));
    }
    return environment;
}

QMap<QString, QString> configurationOf(const QList<QByteArray>& entries) {
    QMap<QString, QString> configuration;
    for (const QByteArray& entry : entries) {
        const qsizetype equals = entry.indexOf('=');
        QByteArray value = entry.mid(equals + 1);
        value.replace('\x01', '\0');
        configuration.insert(QString::fromUtf8(entry.left(std::max<qsizetype>(equals, 0))),
                             QString::fromUtf8(value));
    }
    return configuration;
}

// The environment block the launched process gets, as its /proc environ file shows it.
QByteArray environBlock(const QProcessEnvironment& environment) {
    QByteArray block;
    for (const QString& entry : environment.toStringList())
        block += entry.toUtf8() + '\0';
    return block;
}

void checkLaunchEnvironment(const QProcessEnvironment& inherited,
                            const QMap<QString, QString>& configuration) {
    const QProcessEnvironment result = platform::launchEnvironment(inherited, configuration);
    for (const QString& key : result.keys()) {
        // Nothing of our own launch is handed on; every launch variable comes from the
        // configuration.
        if (key == QLatin1String("DESKTOP_STARTUP_ID") ||
            key.startsWith(QLatin1String("GIO_LAUNCHED_DESKTOP_FILE")))
            std::abort();
        if (key.startsWith(launchPrefix) && !configuration.contains(key.mid(launchPrefix.size())))
            std::abort();
        if (!key.startsWith(launchPrefix) && result.value(key) != inherited.value(key))
            std::abort();
    }
    const QByteArray block = environBlock(result);
    for (auto entry = configuration.begin(); entry != configuration.end(); ++entry) {
        const QString key = launchPrefix + entry.key();
        if (!result.contains(key))
            continue;
        // What is passed on is read back unchanged.
        const std::optional<QByteArray> value =
            platform::proc::environmentValue(block, key.toUtf8());
        if (!value || *value != entry.value().toUtf8())
            std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QList<QByteArray> sections[3];
    int section = 0;
    for (const QByteArray& entry : bytes.split('\0')) {
        if (entry.isEmpty() && section < 2)
            ++section;
        else if (!entry.isEmpty())
            sections[section].append(entry);
    }
    checkArguments(sections[0]);
    checkLaunchEnvironment(inheritedEnvironment(sections[1]), configurationOf(sections[2]));
    return 0;
}
