// The popover's content: the main page (locked applications with their remove buttons, the add
// and options buttons, the protection and start-at-login switches with their lights) and the two
// cover pages that hide it until the password is given. It shows what its owner hands it and
// reports every user action through on… callbacks.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "core/ApplicationEntity.h"
#include "menubar/PopoverViewState.h"

class QCheckBox;
class QLabel;
class QListWidget;
class ImageButtonView;
class NoPasswordViewController;
class PopoverOptionsMenu;
class RequestPasswordViewController;
namespace Ui {
class PopoverView;
}

class PopoverViewController : public QWidget {
    Q_OBJECT

  public:
    // The popover's size; the pages fill it.
    static constexpr int WIDTH = 320;
    static constexpr int HEIGHT = 420;

    explicit PopoverViewController(QWidget* parent = nullptr);
    ~PopoverViewController() override;

    // Takes effect when the view loads; the switches are set only then.
    void initiateData(bool isActive, bool startsAtLogin,
                      std::vector<ApplicationEntity> applications);
    void refreshLockedApplicationsAndInterface(std::vector<ApplicationEntity> applications);
    // The start-at-login switch and its light as registered now; the view need not be loaded.
    void showStartAtLogin(bool on);
    // Hands on to the request page, if it exists.
    void wrongPassword();

    // The form is loaded on the first appearance (or here, when asked earlier).
    void loadViewIfNeeded();
    bool isViewLoaded() const { return ui != nullptr; }
    void viewWillAppear();
    void viewDidDisappear();

    void showNoPasswordPage();
    void showRequestPasswordPage();
    void showMainPage();

    // Actions of the controls.
    void activateApplicationCheckboxClick();
    void startApplicationAtLoginCheckboxClick();
    void showOptionsMenu();
    void removeApplicationClick(int row);

    // What the popover shows or will show when its view loads.
    const std::vector<ApplicationEntity>& lockedApplications() const { return applicationsShown; }
    bool applicationIsActive() const { return isActiveShown; }
    bool startAtLogin() const { return startAtLoginShown; }
    // The options menu shown last, while it exists; a click on the options button builds a new one.
    PopoverOptionsMenu* optionsMenu() const { return shownOptionsMenu.get(); }

    // Outlets, connected when the view loads; they do not own their widgets.
    QWidget* noItemViewOutlet = nullptr;
    QListWidget* applicationsTableViewOutlet = nullptr;
    QWidget* tableViewScrollViewOutlet = nullptr;
    QWidget* tableHeaderViewOutlet = nullptr;
    ImageButtonView* addApplicationButtonOutlet = nullptr;
    ImageButtonView* menuButtonOutlet = nullptr;
    QCheckBox* activateApplicationCheckboxOutlet = nullptr;
    QCheckBox* startAtLoginCheckboxOutlet = nullptr;
    QLabel* activateApplicationLightOutlet = nullptr;
    QLabel* startAtLoginLightOutlet = nullptr;

    PopoverViewState state = PopoverViewState::requestPassword;
    // Shown on the password request page while not empty (a keyring that does not answer).
    QString requestPageNotice;

    std::function<void()> onAddApplicationsRequest;
    std::function<void(bool)> onStartAtLoginConfigurationChanged;
    std::function<void(bool)> onIsActiveConfigurationChanged;
    std::function<void()> onChangePreferencesRequest;
    std::function<void()> onHelpRequest;
    std::function<void()> onQuitRequest;
    std::function<void(const ApplicationEntity&)> onRemoveApplicationRequest;
    std::function<void(const QString&)> onPasswordEntered;

    std::unique_ptr<NoPasswordViewController> noPasswordViewController;
    std::unique_ptr<RequestPasswordViewController> requestPasswordViewController;

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void viewDidLoad();
    void clearPages();
    void attachPage(QWidget* page);
    void updateEmptyListView();
    void reloadTable();

    std::unique_ptr<Ui::PopoverView> ui;
    std::unique_ptr<PopoverOptionsMenu> shownOptionsMenu;
    std::vector<ApplicationEntity> applicationsShown;
    bool isActiveShown = false;
    bool startAtLoginShown = false;
};
