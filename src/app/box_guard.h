#pragma once

#include <QObject>

class QMessageBox;
class QWidget;

// The window's message boxes keep the operator away from its controls while they are
// up, without being modal to it: a window under a modal box never hears the system's
// close request, so the close box would do nothing until every box was answered.
class BoxGuard : public QObject {
    Q_OBJECT
public:
    explicit BoxGuard(QWidget* window);

    // Shows a box that belongs to the window.
    static void open(QMessageBox* box);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QMessageBox* openBox() const;

    QWidget* window_;
};
