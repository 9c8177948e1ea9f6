// Loads and styles the selection window, fills its rows, filters by name and turns clicks on
// rows, pick buttons, options and help buttons into the controller's actions.
#include "windows/ApplicationsSelectWindowController.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QToolButton>

#include "ui_ApplicationsSelectWindow.h"
#include "widgets/ImageButtonView.h"
#include "windows/AlertMessagesService.h"
#include "windows/WindowAppearance.h"

namespace {

constexpr int ROW_HEIGHT = 44;
constexpr int ICON_SIZE = 28;

const QString ADMINISTRATIVE_HELP_TITLE = QStringLiteral("Lock administrative applications");
const QString ADMINISTRATIVE_HELP_MESSAGE = QStringLiteral(
    "With administrative applications users that are sharing your computer can (but it will be "
    "hard to) stop Vaultine from protecting your apps. \n\nThe administrative applications are: "
    "Terminal, System Monitor and Passwords and Keys.");
const QString RUNNING_HELP_TITLE = QStringLiteral("List Running Applications Only");
const QString RUNNING_HELP_MESSAGE = QStringLiteral(
    "By default, Vaultine will list the apps installed on your system. If you want to lock an app "
    "installed somewhere else, just check this option and start (run) the app.");

const char* const LIST_STYLE = R"(
QListWidget { background: transparent; border: none; outline: none; }
QListWidget::item { border-bottom: 1px solid rgba(255, 255, 255, 0.06); }
QListWidget::item:hover { background: rgba(255, 255, 255, 0.09); }
)";

// Return, Enter and Space on the list pick the current row, as a click on it would.
class RowKeyFilter : public QObject {
  public:
    RowKeyFilter(QObject* parent, std::function<void()> pick)
        : QObject(parent), pickCurrentRow(std::move(pick)) {}

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::KeyPress)
            return false;
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key != Qt::Key_Return && key != Qt::Key_Enter && key != Qt::Key_Space)
            return false;
        pickCurrentRow();
        return true;
    }

  private:
    std::function<void()> pickCurrentRow;
};

}  // namespace

ApplicationsSelectWindowController::ApplicationsSelectWindowController() = default;
ApplicationsSelectWindowController::~ApplicationsSelectWindowController() = default;

QWidget* ApplicationsSelectWindowController::window() {
    if (!loadedWindow) {
        loadedWindow = std::make_unique<QWidget>();
        form = std::make_unique<Ui::ApplicationsSelectWindow>();
        form->setupUi(loadedWindow.get());
        windowDidLoad();
        WindowAppearance::centerOnScreen(loadedWindow.get());
    }
    return loadedWindow.get();
}

void ApplicationsSelectWindowController::windowDidLoad() {
    applicationsTableViewOutlet = form->applicationsTableViewOutlet;
    tableFooterViewOutlet = form->tableFooterViewOutlet;
    lockAdministrativeApplicationsCheckboxOutlet =
        form->lockAdministrativeApplicationsCheckboxOutlet;
    showRunningApplicationsOnlyCheckboxOutlet = form->showRunningApplicationsOnlyCheckboxOutlet;
    filterTextfieldOutlet = form->filterTextfieldOutlet;
    blurSearchTextfieldButtonOutlet = form->blurSearchTextfieldButtonOutlet;
    filterFieldBackgroundViewOutlet = form->filterFieldBackgroundViewOutlet;
    emptyListLabel = form->emptyListLabel;

    styleParts();
    connectActions();
    blurSearchTextfieldButtonOutlet->initiate(0, false);
    blurSearchTextfieldButtonOutlet->setVisible(!filterTextfieldOutlet->text().isEmpty());
    lockAdministrativeApplicationsCheckboxOutlet->setChecked(lockAdministrativeApplications);
    showRunningApplicationsOnlyCheckboxOutlet->setChecked(showRunningApplicationsOnly);
    applicationsTableViewOutlet->setFocus(Qt::OtherFocusReason);
}

void ApplicationsSelectWindowController::styleParts() {
    QWidget* panel = loadedWindow.get();
    WindowAppearance::keepAboveOtherWindows(panel);
    WindowAppearance::applyPanelLook(panel);
    WindowAppearance::makeMovableByBackground(panel);
    // The filter field draws no frame of its own on its translucent white backdrop.
    filterFieldBackgroundViewOutlet->setAttribute(Qt::WA_StyledBackground);
    filterFieldBackgroundViewOutlet->setStyleSheet(QStringLiteral(
        "#filterFieldBackgroundViewOutlet { background: rgba(255, 255, 255, 0.2); "
        "border-radius: 7px; }"
        "QLineEdit { background: transparent; border: none; color: white; padding: 4px; }"));
    tableFooterViewOutlet->setAttribute(Qt::WA_StyledBackground);
    tableFooterViewOutlet->setStyleSheet(
        QStringLiteral("#tableFooterViewOutlet { background: rgb(99, 102, 108); }"));
    // The check boxes keep the style's own indicator, drawn in white on a dark box.
    for (QCheckBox* checkbox : {lockAdministrativeApplicationsCheckboxOutlet,
                                showRunningApplicationsOnlyCheckboxOutlet}) {
        QPalette palette = checkbox->palette();
        palette.setColor(QPalette::WindowText, Qt::white);
        palette.setColor(QPalette::Text, Qt::white);
        palette.setColor(QPalette::Base, QColor(42, 43, 47));
        palette.setColor(QPalette::Window, QColor(99, 102, 108));
        checkbox->setPalette(palette);
    }
    applicationsTableViewOutlet->setStyleSheet(QString::fromLatin1(LIST_STYLE));
    applicationsTableViewOutlet->viewport()->setCursor(Qt::PointingHandCursor);
    emptyListLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
}

void ApplicationsSelectWindowController::connectActions() {
    QWidget* panel = loadedWindow.get();
    QObject::connect(filterTextfieldOutlet, &QLineEdit::textChanged, panel, [this] {
        blurSearchTextfieldButtonOutlet->setVisible(!filterTextfieldOutlet->text().isEmpty());
        filterApplications();
        reloadTable();
    });
    blurSearchTextfieldButtonOutlet->onClick = [this](int) { clearFilter(); };
    // The press picks, as a row is picked the moment it would become selected.
    QObject::connect(applicationsTableViewOutlet, &QListWidget::pressed, panel,
                     [this](const QModelIndex& index) { selectRow(index.row()); });
    applicationsTableViewOutlet->installEventFilter(
        new RowKeyFilter(panel, [this] { selectRow(applicationsTableViewOutlet->currentRow()); }));
    QObject::connect(lockAdministrativeApplicationsCheckboxOutlet, &QCheckBox::clicked, panel,
                     [this] { lockAdministrativeApplicationsButtonClick(); });
    QObject::connect(showRunningApplicationsOnlyCheckboxOutlet, &QCheckBox::clicked, panel,
                     [this] { showRunningApplicationsButtonClick(); });
    QObject::connect(form->administrativeHelpButton, &QToolButton::clicked, panel,
                     [this] { administrativeHelpButtonClick(); });
    QObject::connect(form->showRunningApplicationsHelpButton, &QToolButton::clicked, panel,
                     [this] { showRunningApplicationsHelpButtonClick(); });
}

void ApplicationsSelectWindowController::showServiceWindow(
    std::vector<ApplicationEntity> applications, bool lockAdministrativeApplicationsState,
    bool showRunningApplicationsOnlyState) {
    originalApplicationEntities = std::move(applications);
    lockAdministrativeApplications = lockAdministrativeApplicationsState;
    showRunningApplicationsOnly = showRunningApplicationsOnlyState;
    filterApplications();
    QWidget* panel = window();
    reloadTable();
    panel->show();
    panel->raise();
    panel->activateWindow();
}

void ApplicationsSelectWindowController::displayApplicationsList(
    std::vector<ApplicationEntity> applications) {
    originalApplicationEntities = std::move(applications);
    listLoaded = true;
    filterApplications();
    reloadTable();
}

void ApplicationsSelectWindowController::closeServiceWindow() {
    if (loadedWindow)
        loadedWindow->close();
}

void ApplicationsSelectWindowController::focus() {
    QWidget* panel = window();
    panel->show();
    panel->raise();
}

void ApplicationsSelectWindowController::filterApplications() {
    const QString filter =
        filterTextfieldOutlet ? filterTextfieldOutlet->text().toLower() : QString();
    if (filter.isEmpty()) {
        filteredApplicationEntities = originalApplicationEntities;
        return;
    }
    filteredApplicationEntities.clear();
    for (const ApplicationEntity& application : originalApplicationEntities) {
        if (application.name.toLower().contains(filter, Qt::CaseSensitive))
            filteredApplicationEntities.push_back(application);
    }
}

void ApplicationsSelectWindowController::clearFilter() {
    window();
    filterTextfieldOutlet->setText(QString());
    applicationsTableViewOutlet->setFocus(Qt::OtherFocusReason);
    filterApplications();
    reloadTable();
}

void ApplicationsSelectWindowController::reloadTable() {
    window();
    QListWidget* table = applicationsTableViewOutlet;
    table->setUpdatesEnabled(false);
    table->clear();
    for (int row = 0; row < numberOfRows(); ++row) {
        auto* item = new QListWidgetItem(table);
        item->setSizeHint(QSize(0, ROW_HEIGHT));
        table->setItemWidget(item, makeCell(filteredApplicationEntities[row], row));
    }
    table->setUpdatesEnabled(true);
    updateEmptyListLabel();
}

QWidget* ApplicationsSelectWindowController::makeCell(const ApplicationEntity& application,
                                                      int row) {
    auto* cell = new QWidget;
    cell->setObjectName(QStringLiteral("MyCell"));
    auto* layout = new QHBoxLayout(cell);
    layout->setContentsMargins(22, 0, 22, 0);
    layout->setSpacing(12);

    auto* icon = new QLabel(cell);
    icon->setProperty("tag", ICON_TAG);
    icon->setFixedSize(ICON_SIZE, ICON_SIZE);
    const QIcon image = application.icon.isNull()
                            ? QIcon::fromTheme(QStringLiteral("application-x-executable"))
                            : application.icon;
    icon->setPixmap(image.pixmap(ICON_SIZE, ICON_SIZE));

    auto* name = new QLabel(application.name, cell);
    name->setProperty("tag", NAME_TAG);
    name->setStyleSheet(QStringLiteral("color: white; font-size: 14px;"));

    auto* pick = new ImageButtonView(cell);
    pick->setProperty("tag", PICK_BUTTON_TAG);
    pick->setFixedSize(20, 20);
    pick->setImageName(QStringLiteral("PickButton"));
    pick->setToolTip(QStringLiteral("Lock %1").arg(application.name));
    pick->initiate(row, false);
    pick->onClick = [this](int pickedRow) { selectRow(pickedRow); };

    layout->addWidget(icon);
    layout->addWidget(name, 1);
    layout->addWidget(pick);
    return cell;
}

void ApplicationsSelectWindowController::updateEmptyListLabel() {
    const bool empty = filteredApplicationEntities.empty();
    emptyListLabel->setVisible(empty);
    if (!empty)
        return;
    if (!listLoaded)
        emptyListLabel->setText(QStringLiteral("Looking for applications…"));
    else if (!originalApplicationEntities.empty())
        emptyListLabel->setText(
            QStringLiteral("No application matches “%1”.").arg(filterTextfieldOutlet->text()));
    else if (showRunningApplicationsOnlyCheckboxOutlet->isChecked())
        emptyListLabel->setText(QStringLiteral("No running application is left to lock."));
    else
        emptyListLabel->setText(QStringLiteral("Every application is locked already."));
}

void ApplicationsSelectWindowController::selectRow(int row) {
    // The list may have been reloaded since the press was queued; a stale row picks nothing.
    if (row < 0 || row >= numberOfRows())
        return;
    const ApplicationEntity picked = filteredApplicationEntities[row];
    if (onApplicationSelected)
        onApplicationSelected(picked);
}

void ApplicationsSelectWindowController::lockAdministrativeApplicationsButtonClick() {
    if (onLockAdministrativeApplicationsOptionChanged)
        onLockAdministrativeApplicationsOptionChanged(
            lockAdministrativeApplicationsCheckboxOutlet->isChecked());
}

void ApplicationsSelectWindowController::showRunningApplicationsButtonClick() {
    if (onShowRunningApplicationsOptionChanged)
        onShowRunningApplicationsOptionChanged(
            showRunningApplicationsOnlyCheckboxOutlet->isChecked());
}

void ApplicationsSelectWindowController::administrativeHelpButtonClick() {
    AlertMessagesService().showAlert(ADMINISTRATIVE_HELP_TITLE, ADMINISTRATIVE_HELP_MESSAGE,
                                     AlertMessagesService::INFORMATIONAL, window());
}

void ApplicationsSelectWindowController::showRunningApplicationsHelpButtonClick() {
    AlertMessagesService().showAlert(RUNNING_HELP_TITLE, RUNNING_HELP_MESSAGE,
                                     AlertMessagesService::INFORMATIONAL, window());
}
