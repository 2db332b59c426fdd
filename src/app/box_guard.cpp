#include "box_guard.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>

namespace {

bool isOperatorInput(const QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Wheel:
        case QEvent::Shortcut:
            return true;
        default:
            return false;
    }
}

}  // namespace

BoxGuard::BoxGuard(QWidget* window) : QObject(window), window_(window) {
    qApp->installEventFilter(this);
}

void BoxGuard::open(QDialog* box) {
    box->setWindowModality(Qt::NonModal);
    box->show();
}

QDialog* BoxGuard::openBox() const {
    for (QDialog* box : window_->findChildren<QDialog*>(Qt::FindDirectChildrenOnly))
        if (box->isVisible()) return box;
    return nullptr;
}

bool BoxGuard::eventFilter(QObject* watched, QEvent* event) {
    if (!isOperatorInput(event) || !watched->isWidgetType()) return false;
    if (static_cast<QWidget*>(watched)->window() != window_) return false;
    QDialog* box = openBox();
    if (box == nullptr) return false;
    // As under a modal box: the click goes nowhere and the box comes to the front.
    if (event->type() == QEvent::MouseButtonPress) {
        box->raise();
        box->activateWindow();
    }
    return true;
}
