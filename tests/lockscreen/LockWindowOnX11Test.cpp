// The lock window's defences on a real X server (the private desktop session): this program runs
// itself again on the xcb platform, and a second X client checks grabs, stacking and typing.
#include <gtest/gtest.h>
#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <algorithm>
#include <cstdlib>
#include <memory>

#include "lockscreen/BorderlessKeyWindow.h"
#include "lockscreen/CoverWindow.h"
#include "lockscreen/PasswordWindowController.h"
#include "platform/PresentationOptions.h"
#include "platform/Screens.h"
#include "platform/WindowGuard.h"
#include "platform/testing/Doubles.h"
#include "platform/testing/FakeWorkspace.h"

namespace {

constexpr int settleMs = 3000;  // upper bound for the server to report a change, not a delay
const char* const childVariable = "VAULTINE_LOCKSCREEN_X11_CHILD";

bool runningAsChild() {
    return qEnvironmentVariableIsSet(childVariable) &&
           QGuiApplication::platformName() == QStringLiteral("xcb");
}

TEST(LockWindowOnX11, DefencesHoldOnARealDisplay) {
    if (qEnvironmentVariableIsEmpty("DISPLAY") || qEnvironmentVariableIsSet(childVariable))
        GTEST_SKIP() << "needs the private desktop session (scripts/desktop-session.sh)";
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QString::fromLatin1(childVariable), QStringLiteral("1"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=LockWindowOnX11Child.*")});
    ASSERT_TRUE(child.waitForFinished(120000));
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 0);
}

// A second client of the same X server: what any other program on the desktop could do.
class OtherClient {
  public:
    OtherClient() : connection(xcb_connect(nullptr, nullptr)) {
        root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    }
    ~OtherClient() {
        if (window)
            xcb_destroy_window(connection, window);
        xcb_disconnect(connection);
    }
    bool grabKeyboard() {
        auto* reply =
            xcb_grab_keyboard_reply(connection,
                                    xcb_grab_keyboard(connection, true, root, XCB_CURRENT_TIME,
                                                      XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                                    nullptr);
        const bool granted = reply && reply->status == XCB_GRAB_STATUS_SUCCESS;
        if (reply && !granted)
            lastStatus = reply->status;
        std::free(reply);
        return granted;
    }
    // Whether another program could take the keyboard now; gives it back at once.
    bool canGrabKeyboard() {
        const bool granted = grabKeyboard();
        if (granted)
            ungrab();
        return granted;
    }
    bool canGrabPointer() {
        const bool granted = grabPointer();
        if (granted)
            ungrab();
        return granted;
    }
    bool grabPointer() {
        auto* reply = xcb_grab_pointer_reply(
            connection,
            xcb_grab_pointer(connection, true, root, XCB_EVENT_MASK_BUTTON_PRESS,
                             XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC, XCB_NONE, XCB_NONE,
                             XCB_CURRENT_TIME),
            nullptr);
        const bool granted = reply && reply->status == XCB_GRAB_STATUS_SUCCESS;
        std::free(reply);
        return granted;
    }
    void ungrab() {
        xcb_ungrab_keyboard(connection, XCB_CURRENT_TIME);
        xcb_ungrab_pointer(connection, XCB_CURRENT_TIME);
        xcb_flush(connection);
    }
    // An override-redirect window over the screen's top left corner, as a notification would be.
    void mapOverrideRedirectWindow() {
        window = xcb_generate_id(connection);
        const std::uint32_t values[] = {1};
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, root, 0, 0, 300, 200, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                          XCB_CW_OVERRIDE_REDIRECT, values);
        xcb_map_window(connection, window);
        xcb_flush(connection);
    }
    // Takes the input focus, as the blocked application would when the window manager focuses it.
    void focusOwnWindow() {
        xcb_set_input_focus(connection, XCB_INPUT_FOCUS_PARENT, window, XCB_CURRENT_TIME);
        xcb_flush(connection);
    }
    // The position of a top-level window in the stacking order, bottom first; -1 if absent.
    int stackingIndex(xcb_window_t of) {
        auto* tree = xcb_query_tree_reply(connection, xcb_query_tree(connection, root), nullptr);
        int index = -1;
        if (tree) {
            const xcb_window_t* children = xcb_query_tree_children(tree);
            for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
                if (children[i] == of)
                    index = i;
            }
        }
        std::free(tree);
        return index;
    }
    bool isOverrideRedirect(xcb_window_t of) {
        auto* attributes = xcb_get_window_attributes_reply(
            connection, xcb_get_window_attributes(connection, of), nullptr);
        const bool result = attributes && attributes->override_redirect;
        std::free(attributes);
        return result;
    }

    // What any client may do to another's window.
    void unmap(xcb_window_t of) {
        xcb_unmap_window(connection, of);
        xcb_flush(connection);
    }
    void lowerToTheBottom(xcb_window_t of) {
        const std::uint32_t below = XCB_STACK_MODE_BELOW;
        xcb_configure_window(connection, of, XCB_CONFIG_WINDOW_STACK_MODE, &below);
        xcb_flush(connection);
    }
    void moveResize(xcb_window_t of, const QRect& frame) {
        const std::uint32_t values[] = {std::uint32_t(frame.x()), std::uint32_t(frame.y()),
                                        std::uint32_t(frame.width()),
                                        std::uint32_t(frame.height())};
        xcb_configure_window(connection, of,
                             XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                                 XCB_CONFIG_WINDOW_HEIGHT,
                             values);
        xcb_flush(connection);
    }
    void makeTransparent(xcb_window_t of) {
        const std::uint32_t opacity = 0;
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, of, opacityAtom(), XCB_ATOM_CARDINAL,
                            32, 1, &opacity);
        xcb_flush(connection);
    }
    bool hasOpacity(xcb_window_t of) {
        auto* reply = xcb_get_property_reply(
            connection,
            xcb_get_property(connection, false, of, opacityAtom(), XCB_ATOM_CARDINAL, 0, 1),
            nullptr);
        const bool present = reply && reply->type != XCB_NONE;
        std::free(reply);
        return present;
    }
    // Cuts the window down to a small rectangle: whatever is under the rest shows.
    void shapeSmall(xcb_window_t of) {
        const xcb_rectangle_t small = {0, 0, 50, 50};
        xcb_shape_rectangles(connection, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING,
                             XCB_CLIP_ORDERING_UNSORTED, of, 0, 0, 1, &small);
        xcb_flush(connection);
    }
    bool isShaped(xcb_window_t of) {
        auto* extents = xcb_shape_query_extents_reply(
            connection, xcb_shape_query_extents(connection, of), nullptr);
        const bool shaped = extents && extents->bounding_shaped;
        std::free(extents);
        return shaped;
    }
    // Moves the window into a small unmapped window of this client's.
    void hideInside(xcb_window_t of) {
        const xcb_window_t box = xcb_generate_id(connection);
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, box, root, 0, 0, 10, 10, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_reparent_window(connection, of, box, 0, 0);
        xcb_flush(connection);
    }
    xcb_window_t parentOf(xcb_window_t of) {
        auto* tree = xcb_query_tree_reply(connection, xcb_query_tree(connection, of), nullptr);
        const xcb_window_t parent = tree ? tree->parent : XCB_NONE;
        std::free(tree);
        return parent;
    }
    bool isViewable(xcb_window_t of) {
        auto* attributes = xcb_get_window_attributes_reply(
            connection, xcb_get_window_attributes(connection, of), nullptr);
        const bool viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(attributes);
        return viewable;
    }
    QRect frame(xcb_window_t of) {
        auto* geometry =
            xcb_get_geometry_reply(connection, xcb_get_geometry(connection, of), nullptr);
        const QRect result =
            geometry ? QRect(geometry->x, geometry->y, geometry->width, geometry->height) : QRect();
        std::free(geometry);
        return result;
    }
    xcb_connection_t* connection;
    xcb_window_t root = 0;
    xcb_window_t window = 0;
    int lastStatus = 0;

  private:
    xcb_atom_t opacityAtom() {
        const char name[] = "_NET_WM_WINDOW_OPACITY";
        auto* reply = xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, false, sizeof name - 1, name), nullptr);
        const xcb_atom_t atom = reply ? reply->atom : XCB_NONE;
        std::free(reply);
        return atom;
    }
};

class LockWindowOnX11Child : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!runningAsChild())
            GTEST_SKIP() << "runs inside LockWindowOnX11.DefencesHoldOnARealDisplay";
        platform::testing::installMainBundle(QStringLiteral("org.vaultine.Vaultine"));
        platform::Workspace::install(std::make_unique<platform::testing::FakeWorkspace>());
        platform::PresentationOptions::install(platform::PresentationOptions::createDefault());
        platform::WindowGuards::install(platform::WindowGuards::createDefault());
        controller = std::make_unique<PasswordWindowController>();
        controller->passwordEntered = [this](const QString& text) { entered.push_back(text); };
        controller->specialKeyPressed = [this] { ++specialKeys; };
    }
    void TearDown() override {
        if (controller)
            controller->closeServiceWindow();
        controller.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    void showLock() {
        QPixmap icon(QStringLiteral("/usr/share/icons/hicolor/128x128/apps/display-im6.q16.png"));
        controller->showServiceWindow(QStringLiteral("Text Editor is locked"), QIcon(icon));
        ASSERT_TRUE(QTest::qWaitFor(
            [this] {
                return controller->window() && controller->window()->isVisible() &&
                       QTest::qWaitForWindowExposed(controller->window(), 10);
            },
            settleMs));
    }
    xcb_window_t lockWindowId() { return static_cast<xcb_window_t>(controller->window()->winId()); }

    std::unique_ptr<PasswordWindowController> controller;
    std::vector<QString> entered;
    int specialKeys = 0;
    OtherClient other;
};

TEST_F(LockWindowOnX11Child, CoversThePrimaryScreenOverrideRedirect) {
    showLock();

    EXPECT_TRUE(other.isOverrideRedirect(lockWindowId()));
    EXPECT_EQ(controller->window()->geometry(), QGuiApplication::primaryScreen()->geometry());
    const QString screenshot = qEnvironmentVariable("VAULTINE_LOCKSCREEN_SCREENSHOT");
    if (!screenshot.isEmpty()) {
        QTest::keyClicks(controller->passwordFieldOutlet, QStringLiteral("secret"));
        controller->displayErrorMessage(QStringLiteral("Wrong password"));
        QTest::qWait(600);  // let the shake end before the picture is taken
        QProcess::execute(QStringLiteral("import"),
                          {QStringLiteral("-window"), QStringLiteral("root"), screenshot});
    }
}

TEST_F(LockWindowOnX11Child, HoldsTheKeyboardAndPointerSoNoOtherProgramCanGrabThem) {
    showLock();

    EXPECT_TRUE(QTest::qWaitFor([this] { return !other.canGrabKeyboard(); }, settleMs));
    EXPECT_FALSE(other.canGrabPointer());
}

TEST_F(LockWindowOnX11Child, GivesTheGrabsBackWhenClosed) {
    showLock();

    controller->closeServiceWindow();

    // The server may still be reading our release when the other client asks.
    EXPECT_TRUE(QTest::qWaitFor([this] { return other.canGrabKeyboard(); }, settleMs))
        << "status " << other.lastStatus;
    EXPECT_TRUE(QTest::qWaitFor([this] { return other.canGrabPointer(); }, settleMs));
}

TEST_F(LockWindowOnX11Child, TakesTheGrabsOnceAnotherProgramLetsGo) {
    ASSERT_TRUE(other.grabKeyboard());
    showLock();
    QTest::qWait(300);  // a few refused tries of the lock window

    other.ungrab();

    EXPECT_TRUE(QTest::qWaitFor([this] { return !other.canGrabKeyboard(); }, settleMs));
}

TEST_F(LockWindowOnX11Child, StaysAboveAnOverrideRedirectWindowMappedLater) {
    showLock();

    other.mapOverrideRedirectWindow();

    EXPECT_TRUE(QTest::qWaitFor(
        [this] { return other.stackingIndex(lockWindowId()) > other.stackingIndex(other.window); },
        settleMs));
    EXPECT_GE(other.stackingIndex(other.window), 0);
}

TEST_F(LockWindowOnX11Child, TypedKeysGoToThePasswordField) {
    showLock();
    ASSERT_TRUE(QTest::qWaitFor([this] { return !other.canGrabKeyboard(); }, settleMs));

    QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("type"), QStringLiteral("--delay"),
                                                  QStringLiteral("20"), QStringLiteral("hunter2")});
    QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Return")});

    EXPECT_TRUE(QTest::qWaitFor([this] { return !entered.empty(); }, settleMs));
    EXPECT_EQ(entered, (std::vector<QString>{QStringLiteral("hunter2")}));
}

TEST_F(LockWindowOnX11Child, TypedKeysGoToTheFieldEvenWhenAnotherWindowHasTheFocus) {
    showLock();
    ASSERT_TRUE(QTest::qWaitFor([this] { return !other.canGrabKeyboard(); }, settleMs));
    other.mapOverrideRedirectWindow();
    other.focusOwnWindow();

    QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("type"), QStringLiteral("--delay"),
                                                  QStringLiteral("20"), QStringLiteral("abc")});
    QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Return")});

    EXPECT_TRUE(QTest::qWaitFor([this] { return !entered.empty(); }, settleMs));
    EXPECT_EQ(entered, (std::vector<QString>{QStringLiteral("abc")}));
}

TEST_F(LockWindowOnX11Child, TheAltKeyReachesTheLockWindowWhileItHoldsTheKeyboard) {
    showLock();
    ASSERT_TRUE(QTest::qWaitFor([this] { return !other.canGrabKeyboard(); }, settleMs));

    QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("keydown"), QStringLiteral("alt"),
                                                  QStringLiteral("keyup"), QStringLiteral("alt")});

    EXPECT_TRUE(QTest::qWaitFor([this] { return specialKeys > 0; }, settleMs));
    EXPECT_EQ(specialKeys, 1);
    EXPECT_TRUE(controller->lostFocusByPressingSpecialKey());
    EXPECT_FALSE(other.canGrabKeyboard());  // the keyboard stays with the lock
}

TEST_F(LockWindowOnX11Child, ALockWindowUnmappedByAnotherClientIsMappedAgain) {
    showLock();

    other.unmap(lockWindowId());

    EXPECT_TRUE(QTest::qWaitFor([this] { return other.isViewable(lockWindowId()); }, settleMs));
    EXPECT_TRUE(QTest::qWaitFor([this] { return !other.canGrabKeyboard(); }, settleMs));
}

TEST_F(LockWindowOnX11Child, ALockWindowLoweredResizedMadeTransparentShapedOrReparentedIsRestored) {
    showLock();
    other.mapOverrideRedirectWindow();
    const auto aboveOther = [this] {
        return other.stackingIndex(lockWindowId()) > other.stackingIndex(other.window);
    };
    ASSERT_TRUE(QTest::qWaitFor(aboveOther, settleMs));
    const QRect screen = other.frame(lockWindowId());

    other.lowerToTheBottom(lockWindowId());
    EXPECT_TRUE(QTest::qWaitFor(aboveOther, settleMs));

    other.moveResize(lockWindowId(), QRect(300, 200, 50, 50));
    EXPECT_TRUE(QTest::qWaitFor([&] { return other.frame(lockWindowId()) == screen; }, settleMs));

    other.makeTransparent(lockWindowId());
    EXPECT_TRUE(QTest::qWaitFor([this] { return !other.hasOpacity(lockWindowId()); }, settleMs));

    other.shapeSmall(lockWindowId());
    EXPECT_TRUE(QTest::qWaitFor([this] { return !other.isShaped(lockWindowId()); }, settleMs));

    other.hideInside(lockWindowId());
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return other.parentOf(lockWindowId()) == other.root &&
                   other.isViewable(lockWindowId()) && other.frame(lockWindowId()) == screen;
        },
        settleMs));
}

TEST_F(LockWindowOnX11Child, ACoverWindowUnmappedOrMovedByAnotherClientIsRestored) {
    const QRect frame(1280, 0, 1280, 1024);
    CoverWindow cover(frame);
    cover.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&cover, settleMs));
    const auto coverId = static_cast<xcb_window_t>(cover.winId());

    other.unmap(coverId);
    EXPECT_TRUE(QTest::qWaitFor([&] { return other.isViewable(coverId); }, settleMs));

    other.moveResize(coverId, QRect(0, 0, 10, 10));
    EXPECT_TRUE(QTest::qWaitFor([&] { return other.frame(coverId) == frame; }, settleMs));
}

// Splits the session's screen into two monitors and puts it back whole at the end.
// The two monitors are set one after the other while this program goes on handling its events,
// as a running Vaultine does: the second change comes while the first is being read.
class SplitMonitors {
  public:
    SplitMonitors() {
        xrandr({"--setmonitor", "left", "1280/338x1024/270+0+0", "screen"});
        xrandr({"--setmonitor", "right", "1280/338x1024/270+1280+0", "none"});
    }
    ~SplitMonitors() {
        xrandr({"--delmonitor", "right"});
        xrandr({"--delmonitor", "left"});
    }

  private:
    static void xrandr(const QStringList& arguments) {
        QProcess process;
        process.start(QStringLiteral("xrandr"), arguments);
        (void)QTest::qWaitFor([&process] { return process.state() == QProcess::NotRunning; },
                              settleMs);
    }
};

TEST_F(LockWindowOnX11Child, FollowsThePrimaryScreenAndKnowsEveryMonitorAddedInQuickSuccession) {
    showLock();

    SplitMonitors split;

    const QRect left(0, 0, 1280, 1024);
    const QRect right(1280, 0, 1280, 1024);
    EXPECT_TRUE(QTest::qWaitFor([this, left] { return controller->window()->geometry() == left; },
                                settleMs));
    EXPECT_TRUE(QTest::qWaitFor(
        [right] {
            const auto screens = platform::Screens::shared().screens();
            return screens.size() == 2 && std::ranges::any_of(screens, [right](const auto& screen) {
                       return screen.frame == right;
                   });
        },
        settleMs));
}

TEST_F(LockWindowOnX11Child, ACoverWindowStaysAboveAnOverrideRedirectWindowMappedLater) {
    CoverWindow cover(QGuiApplication::primaryScreen()->geometry());
    cover.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&cover, settleMs));
    const auto coverId = static_cast<xcb_window_t>(cover.winId());

    other.mapOverrideRedirectWindow();

    EXPECT_TRUE(QTest::qWaitFor(
        [this, coverId] {
            return other.stackingIndex(coverId) > other.stackingIndex(other.window);
        },
        settleMs));
    EXPECT_TRUE(other.isOverrideRedirect(coverId));
    EXPECT_TRUE(other.canGrabKeyboard());  // covers never take the input
}

}  // namespace
