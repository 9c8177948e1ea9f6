// The popover's pages, its list of locked applications and its options menu. Pages are swapped
// in one grid cell of the controller's own widget, so exactly one of them is visible at a time.
#include "menubar/PopoverViewController.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHideEvent>
#include <QLabel>
#include <QListWidget>
#include <QShowEvent>

#include "menubar/LockedApplicationRowView.h"
#include "menubar/NoPasswordViewController.h"
#include "menubar/PopoverOptionsMenu.h"
#include "menubar/RequestPasswordViewController.h"
#include "menubar/StatusLight.h"
#include "ui_PopoverView.h"
#include "widgets/ImageButtonView.h"

namespace {

// A page's or the menu's callback that raises the controller's own as it is set when it runs, so
// the owner may set it at any time. The pages and the menu are the controller's and raise their
// callbacks only while it holds them, so the reference is valid whenever it is used.
std::function<void()> raising(const std::function<void()>& callback) {
    return [&callback] {
        if (callback)
            callback();
    };
}

}  // namespace

PopoverViewController::PopoverViewController(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("PopoverViewController"));
    setFixedSize(WIDTH, HEIGHT);
}

PopoverViewController::~PopoverViewController() = default;

void PopoverViewController::initiateData(bool isActive, bool startsAtLogin,
                                         std::vector<ApplicationEntity> applications) {
    isActiveShown = isActive;
    startAtLoginShown = startsAtLogin;
    applicationsShown = std::move(applications);
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

    activateApplicationCheckboxOutlet->setChecked(isActiveShown);
    StatusLight::setLight(activateApplicationLightOutlet, isActiveShown);
    startAtLoginCheckboxOutlet->setChecked(startAtLoginShown);
    StatusLight::setLight(startAtLoginLightOutlet, startAtLoginShown);
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
        noPasswordViewController->onHelpRequest = raising(onHelpRequest);
        noPasswordViewController->onPasswordSetupRequest = raising(onChangePreferencesRequest);
    }
    attachPage(noPasswordViewController.get());
}

void PopoverViewController::showRequestPasswordPage() {
    loadViewIfNeeded();
    clearPages();
    if (!requestPasswordViewController) {
        requestPasswordViewController = std::make_unique<RequestPasswordViewController>();
        requestPasswordViewController->onHelpRequest = raising(onHelpRequest);
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
    applicationsShown = std::move(applications);
    updateEmptyListView();
    if (applicationsTableViewOutlet)
        reloadTable();
}

void PopoverViewController::updateEmptyListView() {
    if (noItemViewOutlet)
        noItemViewOutlet->setVisible(applicationsShown.empty());
}

void PopoverViewController::activateApplicationCheckboxClick() {
    const bool on = activateApplicationCheckboxOutlet->checkState() == Qt::Checked;
    StatusLight::setLight(activateApplicationLightOutlet, on);
    if (onIsActiveConfigurationChanged)
        onIsActiveConfigurationChanged(on);
}

void PopoverViewController::showStartAtLogin(bool on) {
    startAtLoginShown = on;
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

void PopoverViewController::reloadTable() {
    if (!applicationsTableViewOutlet)
        return;
    // Rows of the old list are deleted later by the view, so a remove button whose click caused
    // this reload is still alive when its click handler returns.
    applicationsTableViewOutlet->clear();
    for (int row = 0; row < static_cast<int>(applicationsShown.size()); ++row) {
        auto* item = new QListWidgetItem(applicationsTableViewOutlet);
        item->setFlags(Qt::ItemIsEnabled);
        item->setSizeHint(QSize(0, LockedApplicationRowView::HEIGHT));
        auto* cell = new LockedApplicationRowView;
        cell->showApplication(applicationsShown[static_cast<std::size_t>(row)],
                              devicePixelRatioF());
        cell->removeButton()->initiate(row, true);
        cell->removeButton()->onClick = [this](int index) { removeApplicationClick(index); };
        applicationsTableViewOutlet->setItemWidget(item, cell);
    }
}

void PopoverViewController::removeApplicationClick(int row) {
    if (row < 0 || row >= static_cast<int>(applicationsShown.size()))
        return;
    // A copy: the owner's answer may replace the list while the callback runs.
    const ApplicationEntity entity = applicationsShown[static_cast<std::size_t>(row)];
    if (onRemoveApplicationRequest)
        onRemoveApplicationRequest(entity);
}

// The options menu.

void PopoverViewController::showOptionsMenu() {
    // The menu that was shown last may still be closing; Qt deletes it after its events.
    if (shownOptionsMenu)
        shownOptionsMenu.release()->deleteLater();
    shownOptionsMenu = std::make_unique<PopoverOptionsMenu>();
    PopoverOptionsMenu* menu = shownOptionsMenu.get();
    menu->onChangePreferences = raising(onChangePreferencesRequest);
    menu->onLockAnotherApp = raising(onAddApplicationsRequest);
    menu->onHelp = raising(onHelpRequest);
    menu->onQuit = raising(onQuitRequest);

    const QPoint anchor(menuButtonOutlet->width() / 2,
                        menuButtonOutlet->height() + menuButtonOutlet->height() / 4);
    menu->popup(menuButtonOutlet->mapToGlobal(anchor));
}
