#include "report_dialog.h"

#include <QButtonGroup>
#include <QCoreApplication>
#include <QDateTimeEdit>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QThreadPool>
#include <QUrl>
#include <QVBoxLayout>

#include "box_guard.h"
#include "cycle_detector.h"
#include "report_command.h"

namespace {

QDateTime shownTime(qint64 logMs) {
    const QDateTime when = fromLogClock(logMs);
    return QDateTime(when.date(), when.time());
}

// What the dialog offers, in its order, with the period each stands for.
std::vector<std::pair<QString, ReportPeriod>> offered(const QList<Shift>& shifts, qint64 nowMs) {
    std::vector<std::pair<QString, ReportPeriod>> out;
    if (const auto current = currentShift(shifts, nowMs))
        out.emplace_back(QStringLiteral("Turno en curso (%1)").arg(current->name), *current);
    const ReportPeriod last = defaultPeriod(shifts, nowMs);
    out.emplace_back(shifts.isEmpty() ? QStringLiteral("Últimas 24 horas")
                                      : QStringLiteral("Último turno (%1)").arg(last.name),
                     last);
    out.emplace_back(QStringLiteral("Hoy"), dayPeriod(nowMs, 0));
    out.emplace_back(QStringLiteral("Ayer"), dayPeriod(nowMs, 1));
    return out;
}

void tell(QWidget* window, QMessageBox::Icon icon, const QString& text) {
    auto* box = new QMessageBox(icon, window->windowTitle(), text, QMessageBox::Ok, window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    BoxGuard::open(box);
}

// Opened in the system's viewer; where there is none, the operator is told where it went.
void show(QWidget* window, const QString& path) {
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(path))) return;
    tell(window, QMessageBox::Information,
         QStringLiteral("Informe guardado en %1. No hay un visor de PDF que lo abra.")
             .arg(QDir::toNativeSeparators(path)));
}

// Off the window's thread: a year of records is about a second's work, and the window
// goes on drawing the module meanwhile. Told to the window once written, if it is still
// there.
void writeInBackground(QWidget* window, const QDir& folder, const ReportPeriod& period,
                       const QString& path) {
    QThreadPool::globalInstance()->start([guard = QPointer<QWidget>(window), folder, period, path] {
        const QString error = writeReport(folder, period, path);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [guard, error, path] {
                if (!guard) return;
                if (!error.isEmpty()) return tell(guard, QMessageBox::Warning, error);
                show(guard, path);
            },
            Qt::QueuedConnection);
    });
}

void saveReport(QWidget* window, const QDir& folder, const ReportPeriod& period) {
    // Not a nested event loop and not modal, as the chart's "Guardar imagen...": the
    // station goes on polling, and its close is never held up by an open dialog.
    auto* dialog = new QFileDialog(window, QStringLiteral("Guardar informe"), folder.path(),
                                   QStringLiteral("Informe PDF (*.pdf)"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setDefaultSuffix(QStringLiteral("pdf"));
    dialog->selectFile(QStringLiteral("informe.pdf"));
    QObject::connect(dialog, &QFileDialog::fileSelected, window,
                     [window, folder, period](const QString& path) {
                         if (!path.isEmpty()) writeInBackground(window, folder, period, path);
                     });
    BoxGuard::open(dialog);
}

}  // namespace

ReportDialog::ReportDialog(const QList<Shift>& shifts, qint64 nowMs, QWidget* parent)
    : QDialog(parent),
      choices_(new QButtonGroup(this)),
      from_(new QDateTimeEdit(this)),
      to_(new QDateTimeEdit(this)) {
    setWindowTitle(QStringLiteral("Informe"));
    auto* layout = new QVBoxLayout(this);
    int id = 0;
    for (const auto& [label, period] : offered(shifts, nowMs)) {
        auto* choice = new QRadioButton(label, this);
        choices_->addButton(choice, id++);
        layout->addWidget(choice);
        periods_.push_back(period);
    }
    auto* between = new QRadioButton(QStringLiteral("Desde / hasta"), this);
    choices_->addButton(between, id);
    layout->addWidget(between);
    const ReportPeriod last = defaultPeriod(shifts, nowMs);
    for (auto [edit, ms] : {std::pair{from_, last.fromMs}, std::pair{to_, last.toMs}}) {
        edit->setDisplayFormat(QStringLiteral("dd/MM/yyyy HH:mm"));
        edit->setDateTime(shownTime(ms));
        edit->setEnabled(false);
        connect(between, &QRadioButton::toggled, edit, &QWidget::setEnabled);
    }
    auto* span = new QFormLayout;
    span->addRow(QStringLiteral("Desde:"), from_);
    span->addRow(QStringLiteral("Hasta:"), to_);
    layout->addLayout(span);
    // The last shift that ended: what the command line takes without a period.
    choices_->button(shifts.isEmpty() || !currentShift(shifts, nowMs) ? 0 : 1)->setChecked(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Guardar..."));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancelar"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

ReportPeriod ReportDialog::period() const {
    const int chosen = choices_->checkedId();
    if (chosen >= 0 && chosen < int(periods_.size())) return periods_[size_t(chosen)];
    return {logClockMs(from_->dateTime()), logClockMs(to_->dateTime()), {}};
}

QPushButton* reportButton(QWidget* window, const QDir& folder) {
    auto* button = new QPushButton(QStringLiteral("Informe..."), window);
    button->setAutoDefault(false);
    new BoxGuard(window);
    QObject::connect(button, &QPushButton::clicked, window, [window, folder] {
        const auto shifts = readShifts(folder);
        if (const auto* error = std::get_if<QString>(&shifts))
            return tell(window, QMessageBox::Warning, *error);
        auto* dialog = new ReportDialog(std::get<QList<Shift>>(shifts), nowLogMs(), window);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        QObject::connect(dialog, &QDialog::accepted, window, [window, folder, dialog] {
            const ReportPeriod period = dialog->period();
            if (period.toMs <= period.fromMs)
                return tell(window, QMessageBox::Warning,
                            QStringLiteral("«Hasta» ha de ser posterior a «Desde»"));
            saveReport(window, folder, period);
        });
        BoxGuard::open(dialog);
    });
    return button;
}
