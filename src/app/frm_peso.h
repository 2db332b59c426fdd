#pragma once

#include <QByteArray>
#include <QLocale>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <array>
#include <optional>

#include "dose_record.h"
#include "mqtt_publisher.h"
#include "readers.h"
#include "requests.h"

class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMessageBox;
class QPushButton;
class ChangesView;
class ChartWindow;
class DoseTable;
class DosingWindow;
class TrendRecorder;

// The program's name, in the window's title bar and on every message box.
inline const QString kStationTitle = QStringLiteral("Vormel-Q");

// Process-wide: the font the layout was drawn for, replaced by one that fits it. Once at
// start-up, before the window is built.
void useLayoutFont();

// The station's one window: the module's front panel replica on top, the weight,
// setpoint and command read-outs and entries below. It only shows what it is given and
// turns operator actions into write requests; the link worker does the talking.
class frmPeso : public QWidget {
    Q_OBJECT
public:
    explicit frmPeso(QWidget* parent = nullptr);

    // Decimals for the weight and setpoint labels; locale for the decimal separator and
    // for reading entries (default QLocale::system()).
    void setNumberFormat(int decimals, const QLocale& locale);

    // Weight block.
    QGroupBox* FraBalanza;
    QLabel *Label2, *Label3, *Label4, *Label6, *Label10;
    QLabel *lblBruto, *lblTara, *lblNeto, *lblEstado, *lblTarea;
    QLabel *Label1, *Label5, *Label7;

    // Setpoint read-back.
    QGroupBox* Frame1;
    QLabel *Label24, *Label23, *Label21, *Label8, *Label12;
    QLabel *lblBCero, *lblGrueso, *lblFino, *lblTeor, *lblPorc;
    QLabel *Label26, *Label22, *Label19, *Label11, *Label14;

    // Setpoint entry.
    QGroupBox* Frame2;
    QLineEdit *txtBCero, *txtGrueso, *txtFino, *txtTeor, *txtPorc;
    QPushButton *cmdBCero, *cmdGrueso, *cmdFino, *cmdTeor, *cmdPorc;

    // Command and data entry.
    QGroupBox* FraTxCMD;
    QLabel *Label16, *Label9;
    QLineEdit *txtComando, *txtDato;
    QPushButton *cmdComando, *cmdDato;

    // Command read-back.
    QGroupBox* FraRxCMD;
    QLabel *Label13, *Label18, *Label20;
    QLabel *lblComando, *lblResultado, *lblDato;
    QLabel *lblDato0, *lblDato1, *lblDato2, *lblDato3;

    QLabel* lblError;
    // Lines of the log, the dosing record and the change record that could not be written
    // yet, in red with their counts.
    QLabel* lblPendientes;
    // The plant's broker: connected, or in red why not and how much waits for it. Hidden
    // when the station publishes to no broker.
    QLabel* lblMqtt;

    // A dose out of tolerance, in red until the operator acknowledges it with cmdAceptarDosis.
    QFrame* FraDosis;
    QLabel* lblDosis;
    QPushButton* cmdAceptarDosis;

    // Opens the weight chart, which records from the start whether open or not.
    QPushButton* cmdGrafico;
    TrendRecorder* trend() const { return trend_; }
    ChartWindow* chartWindow() const;
    // The operator's last changes, for the window that shows them as a tab.
    ChangesView* changesView() const { return changes_; }

    // Opens the dosing cycles' window; the cycles are kept from the start whether it is
    // open or not.
    QPushButton* cmdDosificaciones;
    DoseTable* doses() const { return doses_; }
    DosingWindow* dosingWindow() const;

    // Front panel: the drawing, the 64 display elements (index 0 unused) and the five
    // key areas.
    QWidget* PicDisplay;
    std::array<QWidget*, 65> ImgSeg{};
    std::array<QWidget*, 5> Tecla{};

public slots:
    // 8 display bytes -> ImgSeg visibility; only the elements that change are touched.
    void showDisplay(const QByteArray& image);
    void showWeights(const WeightReading& w);
    void showSetpoints(const Setpoints& s);
    void showReadback(const CommandReadback& r);
    void showCommunicationLost();
    // A cycle's final weight as soon as it is taken: marked on the chart, and one out of
    // tolerance shows the notice (the latest replaces an earlier one not yet acknowledged).
    void showDoseFinal(const DoseRecord& record);
    // A cycle as recorded in Dosificaciones.csv when it ends: one more row in the
    // "Dosificaciones" window.
    void showDoseEnded(const DoseRecord& record);
    void showDosePending(int count);
    void showLogPending(int count);
    void showChangesPending(int count);
    void showMqttStatus(const MqttStatus& status);
    // One "Error" box per failed run of writes, one box per write the module refused,
    // each keeping the operator from the window but not modal; while one is open,
    // further boxes queue up and follow one after another.
    void showWriteFailed();
    void showWriteFinished(const WriteOutcome& outcome);

    void cmdBCero_Click();
    void cmdGrueso_Click();
    void cmdFino_Click();
    void cmdTeor_Click();
    void cmdPorc_Click();
    void cmdComando_Click();
    void cmdDato_Click();
    void Tecla_Click(int index);
    void cmdGrafico_Click();
    void cmdDosificaciones_Click();

    // Key presses in the boxes that send on Enter (character code 13).
    void txtBCero_KeyPress(int keyAscii);
    void txtGrueso_KeyPress(int keyAscii);
    void txtFino_KeyPress(int keyAscii);
    void txtComando_KeyPress(int keyAscii);
    void txtDato_KeyPress(int keyAscii);

signals:
    void writeRequested(const WriteRequest& request);
    // An entry that fits no register ends here, as "Fuera de rango", with nothing queued.
    void writeFinished(const WriteOutcome& outcome);
    void unloading();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildWeightFrame();
    void buildSetpointFrames();
    void buildCommandFrames();
    void buildPanel();

    void clearError();
    void showPending();
    double takeEntry(QLineEdit* box);
    void sendSetpoint(Setpoint setpoint, QLineEdit* box, const QLabel* caption,
                      const QLabel* shown);
    void send(const std::optional<WriteRequest>& request, const QLineEdit* box,
              const QLabel* caption, const QString& antes, bool weight);
    QString shownValue(quint32 value, bool weight) const;
    void openMessage(const QString& text);
    void queueBox(const QString& text);
    void openNextBox();

    int decimals_ = 0;
    QLocale locale_ = QLocale::system();
    QPointer<QMessageBox> writeBox_;
    TrendRecorder* trend_;
    QPointer<ChartWindow> chart_;
    ChangesView* changes_;
    QStringList queuedBoxes_;
    DoseTable* doses_;
    QPointer<DosingWindow> dosing_;
    int logPending_ = 0;
    int dosePending_ = 0;
    int changesPending_ = 0;
};
