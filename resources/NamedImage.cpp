// Finds named images among the compiled-in resources.
#include "resources/NamedImage.h"

#include <QFile>

QString namedImagePath(const QString& name) {
    for (const char* suffix : {".svg", ".png"}) {
        const QString path = QStringLiteral(":/images/") + name + QLatin1String(suffix);
        if (QFile::exists(path))
            return path;
    }
    return {};
}

QIcon namedImage(const QString& name) {
    const QString path = namedImagePath(name);
    return path.isEmpty() ? QIcon() : QIcon(path);
}
