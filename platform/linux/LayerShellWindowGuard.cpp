// The layer-shell window guard: the window is kept off the screen as a toolkit window
// (Qt::WA_DontShowOnScreen) and shown, from its show to its hide, on an overlay surface of the
// output that shows its screen. Should our connection be lost, the window falls back to an
// ordinary one rather than be shown nowhere.
#include "platform/linux/LayerShellWindowGuard.h"

#include <QDebug>
#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QWidget>

#include "platform/linux/LayerShellConnection.h"
#include "platform/linux/LayerShellSurface.h"

namespace platform::wayland {

namespace {

class LayerShellWindowGuard : public QObject, public WindowGuard {
  public:
    LayerShellWindowGuard(LayerShellConnection& connection, QWidget& window, bool takesKeyboard)
        : connection(connection), window(&window), takesKeyboard(takesKeyboard) {
        window.setAttribute(Qt::WA_DontShowOnScreen);
        window.installEventFilter(this);
        connect(&connection, &LayerShellConnection::connectionLost, this,
                &LayerShellWindowGuard::fallBack);
        if (window.isVisible())
            present();
    }
    ~LayerShellWindowGuard() override {
        if (window)
            window->removeEventFilter(this);
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != window)
            return false;
        if (event->type() == QEvent::Show)
            present();
        else if (event->type() == QEvent::Hide)
            overlay.reset();
        return false;
    }

  private:
    void present() {
        if (overlay || connection.isLost() || !window)
            return;
        const QRect frame = window->geometry();
        const QScreen* screen = QGuiApplication::screenAt(frame.center());
        const auto* output = connection.outputFor(screen ? screen->name() : QString(), frame);
        // A cover without its output would land where the compositor chooses, maybe over the
        // lock itself; the lock window goes there all the same.
        if (!output && !takesKeyboard) {
            qWarning().noquote() << "Layer shell: no output shows the screen at" << frame
                                 << "; it stays uncovered";
            return;
        }
        overlay = std::make_unique<LayerShellSurface>(
            connection, *window, output ? output->output : nullptr, takesKeyboard);
        const QString where = output ? output->name : QStringLiteral("the compositor's choice");
        if (takesKeyboard) {
            overlay->onFirstFrame = [where](qint64 elapsedMs) {
                qInfo().noquote() << "Layer shell: the lock is on" << where << elapsedMs
                                  << "ms after it was shown";
            };
        }
        // Its output went: the screens' change makes the covers again.
        overlay->onClosed = [this] {
            QMetaObject::invokeMethod(
                this, [this] { overlay.reset(); }, Qt::QueuedConnection);
        };
    }
    void fallBack() {
        overlay.reset();
        if (!window)
            return;
        window->setAttribute(Qt::WA_DontShowOnScreen, false);
        if (window->isVisible()) {
            window->hide();
            window->show();
        }
    }

    LayerShellConnection& connection;
    QPointer<QWidget> window;
    bool takesKeyboard;
    std::unique_ptr<LayerShellSurface> overlay;
};

}  // namespace

std::unique_ptr<WindowGuard> makeLayerShellWindowGuard(LayerShellConnection& connection,
                                                       QWidget& window, bool takesKeyboard) {
    return std::make_unique<LayerShellWindowGuard>(connection, window, takesKeyboard);
}

}  // namespace platform::wayland
