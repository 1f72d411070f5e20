#include "popup_visibility.h"

#include <QEvent>
#include <QPointer>
#include <QWidget>
#include <QWindow>

namespace plinket {

namespace {

// Windows keeps a topmost window above every other one and shows it on the desktop in use; the pop-up
// counts as seen once it is exposed and not minimised.
class ExposureWatch final : public VisibilityWatch {
public:
    explicit ExposureWatch(QWidget* window) : m_window(window) {
        window->installEventFilter(this);
        if (window->windowHandle())
            window->windowHandle()->installEventFilter(this);
    }

    std::optional<Hindrance> check() override {
        DesktopView view;
        QWindow* handle = m_window ? m_window->windowHandle() : nullptr;
        view.viewable = handle && handle->isExposed();
        view.minimised = m_window && m_window->isMinimized();
        return firstHindrance(view);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && m_window && watched == m_window && m_window->windowHandle())
            m_window->windowHandle()->installEventFilter(this);
        if (event->type() == QEvent::Expose || event->type() == QEvent::WindowStateChange)
            emit changed();
        return false;
    }

private:
    QPointer<QWidget> m_window;
};

} // namespace

bool VisibilityWatch::canVerify() {
    return true;
}

std::unique_ptr<VisibilityWatch> VisibilityWatch::create(QWidget* window) {
    return std::make_unique<ExposureWatch>(window);
}

} // namespace plinket
