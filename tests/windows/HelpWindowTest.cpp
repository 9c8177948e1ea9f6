// The help window: the bundled page, the explanation when it is missing, the contact button and
// the support mail link handed to the desktop.
#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <QUrl>

#include "WindowsTestEnvironment.h"
#include "windows/HelpWindowPresenter.h"

namespace {

// Receives the links the desktop would open in the user's mail program.
class MailLinkCatcher : public QObject {
    Q_OBJECT

  public:
    QList<QUrl> opened;

  public Q_SLOTS:
    void open(const QUrl& url) { opened.append(url); }
};

class HelpWindow : public windows_test::WindowsTest {
  protected:
    void SetUp() override {
        WindowsTest::SetUp();
        QDesktopServices::setUrlHandler("mailto", &catcher, "open");
    }
    void TearDown() override {
        QDesktopServices::unsetUrlHandler("mailto");
        WindowsTest::TearDown();
    }

    MailLinkCatcher catcher;
};

TEST_F(HelpWindow, ShowsTheHelpPageOfTheBundle) {
    HelpWindowPresenter presenter;
    presenter.present();
    const QString page = presenter.helpWindowController().webviewOutlet->toPlainText();
    EXPECT_TRUE(page.contains("Vaultine Help"));
    for (const char* topic :
         {"Locking and unlocking", "Administrative applications", "The Alt key", "Start at login",
          "Quitting", "What Vaultine protects, and what not", "No keyring", "No panel icon"})
        EXPECT_TRUE(page.contains(topic)) << topic;
}

TEST_F(HelpWindow, TheHelpPageLiesInTheBundlesResources) {
    EXPECT_EQ(HelpWindowController::helpPagePath(),
              QStringLiteral(VAULTINE_BUNDLE_PATH "/Contents/Resources/Help.html"));
}

TEST_F(HelpWindow, AMissingPageIsExplainedInsteadOfAnEmptyWindow) {
    platform::testing::installMainBundle("org.vaultine.Vaultine", "/nonexistent/Vaultine.app");
    HelpWindowPresenter presenter;
    presenter.present();
    const QString page = presenter.helpWindowController().webviewOutlet->toPlainText();
    EXPECT_TRUE(page.contains("The help page is missing"));
    EXPECT_TRUE(page.contains("support@vaultine.org"));
}

TEST_F(HelpWindow, LinksOfThePageOpenOutsideTheWindow) {
    HelpWindowPresenter presenter;
    presenter.present();
    EXPECT_TRUE(presenter.helpWindowController().webviewOutlet->openExternalLinks());
}

TEST_F(HelpWindow, ContactButtonOpensTheSupportMailLink) {
    HelpWindowPresenter presenter;
    presenter.present();
    auto* button =
        presenter.helpWindowController().window()->findChild<QPushButton*>("contactSupportButton");
    ASSERT_NE(button, nullptr);
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_EQ(catcher.opened.size(), 1);
    EXPECT_EQ(catcher.opened[0].toEncoded(),
              "mailto:support@vaultine.org?Subject=Vaultine%20Support");
}

TEST_F(HelpWindow, ASecondRequestShowsTheSameWindowAsItWasLeft) {
    HelpWindowPresenter presenter;
    presenter.present();
    QWidget* window = presenter.helpWindowController().window();
    window->close();
    presenter.focus();
    EXPECT_EQ(presenter.helpWindowController().window(), window);
    EXPECT_TRUE(window->isVisible());
}

TEST_F(HelpWindow, TheSurfaceIsTheFlatGreyOfTheHelpWindow) {
    HelpWindowPresenter presenter;
    presenter.present();
    QWidget* window = presenter.helpWindowController().window();
    EXPECT_TRUE(window->styleSheet().contains("rgb(94, 97, 106)"));
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}

}  // namespace

#include "HelpWindowTest.moc"
