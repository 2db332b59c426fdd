#pragma once

#include <qpa/qwindowsysteminterface.h>

#include <QWidget>
#include <QWindow>

// The close request as the window system delivers it (a window manager's close box, a
// session's end). QWidget::close() and QWindow::close() skip the check that drops this
// request for a window under a modal dialog; this goes through it.
inline void systemCloseRequest(QWidget& window) {
    QWindowSystemInterface::handleCloseEvent<QWindowSystemInterface::SynchronousDelivery>(
        window.windowHandle());
}
