#pragma once

#include <QWidget>
#include <QWindow>
#include <qpa/qwindowsysteminterface.h>

// The close request as the window system delivers it (a window manager's close box, a
// session's end). QWidget::close() and QWindow::close() skip the check that drops this
// request for a window under a modal dialog; this goes through it. True when the
// window took the request.
inline bool systemCloseRequest(QWidget& window) {
    return QWindowSystemInterface::handleCloseEvent<QWindowSystemInterface::SynchronousDelivery>(
        window.windowHandle());
}
