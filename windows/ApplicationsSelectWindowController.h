// The application selection window: the lockable applications with a filter, picks with one
// click, and the two options under the list. It reports the user's actions through callbacks.
#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "core/ApplicationEntity.h"

class ImageButtonView;
class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QWidget;
namespace Ui {
class ApplicationsSelectWindow;
}

class ApplicationsSelectWindowController {
  public:
    // Cell subviews are found by these tags (the "tag" property): icon, name, pick button.
    static constexpr int ICON_TAG = 10;
    static constexpr int NAME_TAG = 100;
    static constexpr int PICK_BUTTON_TAG = 1000;

    ApplicationsSelectWindowController();
    ~ApplicationsSelectWindowController();

    // The window; the first access loads the layout "ApplicationsSelectWindow" and runs
    // windowDidLoad, which gives the check boxes the two stored states.
    QWidget* window();
    void showServiceWindow(std::vector<ApplicationEntity> applications,
                           bool lockAdministrativeApplicationsState,
                           bool showRunningApplicationsOnlyState);
    // Replaces the list, keeping the filter text the user typed.
    void displayApplicationsList(std::vector<ApplicationEntity> applications);
    void closeServiceWindow();
    // Brings the window to the front without taking the keyboard focus from elsewhere.
    void focus();

    // Narrows the stored list to the names that contain the filter text, compared lower-cased
    // code unit by code unit. Does not reload the table.
    void filterApplications();
    void clearFilter();
    // Rebuilds the rows from filteredApplicationEntities.
    void reloadTable();
    int numberOfRows() const { return static_cast<int>(filteredApplicationEntities.size()); }
    // A row was clicked (or chosen with Return or Space): reports its application.
    void selectRow(int row);

    void lockAdministrativeApplicationsButtonClick();
    void showRunningApplicationsButtonClick();
    void administrativeHelpButtonClick();
    void showRunningApplicationsHelpButtonClick();

    std::function<void(bool)> onLockAdministrativeApplicationsOptionChanged;
    std::function<void(bool)> onShowRunningApplicationsOptionChanged;
    std::function<void(const ApplicationEntity&)> onApplicationSelected;

    std::vector<ApplicationEntity> originalApplicationEntities;
    std::vector<ApplicationEntity> filteredApplicationEntities;
    bool lockAdministrativeApplications = false;
    bool showRunningApplicationsOnly = false;

    // Outlets into the loaded window; null until it is loaded.
    QListWidget* applicationsTableViewOutlet = nullptr;
    QWidget* tableFooterViewOutlet = nullptr;
    QCheckBox* lockAdministrativeApplicationsCheckboxOutlet = nullptr;
    QCheckBox* showRunningApplicationsOnlyCheckboxOutlet = nullptr;
    QLineEdit* filterTextfieldOutlet = nullptr;
    ImageButtonView* blurSearchTextfieldButtonOutlet = nullptr;
    QWidget* filterFieldBackgroundViewOutlet = nullptr;
    // Says why the list is empty (still loading, nothing left, nothing matches).
    QLabel* emptyListLabel = nullptr;

  private:
    void windowDidLoad();
    void styleParts();
    void connectActions();
    QWidget* makeCell(const ApplicationEntity& application, int row);
    void updateEmptyListLabel();

    std::unique_ptr<QWidget> loadedWindow;
    std::unique_ptr<Ui::ApplicationsSelectWindow> form;
    bool listLoaded = false;
};
