#pragma once

#include <QByteArray>
#include <QLocale>
#include <QPointer>
#include <QSet>
#include <QTimer>
#include <QWidget>
#include <array>
#include <optional>

#include "dose_record.h"
#include "module_state.h"
#include "mqtt_publisher.h"
#include "operator_entry.h"
#include "readers.h"
#include "requests.h"

class QComboBox;
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
class ProductsView;
class TrendRecorder;

// The program's name, in the window's title bar and on every message box.
inline const QString kStationTitle = QStringLiteral("Vormel-Q");

// Process-wide: the font the layout was drawn for, replaced by one that fits it. Once at
// start-up, before the window is built.
void useLayoutFont();

// The station's one window: the module's front panel replica on top, the weight,
// setpoint and command read-outs and entries below. It only shows what it is given (the
// readings, and the module's state as the station keeps it) and hands the operator's
// entries and keys on as they were made; the station decides what they send and records.
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

    // The module's dose notice, in red until the operator acknowledges it with cmdAceptarDosis.
    QFrame* FraDosis;
    QLabel* lblDosis;
    QPushButton* cmdAceptarDosis;

    // What is dosed, below everything else and only with a product table: the product to
    // apply and the one the module holds; the lot and its planned count, and its progress.
    QWidget* FraProducto;
    QComboBox* cboProducto;
    QPushButton* cmdAplicar;
    QLabel* lblProducto;
    QLineEdit *txtLote, *txtDosis;
    QPushButton* cmdLote;
    QLabel* lblLote;

    // Opens the weight chart, which records from the start whether open or not.
    QPushButton* cmdGrafico;
    TrendRecorder* trend() const { return trend_; }
    ChartWindow* chartWindow() const;
    // The operator's last changes, for the window that shows them as a tab.
    ChangesView* changesView() const { return changes_; }
    ProductsView* productsView() const { return products_; }

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
    // The red label, the pending records' notice, the dose notice and the
    // "Dosificaciones" window's rows and figures.
    void showState(const ModuleState& state);
    // A cycle's final weight as soon as it is taken, marked on the chart.
    void markDoseFinal(const DoseRecord& record);
    void showMqttStatus(const MqttStatus& status);
    // The station sent nothing for the entry: it fits no register.
    void showEntryOutOfRange();
    // What the station says of an action of the operator's, in a box of its own.
    void showMessage(const QString& text);
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

    // Every entry box emptied, so that a value half typed for another module is never
    // sent to this one: until the operator types into it again, a box emptied here sends
    // nothing.
    void emptyEntries();

signals:
    void entered(const OperatorEntry& entry);
    void keyPressed(int index);
    void productChosen(const QString& name);
    void lotEntered(const QString& name, const QString& planned);
    // From the "Productos" tab: the product of `fields` in place of `before`.
    void productChangeRequested(const QString& before, const QStringList& fields);
    void noticeAcknowledged();
    void unloading();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildWeightFrame();
    void buildSetpointFrames();
    void buildCommandFrames();
    void buildPanel();
    void buildProductStrip();
    void showProducts(const ModuleState& state);
    void showProductsTab();

    void showPending(const ModuleState& state);
    void enter(Control control, QLineEdit* box);
    void openMessage(const QString& text);
    void queueBox(const QString& text);
    void openNextBox();

    int decimals_ = 0;
    QLocale locale_ = QLocale::system();
    QPointer<QMessageBox> writeBox_;
    TrendRecorder* trend_;
    QPointer<ChartWindow> chart_;
    ChangesView* changes_;
    ProductsView* products_;
    QStringList queuedBoxes_;
    DoseTable* doses_;
    QPointer<DosingWindow> dosing_;
    QSet<const QLineEdit*> emptied_;
    QStringList shownProducts_;
};
