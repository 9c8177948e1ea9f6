// The popover's pages, its list of locked applications and its options menu. Pages are swapped
// in one grid cell of the controller's own widget, so exactly one of them is visible at a time.
#include "menubar/PopoverViewController.h"

#include <QAction>
#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QShowEvent>
#include <QTimer>

#include "menubar/NoPasswordViewController.h"
#include "menubar/RequestPasswordViewController.h"
#include "menubar/StatusLight.h"
#include "resources/NamedImage.h"
#include "ui_PopoverView.h"
#include "widgets/ImageButtonView.h"

namespace {

constexpr int CELL_HEIGHT = 46;
constexpr int TAG_ICON = 10;
constexpr int TAG_NAME = 100;
constexpr int TAG_REMOVE = 1000;
const char* const TAG_PROPERTY = "tag";
const char* const IMAGE_NAME_PROPERTY = "imageName";
constexpr QSize MENU_ICON_SIZE(12, 12);

// The light menu that drops from the dark popover, with the selection colour of the popover's
// buttons so that the white icons read well on it.
const char* const OPTIONS_MENU_STYLE = R"(
QMenu { background: rgb(246, 246, 248); color: rgb(29, 30, 33); border: 1px solid rgba(0, 0, 0, 0.28);
        padding: 5px 0; }
QMenu::item { padding: 5px 24px 5px 10px; background: transparent; }
QMenu::item:selected { background: rgb(58, 124, 209); color: white; }
QMenu::icon { left: 8px; }
QMenu::separator { height: 1px; background: rgba(0, 0, 0, 0.12); margin: 4px 10px; }
)";

// The view with that tag inside a cell when it has the kind asked for, else null.
template <typename View>
View* viewWithTag(QWidget* cell, int tag) {
    for (QWidget* child : cell->findChildren<QWidget*>()) {
        if (child->property(TAG_PROPERTY).toInt() == tag)
            return qobject_cast<View*>(child);
    }
    return nullptr;
}

}  // namespace

const QStringList PopoverViewController::MENU_IMAGE_NAMES = {
    QStringLiteral("PasswordMenuOption"), QStringLiteral("LockAnotherAppMenuOption"),
    QStringLiteral("HelpMenuOption"), QStringLiteral("QuitApplicationMenuOption")};

PopoverViewController::PopoverViewController(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("PopoverViewController"));
    setFixedSize(WIDTH, HEIGHT);
}

PopoverViewController::~PopoverViewController() = default;

void PopoverViewController::initiateData(bool isActive, bool startsAtLogin,
                                         std::vector<ApplicationEntity> applications) {
    applicationIsActive = isActive;
    startAtLogin = startsAtLogin;
    lockedApplications = std::move(applications);
}

void PopoverViewController::loadViewIfNeeded() {
    if (ui)
        return;
    ui = std::make_unique<Ui::PopoverView>();
    ui->setupUi(this);
    noItemViewOutlet = ui->noItemViewOutlet;
    applicationsTableViewOutlet = ui->applicationsTableViewOutlet;
    tableViewScrollViewOutlet = ui->applicationsTableViewOutlet;
    tableHeaderViewOutlet = ui->tableHeaderViewOutlet;
    addApplicationButtonOutlet = ui->addApplicationButtonOutlet;
    menuButtonOutlet = ui->menuButtonOutlet;
    activateApplicationCheckboxOutlet = ui->activateApplicationCheckboxOutlet;
    startAtLoginCheckboxOutlet = ui->startAtLoginCheckboxOutlet;
    activateApplicationLightOutlet = ui->activateApplicationLightOutlet;
    startAtLoginLightOutlet = ui->startAtLoginLightOutlet;
    viewDidLoad();
}

void PopoverViewController::viewDidLoad() {
    applicationsTableViewOutlet->viewport()->setAutoFillBackground(false);
    tableHeaderViewOutlet->setAttribute(Qt::WA_StyledBackground);
    tableHeaderViewOutlet->setStyleSheet(QStringLiteral("background: rgb(150, 150, 150);"));
    ui->switchesView->setAttribute(Qt::WA_StyledBackground);

    addApplicationButtonOutlet->initiate(0, true);
    menuButtonOutlet->initiate(0, true);
    addApplicationButtonOutlet->onClick = [this](int) {
        if (onAddApplicationsRequest)
            onAddApplicationsRequest();
    };
    menuButtonOutlet->onClick = [this](int) { showOptionsMenu(); };

    activateApplicationCheckboxOutlet->setChecked(applicationIsActive);
    StatusLight::setLight(activateApplicationLightOutlet, applicationIsActive);
    startAtLoginCheckboxOutlet->setChecked(startAtLogin);
    StatusLight::setLight(startAtLoginLightOutlet, startAtLogin);
    // clicked fires for the user's clicks only, never for the programmatic states above.
    connect(activateApplicationCheckboxOutlet, &QCheckBox::clicked, this,
            &PopoverViewController::activateApplicationCheckboxClick);
    connect(startAtLoginCheckboxOutlet, &QCheckBox::clicked, this,
            &PopoverViewController::startApplicationAtLoginCheckboxClick);

    reloadTable();
    updateEmptyListView();
}

void PopoverViewController::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous())
        viewWillAppear();
}

void PopoverViewController::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (!event->spontaneous())
        viewDidDisappear();
}

void PopoverViewController::viewWillAppear() {
    loadViewIfNeeded();
    switch (state) {
        case PopoverViewState::noPassword:
            showNoPasswordPage();
            break;
        case PopoverViewState::requestPassword:
            showRequestPasswordPage();
            break;
        case PopoverViewState::running:
            showMainPage();
            break;
    }
}

void PopoverViewController::viewDidDisappear() {
    state = PopoverViewState::requestPassword;
}

void PopoverViewController::clearPages() {
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!child->isWindow())
            child->hide();
    }
    for (QWidget* page : {static_cast<QWidget*>(noPasswordViewController.get()),
                          static_cast<QWidget*>(requestPasswordViewController.get())}) {
        if (page && page->parentWidget()) {
            layout()->removeWidget(page);
            page->setParent(nullptr);
        }
    }
}

void PopoverViewController::attachPage(QWidget* page) {
    auto* grid = static_cast<QGridLayout*>(layout());
    grid->addWidget(page, 0, 0);
    page->show();
}

void PopoverViewController::showNoPasswordPage() {
    loadViewIfNeeded();
    clearPages();
    if (!noPasswordViewController) {
        noPasswordViewController = std::make_unique<NoPasswordViewController>();
        noPasswordViewController->onHelpRequest = [this] {
            if (onHelpRequest)
                onHelpRequest();
        };
        noPasswordViewController->onPasswordSetupRequest = [this] {
            if (onChangePreferencesRequest)
                onChangePreferencesRequest();
        };
    }
    attachPage(noPasswordViewController.get());
}

void PopoverViewController::showRequestPasswordPage() {
    loadViewIfNeeded();
    clearPages();
    if (!requestPasswordViewController) {
        requestPasswordViewController = std::make_unique<RequestPasswordViewController>();
        requestPasswordViewController->onHelpRequest = [this] {
            if (onHelpRequest)
                onHelpRequest();
        };
        requestPasswordViewController->onPasswordEntered = [this](const QString& password) {
            if (onPasswordEntered)
                onPasswordEntered(password);
        };
    }
    requestPasswordViewController->showNotice(requestPageNotice);
    attachPage(requestPasswordViewController.get());
}

void PopoverViewController::showMainPage() {
    loadViewIfNeeded();
    clearPages();
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!child->isWindow())
            child->show();
    }
    updateEmptyListView();
}

void PopoverViewController::wrongPassword() {
    if (requestPasswordViewController)
        requestPasswordViewController->wrongPassword();
}

void PopoverViewController::refreshLockedApplicationsAndInterface(
    std::vector<ApplicationEntity> applications) {
    lockedApplications = std::move(applications);
    updateEmptyListView();
    if (applicationsTableViewOutlet)
        reloadTable();
}

void PopoverViewController::updateEmptyListView() {
    if (noItemViewOutlet)
        noItemViewOutlet->setVisible(lockedApplications.empty());
}

void PopoverViewController::activateApplicationCheckboxClick() {
    const bool on = activateApplicationCheckboxOutlet->checkState() == Qt::Checked;
    StatusLight::setLight(activateApplicationLightOutlet, on);
    if (onIsActiveConfigurationChanged)
        onIsActiveConfigurationChanged(on);
}

void PopoverViewController::showStartAtLogin(bool on) {
    startAtLogin = on;
    if (!startAtLoginCheckboxOutlet)
        return;
    startAtLoginCheckboxOutlet->setChecked(on);
    StatusLight::setLight(startAtLoginLightOutlet, on);
}

void PopoverViewController::startApplicationAtLoginCheckboxClick() {
    const bool on = startAtLoginCheckboxOutlet->checkState() == Qt::Checked;
    StatusLight::setLight(startAtLoginLightOutlet, on);
    if (onStartAtLoginConfigurationChanged)
        onStartAtLoginConfigurationChanged(on);
}

// The table.

QWidget* PopoverViewController::makeCell() {
    auto* cell = new QWidget;
    cell->setObjectName(QStringLiteral("MyCell"));
    auto* row = new QHBoxLayout(cell);
    row->setContentsMargins(16, 6, 14, 6);
    row->setSpacing(12);

    auto* icon = new QLabel(cell);
    icon->setProperty(TAG_PROPERTY, TAG_ICON);
    icon->setFixedSize(30, 30);
    icon->setScaledContents(false);
    row->addWidget(icon);

    auto* name = new QLabel(cell);
    name->setProperty(TAG_PROPERTY, TAG_NAME);
    name->setStyleSheet(QStringLiteral("color: white; font-size: 13px;"));
    name->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    row->addWidget(name, 1);

    auto* remove = new ImageButtonView(cell);
    remove->setProperty(TAG_PROPERTY, TAG_REMOVE);
    remove->setFixedSize(20, 20);
    remove->setImageName(QStringLiteral("RemoveButton"));
    remove->setToolTip(tr("Stop locking this application"));
    row->addWidget(remove);
    return cell;
}

void PopoverViewController::configureCell(QWidget* cell, int row) {
    const ApplicationEntity& entity = lockedApplications[static_cast<std::size_t>(row)];
    if (auto* name = viewWithTag<QLabel>(cell, TAG_NAME)) {
        name->setText(entity.name);
        name->setToolTip(entity.bundleIdentifier);
    }
    if (auto* icon = viewWithTag<QLabel>(cell, TAG_ICON)) {
        // An application without an icon gets the theme's generic one (or ours) rather than a hole.
        QIcon image = entity.icon.isNull()
                          ? QIcon::fromTheme(QStringLiteral("application-x-executable"))
                          : entity.icon;
        if (image.isNull())
            image = namedImage(QStringLiteral("GenericApplication"));
        icon->setPixmap(image.pixmap(icon->size(), devicePixelRatioF()));
    }
    if (auto* remove = viewWithTag<ImageButtonView>(cell, TAG_REMOVE)) {
        remove->initiate(row, true);
        remove->onClick = [this](int index) { removeApplicationClick(index); };
    }
}

void PopoverViewController::reloadTable() {
    if (!applicationsTableViewOutlet)
        return;
    // Rows of the old list are deleted later by the view, so a remove button whose click caused
    // this reload is still alive when its click handler returns.
    applicationsTableViewOutlet->clear();
    for (int row = 0; row < static_cast<int>(lockedApplications.size()); ++row) {
        auto* item = new QListWidgetItem(applicationsTableViewOutlet);
        item->setFlags(Qt::ItemIsEnabled);
        item->setSizeHint(QSize(0, CELL_HEIGHT));
        QWidget* cell = makeCell();
        configureCell(cell, row);
        applicationsTableViewOutlet->setItemWidget(item, cell);
    }
}

void PopoverViewController::removeApplicationClick(int row) {
    if (row < 0 || row >= static_cast<int>(lockedApplications.size()))
        return;
    // A copy: the owner's answer may replace the list while the callback runs.
    const ApplicationEntity entity = lockedApplications[static_cast<std::size_t>(row)];
    if (onRemoveApplicationRequest)
        onRemoveApplicationRequest(entity);
}

// The options menu.

void PopoverViewController::addMenuItem(QMenu* menu, const QString& title, const QString& imageName,
                                        const QKeySequence& keyEquivalent,
                                        void (PopoverViewController::*action)()) {
    QAction* item = menu->addAction(StatusLight::fixedSizeIcon(imageName, MENU_ICON_SIZE), title);
    item->setProperty(IMAGE_NAME_PROPERTY, imageName);
    item->setShortcut(keyEquivalent);
    item->setCheckable(false);
    connect(item, &QAction::triggered, this, action);
}

void PopoverViewController::showOptionsMenu() {
    // The menu that was shown last may still be closing; Qt deletes it after its events.
    if (optionsMenu)
        optionsMenu.release()->deleteLater();
    optionsMenu = std::make_unique<QMenu>();
    QMenu* menu = optionsMenu.get();
    menu->setObjectName(QStringLiteral("optionsMenu"));
    menu->setStyleSheet(QString::fromLatin1(OPTIONS_MENU_STYLE));
    addMenuItem(menu, tr("Password Preferences"), MENU_IMAGE_NAMES[0],
                QKeySequence(Qt::CTRL | Qt::Key_Comma),
                &PopoverViewController::changePreferencesMenuButtonClick);
    addMenuItem(menu, tr("Lock Other Applications"), MENU_IMAGE_NAMES[1],
                QKeySequence(Qt::CTRL | Qt::Key_Plus),
                &PopoverViewController::lockAnotherAppMenuButtonClick);
    menu->addSeparator();
    addMenuItem(menu, tr("Help && Support"), MENU_IMAGE_NAMES[2],
                QKeySequence(Qt::CTRL | Qt::Key_H), &PopoverViewController::helpMenuButtonClick);
    menu->addSeparator();
    addMenuItem(menu, tr("Quit"), MENU_IMAGE_NAMES[3], QKeySequence(),
                &PopoverViewController::quitApplicationMenuButtonClick);

    connect(menu, &QMenu::hovered, this,
            [this, menu](QAction* item) { menuWillHighlightItem(menu, item); });
    // Leaving the menu clears its highlight without a signal; look again once QMenu has done so.
    menu->installEventFilter(this);

    const QPoint anchor(menuButtonOutlet->width() / 2,
                        menuButtonOutlet->height() + menuButtonOutlet->height() / 4);
    menu->popup(menuButtonOutlet->mapToGlobal(anchor));
}

void PopoverViewController::menuWillHighlightItem(QMenu* menu, QAction* item) {
    if (!menu)
        return;
    const QList<QAction*> items = menu->actions();
    const int imageIndices[] = {0, 1, 3, 5};
    for (int position = 0; position < 4; ++position) {
        const int index = imageIndices[position];
        if (index >= items.size())
            continue;
        items[index]->setIcon(
            StatusLight::fixedSizeIcon(MENU_IMAGE_NAMES[position], MENU_ICON_SIZE));
        items[index]->setProperty(IMAGE_NAME_PROPERTY, MENU_IMAGE_NAMES[position]);
    }
    if (!item)
        return;
    const QString name = item->property(IMAGE_NAME_PROPERTY).toString();
    if (name.isEmpty())
        return;
    const QString white = name + QStringLiteral("_White");
    item->setIcon(StatusLight::naturalSizeIcon(white));
    item->setProperty(IMAGE_NAME_PROPERTY, white);
}

bool PopoverViewController::eventFilter(QObject* watched, QEvent* event) {
    auto* menu = qobject_cast<QMenu*>(watched);
    if (menu && menu == optionsMenu.get() && event->type() == QEvent::Leave) {
        QPointer<QMenu> guarded = menu;
        QTimer::singleShot(0, this, [this, guarded] {
            if (guarded)
                menuWillHighlightItem(guarded, guarded->activeAction());
        });
    }
    return QWidget::eventFilter(watched, event);
}

void PopoverViewController::changePreferencesMenuButtonClick() {
    if (onChangePreferencesRequest)
        onChangePreferencesRequest();
}

void PopoverViewController::lockAnotherAppMenuButtonClick() {
    if (onAddApplicationsRequest)
        onAddApplicationsRequest();
}

void PopoverViewController::helpMenuButtonClick() {
    if (onHelpRequest)
        onHelpRequest();
}

void PopoverViewController::quitApplicationMenuButtonClick() {
    if (onQuitRequest)
        onQuitRequest();
}
