// Reads and writes the known runs of locked applications in the user defaults.
#include "locking/KnownInstancesService.h"

#include <QStringList>

#include "storage/KeyConstants.h"

namespace {

const QString marker = QStringLiteral("known");

}  // namespace

KnownInstancesService::KnownInstancesService() : storage(KeyValueStorageType::userDefaults) {}

std::optional<KnownInstancesService::Instances> KnownInstancesService::storedInstances() {
    return decode(storage.getValue(KeyConstants::KNOWN_INSTANCES_KEY));
}

void KnownInstancesService::storeInstances(const Instances& instances) {
    const QString text = encode(instances);
    if (storage.getValue(KeyConstants::KNOWN_INSTANCES_KEY) != text)
        storage.setValue(KeyConstants::KNOWN_INSTANCES_KEY, text);
}

void KnownInstancesService::storeEverythingKnown() {
    storeInstances({everything});
}

QString KnownInstancesService::encode(const Instances& instances) {
    QString text = marker + QLatin1Char(';');
    for (const auto& [pid, startTime] : instances)
        text += Instance{pid, startTime} == everything
                    ? QStringLiteral("all;")
                    : QStringLiteral("%1:%2;").arg(pid).arg(startTime);
    return text;
}

std::optional<KnownInstancesService::Instances> KnownInstancesService::decode(const QString& text) {
    QStringList pieces = text.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    if (pieces.isEmpty() || pieces.takeFirst() != marker)
        return std::nullopt;
    Instances instances;
    for (const QString& piece : pieces) {
        if (piece == QStringLiteral("all")) {
            instances.insert(everything);
            continue;
        }
        const QStringList numbers = piece.split(QLatin1Char(':'));
        bool pidRead = false;
        bool startRead = false;
        const int pid = numbers.size() == 2 ? numbers[0].toInt(&pidRead) : 0;
        const unsigned long long startTime =
            numbers.size() == 2 ? numbers[1].toULongLong(&startRead) : 0;
        if (pidRead && startRead && pid > 0)
            instances.insert({pid, startTime});
    }
    return instances;
}
