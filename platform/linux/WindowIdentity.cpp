// The names a window declares, and the parsers of the properties that carry them.
#include "platform/linux/WindowIdentity.h"

#include <QStringDecoder>

namespace platform {

QStringList WindowIdentity::names() const {
    QStringList result;
    QString desktopFile = desktopFileName;
    if (desktopFile.endsWith(QLatin1String(".desktop")))
        desktopFile.chop(8);
    for (const QString& name : {applicationId, desktopFile, className, instanceName}) {
        if (!name.isEmpty() && !result.contains(name, Qt::CaseInsensitive))
            result.append(name);
    }
    return result;
}

QString parseTextProperty(const QByteArray& value) {
    const qsizetype end = value.indexOf('\0');
    const QByteArray text = end < 0 ? value : value.left(end);
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString decoded = decoder(text);
    return decoder.hasError() ? QString() : decoded;
}

void parseWmClass(const QByteArray& value, QString& instanceName, QString& className) {
    instanceName.clear();
    className.clear();
    const qsizetype first = value.indexOf('\0');
    if (first < 0)
        return;
    // WM_CLASS is of type STRING, which is Latin-1.
    instanceName = QString::fromLatin1(value.left(first));
    const QByteArray rest = value.mid(first + 1);
    const qsizetype second = rest.indexOf('\0');
    className = QString::fromLatin1(second < 0 ? rest : rest.left(second));
}

}  // namespace platform
