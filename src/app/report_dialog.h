#pragma once

#include <QDialog>
#include <QDir>
#include <QList>

#include "report_period.h"

class QButtonGroup;
class QDateTimeEdit;
class QPushButton;
class QWidget;

// "Informe": which period the shift report covers, chosen from the station's shifts
// ([Turnos] in its modbus.ini): the shift under way, the last one that ended, today,
// yesterday, or from and to. Never modal: the station may close while it is up.
class ReportDialog : public QDialog {
    Q_OBJECT
public:
    ReportDialog(const QList<Shift>& shifts, qint64 nowMs, QWidget* parent);

    ReportPeriod period() const;
    QButtonGroup* choices() const { return choices_; }

private:
    std::vector<ReportPeriod> periods_;  // one a choice, the last one from the edits
    QButtonGroup* choices_;
    QDateTimeEdit* from_;
    QDateTimeEdit* to_;
};

// The "Informe..." button of a window that shows the station's doses: the period's
// dialog, then the file's, neither of them holding up the station's close; the report of
// `folder` written there and opened in the system's PDF viewer when it has one.
QPushButton* reportButton(QWidget* window, const QDir& folder);
