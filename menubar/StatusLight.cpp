// Rasterises named images at a fixed size for the lights and menu icons. A pixmap icon is never
// scaled up by Qt, which is what keeps a 12 px menu icon at 12 px in a 16 px icon column.
#include "menubar/StatusLight.h"

#include <QGuiApplication>
#include <QImageReader>
#include <QLabel>
#include <QPixmap>

#include "resources/NamedImage.h"

namespace StatusLight {

void setLight(QLabel* light, bool on) {
    if (!light)
        return;
    const QString& name = on ? ON_IMAGE : OFF_IMAGE;
    light->setPixmap(fixedSizeIcon(name, light->minimumSize()).pixmap(light->minimumSize()));
    light->setProperty("imageName", name);
}

QIcon fixedSizeIcon(const QString& name, QSize size) {
    const QIcon source = namedImage(name);
    if (source.isNull() || size.isEmpty())
        return {};
    const qreal ratio = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
    QPixmap pixmap = source.pixmap(size, ratio);
    pixmap.setDevicePixelRatio(ratio);
    QIcon icon;
    icon.addPixmap(pixmap);
    return icon;
}

QIcon naturalSizeIcon(const QString& name) {
    const QString path = namedImagePath(name);
    if (path.isEmpty())
        return {};
    const QSize natural = QImageReader(path).size();
    return fixedSizeIcon(name, natural.isValid() ? natural : QSize(16, 16));
}

}  // namespace StatusLight
