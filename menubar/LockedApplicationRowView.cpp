// The row's three parts side by side, laid out once; showApplication only changes what they show,
// so a row can be filled again without being rebuilt.
#include "menubar/LockedApplicationRowView.h"

#include <QHBoxLayout>
#include <QLabel>

#include "resources/NamedImage.h"
#include "widgets/ImageButtonView.h"

LockedApplicationRowView::LockedApplicationRowView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("MyCell"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(16, 6, 14, 6);
    row->setSpacing(12);

    iconView = new QLabel(this);
    iconView->setFixedSize(30, 30);
    iconView->setScaledContents(false);
    row->addWidget(iconView);

    nameView = new QLabel(this);
    nameView->setStyleSheet(QStringLiteral("color: white; font-size: 13px;"));
    nameView->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    row->addWidget(nameView, 1);

    removeButtonView = new ImageButtonView(this);
    removeButtonView->setFixedSize(20, 20);
    removeButtonView->setImageName(QStringLiteral("RemoveButton"));
    removeButtonView->setToolTip(tr("Stop locking this application"));
    row->addWidget(removeButtonView);
}

void LockedApplicationRowView::showApplication(const ApplicationEntity& entity,
                                               qreal devicePixelRatio) {
    nameView->setText(entity.name);
    nameView->setToolTip(entity.bundleIdentifier);
    // An application without an icon gets the theme's generic one (or ours) rather than a hole.
    QIcon image = entity.icon.isNull()
                      ? QIcon::fromTheme(QStringLiteral("application-x-executable"))
                      : entity.icon;
    if (image.isNull())
        image = namedImage(QStringLiteral("GenericApplication"));
    iconView->setPixmap(image.pixmap(iconView->size(), devicePixelRatio));
}
