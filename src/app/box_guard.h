#pragma once

#include <QObject>

class QDialog;
class QWidget;

// The window's dialogs (message boxes, the file dialog) keep the operator away from its
// controls while they are up, without being modal: a window under a modal dialog, and
// every window above it, never hears the system's close request, so the station's
// close box would do nothing until every dialog was answered.
class BoxGuard : public QObject {
    Q_OBJECT
public:
    explicit BoxGuard(QWidget* window);

    // Shows a dialog that belongs to the window.
    static void open(QDialog* box);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QDialog* openBox() const;

    QWidget* window_;
};
