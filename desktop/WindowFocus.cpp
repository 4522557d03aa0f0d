// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// A window manager maps a window after show() has returned: it then decides
// where the window goes in the stack and may give it the focus, undoing
// whatever was asked before. So the window is shown without taking the
// focus (on X11 its user time is 0, which tells the manager not to focus
// it), and it is raised again once it is on the screen, for a manager puts
// a window that does not take the focus below the focused one.
#include "WindowFocus.h"

#include <QEvent>
#include <QPointer>
#include <QWidget>
#include <QWindow>

namespace folio::ui {

namespace {

// Raises its window at the window's first exposure, then goes.
class RaiseWhenExposed : public QObject {
  public:
    RaiseWhenExposed(QWidget& widget, QWindow& window) : QObject(&window), widget_(&widget) {
        setObjectName(kName);
        window.installEventFilter(this);
    }
    static constexpr const char* kName = "folio_raise_when_exposed";

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* window = static_cast<QWindow*>(watched);
        if (event->type() == QEvent::Expose && window->isExposed()) {
            if (widget_)
                widget_->raise();
            deleteLater();
        }
        return false;
    }

  private:
    QPointer<QWidget> widget_;
};

} // namespace

void ShowKeepingFocus(QWidget& window, QWidget& keeper) {
    const bool wasVisible = window.isVisible();
    const bool quiet = window.testAttribute(Qt::WA_ShowWithoutActivating);
    window.setAttribute(Qt::WA_ShowWithoutActivating, true);
    window.show();
    window.setAttribute(Qt::WA_ShowWithoutActivating, quiet);
    window.raise();
    QWindow* handle = window.windowHandle();
    if (!wasVisible && handle && !handle->findChild<QObject*>(RaiseWhenExposed::kName))
        new RaiseWhenExposed(window, *handle);
    // Activating raises as well: only when the focus has moved elsewhere.
    if (!keeper.isActiveWindow())
        keeper.activateWindow();
}

} // namespace folio::ui
