#include "frm_peso.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFont>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QTabWidget>
#include <QTimer>

#include "box_guard.h"
#include "changes_view.h"
#include "chart_window.h"
#include "display_map.h"
#include "dose_table.h"
#include "dosing_window.h"
#include "entry.h"
#include "panel_art.h"
#include "panel_widgets.h"
#include "products_view.h"
#include "state_texts.h"
#include "trend_recorder.h"
#include "value_label.h"
#include "weight_format.h"

namespace {

// The layout is kept in twips as it was designed; 15 twips make one pixel at 96 dpi
// and Qt's high-dpi scaling takes care of other screens.
QRect twips(int left, int top, int width, int height) {
    auto px = [](int t) { return qRound(t / 15.0); };
    return {px(left), px(top), px(width), px(height)};
}

QFont sansFont(double points, bool bold) {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

QLabel* caption(QWidget* parent, const QString& text, QRect geometry) {
    auto* label = new QLabel(text, parent);
    label->setFont(sansFont(9.75, false));
    // Liberation Sans runs a pixel wider than the original font on a few captions
    // ("Bruto:", "B. Cero:"); widen just enough that the colon is not cut off.
    const int ink = QFontMetrics(label->font()).tightBoundingRect(text).right() + 1;
    geometry.setWidth(qMax(geometry.width(), ink));
    label->setGeometry(geometry);
    return label;
}

// Read-outs: bold blue on the highlighted-text background, so they stand out from the
// captions like boxes of their own.
QLabel* valueLabel(QWidget* parent, QRect geometry) {
    auto* label = new ValueLabel(parent);
    label->setFont(sansFont(9.75, true));
    label->setGeometry(geometry);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, QColor(0, 0, 255));
    pal.setColor(QPalette::Window, pal.color(QPalette::HighlightedText));
    label->setPalette(pal);
    label->setAutoFillBackground(true);
    return label;
}

QLineEdit* entryBox(QWidget* parent, QRect geometry) {
    auto* box = new QLineEdit(parent);
    box->setFont(sansFont(9.75, false));
    box->setGeometry(geometry);
    return box;
}

QPushButton* button(QWidget* parent, const QString& text, QRect geometry) {
    auto* b = new QPushButton(text, parent);
    b->setGeometry(geometry);
    b->setAutoDefault(false);
    return b;
}

QGroupBox* frame(QWidget* parent, const QString& title, QRect geometry) {
    auto* box = new QGroupBox(title, parent);
    box->setGeometry(geometry);
    return box;
}

bool isEnter(const QKeyEvent* key) {
    return key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
}

}  // namespace

void useLayoutFont() {
    // The layout was drawn for MS Sans Serif; Liberation Sans has nearly its metrics,
    // where fontconfig's own choice (DejaVu Sans) would clip several captions.
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));
}

frmPeso::frmPeso(QWidget* parent) : QWidget(parent) {
    setFont(sansFont(8.25, false));
    setWindowTitle(kStationTitle);
    setFixedSize(twips(0, 0, 10665, 10650).size());

    buildPanel();
    buildWeightFrame();
    buildSetpointFrames();
    buildCommandFrames();
    buildProductStrip();
    // Typed into, or filled by "Usar", a box emptied by a switch of module may send again.
    for (QLineEdit* box : findChildren<QLineEdit*>())
        connect(box, &QLineEdit::textChanged, this, [this, box](const QString& text) {
            if (!text.isEmpty()) emptied_.remove(box);
        });

    lblError = new QLabel(noCommunicationText(), this);
    lblError->setFont(sansFont(8.25, true));
    lblError->setGeometry(twips(7800, 8760, 2535, 495));
    lblError->setWordWrap(true);
    QPalette errorPalette = lblError->palette();
    errorPalette.setColor(QPalette::WindowText, QColor(255, 0, 0));
    lblError->setPalette(errorPalette);
    lblError->hide();

    // Below the weights, where it covers no control and lblError never lies; room for
    // the three records' counts.
    lblPendientes = new QLabel(this);
    lblPendientes->setFont(sansFont(8.25, true));
    lblPendientes->setGeometry(twips(120, 9120, 3000, 1335));
    lblPendientes->setWordWrap(true);
    lblPendientes->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblPendientes->setPalette(errorPalette);
    lblPendientes->hide();

    // Between the red label and the "Gráfico" row: neither covers it, and it hides no
    // control. Red text in a red frame, with its own button to acknowledge it.
    FraDosis = new QFrame(this);
    FraDosis->setGeometry(twips(7800, 9270, 2775, 675));
    FraDosis->setFrameShape(QFrame::Box);
    FraDosis->setPalette(errorPalette);
    lblDosis = new QLabel(FraDosis);
    lblDosis->setFont(sansFont(8.25, true));
    lblDosis->setGeometry(twips(60, 15, 1800, 645));
    lblDosis->setWordWrap(true);
    lblDosis->setPalette(errorPalette);
    cmdAceptarDosis = button(FraDosis, QStringLiteral("Aceptar"), twips(1875, 150, 840, 375));
    connect(cmdAceptarDosis, &QPushButton::clicked, this, &frmPeso::noticeAcknowledged);
    FraDosis->hide();
    // The strip along the window's bottom edge, under the frames and the buttons: one
    // line wide enough for the longest status, clear of every control and of the notices
    // above it (beside the weights there is no room for it under three pending counts).
    lblMqtt = new QLabel(this);
    lblMqtt->setFont(sansFont(8.25, true));
    lblMqtt->setGeometry(twips(120, 10455, 10440, 195));
    lblMqtt->setWordWrap(true);
    lblMqtt->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblMqtt->hide();
    new BoxGuard(this);

    // Below the red label, so that it hides nothing when it shows.
    cmdGrafico = button(this, QStringLiteral("Gráfico"), twips(9480, 9960, 1095, 375));
    connect(cmdGrafico, &QPushButton::clicked, this, &frmPeso::cmdGrafico_Click);
    trend_ = new TrendRecorder(this);
    // Fed from the start; the "Dosificaciones" window takes it over as its "Cambios" tab.
    changes_ = new ChangesView(this);
    changes_->hide();
    // And its "Productos" tab, where there is a product table.
    products_ = new ProductsView(this);
    products_->hide();
    connect(products_, &ProductsView::changeRequested, this, &frmPeso::productChangeRequested);
    cmdDosificaciones =
        button(this, QStringLiteral("Dosificaciones"), twips(8040, 9960, 1335, 375));
    connect(cmdDosificaciones, &QPushButton::clicked, this, &frmPeso::cmdDosificaciones_Click);
    doses_ = new DoseTable(this);
}

void frmPeso::buildPanel() {
    PicDisplay = new PanelPicture(this);
    PicDisplay->setGeometry(twips(120, 120, 10440, 6420));

    const QRectF window = panel::kDisplayWindow;
    const QRect windowRect = twips(window.left(), window.top(), window.width(), window.height());
    ImgSeg[0] = nullptr;
    for (int i = 1; i <= 64; ++i) {
        auto* image = new SegmentImage(i, PicDisplay);
        image->setGeometry(windowRect);
        image->hide();
        ImgSeg[i] = image;
    }
    for (int k = 0; k < 5; ++k) {
        auto* area = new KeyArea(k, PicDisplay);
        area->setGeometry(
            twips(panel::kKeyLeft[k], panel::kKeyTop, panel::kKeySize, panel::kKeySize));
        connect(area, &KeyArea::clicked, this, &frmPeso::Tecla_Click);
        Tecla[k] = area;
    }
}

void frmPeso::buildWeightFrame() {
    FraBalanza = frame(this, QStringLiteral("Peso"), twips(120, 6720, 2535, 2295));
    QWidget* f = FraBalanza;
    Label2 = caption(f, QStringLiteral("Bruto:"), twips(240, 360, 510, 240));
    lblBruto = valueLabel(f, twips(960, 360, 1095, 300));
    Label1 = caption(f, QStringLiteral("kg"), twips(2160, 360, 225, 240));
    Label3 = caption(f, QStringLiteral("Tara:"), twips(240, 720, 480, 240));
    lblTara = valueLabel(f, twips(960, 720, 1095, 300));
    Label5 = caption(f, QStringLiteral("kg"), twips(2160, 720, 225, 240));
    Label4 = caption(f, QStringLiteral("Neto:"), twips(240, 1080, 480, 240));
    lblNeto = valueLabel(f, twips(960, 1080, 1095, 300));
    Label7 = caption(f, QStringLiteral("kg"), twips(2160, 1080, 225, 240));
    Label6 = caption(f, QStringLiteral("Estado:"), twips(240, 1440, 690, 240));
    lblEstado = valueLabel(f, twips(1320, 1440, 735, 300));
    Label10 = caption(f, QStringLiteral("Tarea:"), twips(240, 1800, 600, 240));
    lblTarea = valueLabel(f, twips(1320, 1800, 735, 300));
}

void frmPeso::buildSetpointFrames() {
    Frame1 = frame(this, QStringLiteral("Peso"), twips(3240, 8160, 2535, 2295));
    QWidget* f = Frame1;
    Label24 = caption(f, QStringLiteral("B. Cero:"), twips(240, 360, 705, 240));
    lblBCero = valueLabel(f, twips(960, 360, 1095, 300));
    Label26 = caption(f, QStringLiteral("kg"), twips(2160, 360, 225, 240));
    Label23 = caption(f, QStringLiteral("Grueso:"), twips(240, 720, 705, 240));
    lblGrueso = valueLabel(f, twips(960, 720, 1095, 300));
    Label22 = caption(f, QStringLiteral("kg"), twips(2160, 720, 225, 240));
    Label21 = caption(f, QStringLiteral("Fino:"), twips(240, 1080, 435, 240));
    lblFino = valueLabel(f, twips(960, 1080, 1095, 300));
    Label19 = caption(f, QStringLiteral("kg"), twips(2160, 1080, 225, 240));
    Label8 = caption(f, QStringLiteral("Teorico"), twips(240, 1440, 705, 240));
    lblTeor = valueLabel(f, twips(960, 1440, 1095, 300));
    Label11 = caption(f, QStringLiteral("kg"), twips(2160, 1440, 225, 240));
    Label12 = caption(f, QStringLiteral("Porcent"), twips(240, 1800, 690, 240));
    lblPorc = valueLabel(f, twips(960, 1800, 1095, 300));
    Label14 = caption(f, QStringLiteral("%"), twips(2160, 1800, 180, 240));

    Frame2 = frame(this, QStringLiteral("Enviar Comando"), twips(5880, 8160, 1695, 2295));
    QWidget* g = Frame2;
    const QString arrow = QStringLiteral("->");
    txtBCero = entryBox(g, twips(120, 360, 915, 330));
    cmdBCero = button(g, arrow, twips(1080, 360, 495, 255));
    txtGrueso = entryBox(g, twips(120, 720, 915, 345));
    cmdGrueso = button(g, arrow, twips(1080, 720, 495, 255));
    txtFino = entryBox(g, twips(120, 1080, 915, 345));
    cmdFino = button(g, arrow, twips(1080, 1080, 495, 255));
    txtTeor = entryBox(g, twips(120, 1440, 915, 345));
    cmdTeor = button(g, arrow, twips(1080, 1440, 495, 255));
    txtPorc = entryBox(g, twips(120, 1800, 915, 345));
    cmdPorc = button(g, arrow, twips(1080, 1800, 495, 255));

    connect(cmdBCero, &QPushButton::clicked, this, &frmPeso::cmdBCero_Click);
    connect(cmdGrueso, &QPushButton::clicked, this, &frmPeso::cmdGrueso_Click);
    connect(cmdFino, &QPushButton::clicked, this, &frmPeso::cmdFino_Click);
    connect(cmdTeor, &QPushButton::clicked, this, &frmPeso::cmdTeor_Click);
    connect(cmdPorc, &QPushButton::clicked, this, &frmPeso::cmdPorc_Click);
    // Enter sends from these three boxes only; in txtTeor and txtPorc it does nothing,
    // so a stray Enter cannot change the target weight or the percentage.
    txtBCero->installEventFilter(this);
    txtGrueso->installEventFilter(this);
    txtFino->installEventFilter(this);
}

namespace {

// Below the window as it always was, so that a station without a product table looks as
// it always did.
constexpr int kStripTop = 10650;
constexpr int kStripHeight = 900;

}  // namespace

void frmPeso::buildProductStrip() {
    FraProducto = new QWidget(this);
    FraProducto->setGeometry(twips(0, kStripTop, 10665, kStripHeight));
    QWidget* f = FraProducto;
    caption(f, QStringLiteral("Producto:"), twips(120, 90, 900, 240));
    cboProducto = new QComboBox(f);
    cboProducto->setGeometry(twips(1080, 45, 2400, 330));
    cboProducto->setAccessibleName(QStringLiteral("Producto"));
    cmdAplicar = button(f, QStringLiteral("Aplicar"), twips(3540, 45, 900, 330));
    cmdAplicar->setAccessibleName(QStringLiteral("Aplicar producto"));
    lblProducto = new QLabel(f);
    lblProducto->setFont(sansFont(9.75, true));
    lblProducto->setGeometry(twips(4560, 90, 6000, 300));
    caption(f, QStringLiteral("Lote:"), twips(120, 525, 900, 240));
    txtLote = entryBox(f, twips(1080, 480, 2400, 330));
    txtLote->setAccessibleName(QStringLiteral("Lote"));
    txtLote->setMaxLength(40);
    caption(f, QStringLiteral("Dosis:"), twips(3540, 525, 600, 240));
    txtDosis = entryBox(f, twips(4200, 480, 900, 330));
    txtDosis->setAccessibleName(QStringLiteral("Dosis planificadas"));
    txtDosis->setMaxLength(5);
    cmdLote = button(f, QStringLiteral("Aplicar"), twips(5160, 480, 900, 330));
    cmdLote->setAccessibleName(QStringLiteral("Aplicar lote"));
    lblLote = new QLabel(f);
    lblLote->setFont(sansFont(9.75, true));
    lblLote->setGeometry(twips(6180, 525, 4380, 300));
    connect(cmdAplicar, &QPushButton::clicked, this, [this] {
        if (cboProducto->currentIndex() >= 0) emit productChosen(cboProducto->currentText());
    });
    const auto enterLot = [this] {
        // As any other box: one emptied by a switch of module says nothing.
        if (emptied_.contains(txtLote) && emptied_.contains(txtDosis)) return;
        emit lotEntered(txtLote->text(), txtDosis->text());
    };
    connect(cmdLote, &QPushButton::clicked, this, enterLot);
    connect(txtLote, &QLineEdit::returnPressed, this, enterLot);
    connect(txtDosis, &QLineEdit::returnPressed, this, enterLot);
    FraProducto->hide();
}

void frmPeso::showProducts(const ModuleState& state) {
    // The strip comes and goes with the table, which may be saved or removed while the
    // station runs.
    const bool kept = state.productsKept;
    if (kept == FraProducto->isHidden()) {
        setFixedSize(twips(0, 0, 10665, kept ? kStripTop + kStripHeight : kStripTop).size());
        FraProducto->setVisible(kept);
    }
    if (!kept) return;
    if (state.products != shownProducts_) {
        shownProducts_ = state.products;
        cboProducto->clear();
        cboProducto->addItems(state.products);
    }
    cboProducto->setEnabled(!state.products.isEmpty());
    cmdAplicar->setEnabled(!state.products.isEmpty());
    QPalette palette = lblProducto->palette();
    const bool problem = !state.productProblem.isEmpty();
    palette.setColor(QPalette::WindowText, problem ? QColor(255, 0, 0) : QColor(0, 0, 255));
    lblProducto->setPalette(palette);
    lblProducto->setWordWrap(problem);
    if (problem)
        lblProducto->setText(state.productProblem);
    else if (state.product)
        lblProducto->setText(state.product->isEmpty()
                                 ? QStringLiteral("En el módulo: sin producto")
                                 : QStringLiteral("En el módulo: ") + *state.product);
    else
        lblProducto->clear();
    const Lot& lot = state.lot;
    lblLote->setText(
        lot.name.isEmpty() ? QStringLiteral("sin lote")
        : lot.planned > 0
            ? QStringLiteral("%1: %2 de %3").arg(lot.name).arg(lot.done).arg(lot.planned)
            : QStringLiteral("%1: %2 dosis").arg(lot.name).arg(lot.done));
}

void frmPeso::buildCommandFrames() {
    FraTxCMD = frame(this, QStringLiteral("Enviar Comando"), twips(3240, 6720, 4335, 1335));
    QWidget* f = FraTxCMD;
    Label16 = caption(f, QStringLiteral("Comando:"), twips(240, 360, 930, 240));
    txtComando = entryBox(f, twips(1680, 360, 915, 330));
    cmdComando = button(f, QStringLiteral("Enviar"), twips(2880, 360, 1095, 375));
    Label9 = caption(f, QStringLiteral("Dato:"), twips(240, 840, 480, 240));
    txtDato = entryBox(f, twips(1080, 840, 1515, 345));
    cmdDato = button(f, QStringLiteral("Enviar"), twips(2880, 840, 1095, 375));
    connect(cmdComando, &QPushButton::clicked, this, &frmPeso::cmdComando_Click);
    connect(cmdDato, &QPushButton::clicked, this, &frmPeso::cmdDato_Click);
    txtComando->installEventFilter(this);
    txtDato->installEventFilter(this);

    FraRxCMD = frame(this, QStringLiteral("Leer Dato"), twips(7800, 6720, 2775, 1935));
    QWidget* g = FraRxCMD;
    Label13 = caption(g, QStringLiteral("Comando:"), twips(240, 360, 930, 240));
    lblComando = valueLabel(g, twips(1560, 360, 735, 300));
    Label18 = caption(g, QStringLiteral("Resultado:"), twips(240, 720, 975, 240));
    lblResultado = valueLabel(g, twips(1560, 720, 735, 300));
    Label20 = caption(g, QStringLiteral("Dato:"), twips(240, 1080, 480, 240));
    lblDato = valueLabel(g, twips(840, 1080, 1455, 300));
    lblDato0 = valueLabel(g, twips(240, 1440, 495, 300));
    lblDato1 = valueLabel(g, twips(720, 1440, 495, 300));
    lblDato2 = valueLabel(g, twips(1320, 1440, 495, 300));
    lblDato3 = valueLabel(g, twips(1800, 1440, 495, 300));
}

void frmPeso::setNumberFormat(int decimals, const QLocale& locale) {
    decimals_ = decimals;
    locale_ = locale;
    trend_->setNumberFormat(decimals, locale);
    doses_->setNumberFormat(decimals, locale);
}

void frmPeso::showDisplay(const QByteArray& image) {
    const SegmentStates states = segmentsFromDisplay(image);
    // Touch only the elements whose state changes: a full repaint of 64 overlays at
    // every poll would make the replica flicker.
    for (int i = 1; i <= 64; ++i) {
        if (ImgSeg[i]->isHidden() == states[i]) ImgSeg[i]->setVisible(states[i]);
    }
}

void frmPeso::showWeights(const WeightReading& w) {
    lblBruto->setText(formatWeight(w.gross, decimals_, locale_));
    lblTara->setText(formatWeight(w.tare, decimals_, locale_));
    lblNeto->setText(formatWeight(w.net, decimals_, locale_));
    lblEstado->setText(QString::number(w.state));
    lblTarea->setText(QString::number(w.task));
}

void frmPeso::showSetpoints(const Setpoints& s) {
    lblBCero->setText(formatWeight(s.zeroBand, decimals_, locale_));
    lblGrueso->setText(formatWeight(s.coarse, decimals_, locale_));
    lblFino->setText(formatWeight(s.fine, decimals_, locale_));
    lblTeor->setText(formatWeight(s.target, decimals_, locale_));
    lblPorc->setText(QString::number(s.percentage));
}

void frmPeso::showReadback(const CommandReadback& r) {
    lblComando->setText(QString::number(r.command));
    lblResultado->setText(QString::number(r.result));
    lblDato->setText(QString::number(r.data));
    lblDato0->setText(QString::number(r.dataBytes[0]));
    lblDato1->setText(QString::number(r.dataBytes[1]));
    lblDato2->setText(QString::number(r.dataBytes[2]));
    lblDato3->setText(QString::number(r.dataBytes[3]));
}

void frmPeso::showState(const ModuleState& state) {
    lblError->setVisible(state.silent());
    showPending(state);
    if (state.notice) lblDosis->setText(*state.notice);
    FraDosis->setVisible(state.notice.has_value());
    doses_->show(state);
    showProducts(state);
    products_->show(state, doses_->locale());
    showProductsTab();
}

void frmPeso::showProductsTab() {
    if (!dosing_) return;
    QTabWidget* tabs = dosing_->tabs();
    tabs->setTabVisible(tabs->indexOf(products_), doses_->state().productsKept);
}

void frmPeso::showPending(const ModuleState& state) {
    // The files live in one directory and usually fail together: one notice names each
    // file with its own count, readings, doses and changes not being the same thing.
    QStringList parts;
    for (const Record record : {Record::Weights, Record::Doses, Record::Changes})
        if (const int count = state.pendingOf(record); count > 0)
            parts << pendingText(record, count);
    lblPendientes->setText(notWrittenText(parts));
    lblPendientes->setVisible(!parts.isEmpty());
}

void frmPeso::markDoseFinal(const DoseRecord& record) {
    if (record.finalNet)
        trend_->markFinal(doses_->weight(*record.finalNet), outOfTolerance(record));
}

void frmPeso::showMqttStatus(const MqttStatus& status) {
    QPalette palette = lblMqtt->palette();
    palette.setColor(QPalette::WindowText, status.connected
                                               ? this->palette().color(QPalette::WindowText)
                                               : QColor(255, 0, 0));
    lblMqtt->setPalette(palette);
    lblMqtt->setText(mqttStatusText(status));
    lblMqtt->show();
}

void frmPeso::showWriteFailed() {
    queueBox(QStringLiteral("Error"));
}

void frmPeso::showWriteFinished(const WriteOutcome& outcome) {
    // A product's refusal is told for the whole product (showMessage).
    if (outcome.result != WriteResult::Rechazado || !outcome.request.group.isEmpty()) return;
    queueBox(QStringLiteral("El módulo rechazó el valor: %1 (excepción %2, registro %3)")
                 .arg(exceptionMeaning(outcome.exceptionCode))
                 .arg(outcome.exceptionCode)
                 .arg(outcome.attempted.isEmpty() ? 0 : outcome.attempted.last().address));
}

void frmPeso::queueBox(const QString& text) {
    queuedBoxes_ << text;
    if (!writeBox_) openNextBox();
}

void frmPeso::openNextBox() {
    // A silent module fails press after press: the operator acknowledges each report in
    // turn instead of getting a pile of boxes on top of each other.
    auto* box = new QMessageBox(QMessageBox::NoIcon, kStationTitle, queuedBoxes_.takeFirst(),
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this, [this] {
        // The closed box is deleted later; from now on it no longer counts as open, so a
        // failure reported in between opens its own box instead of waiting for nothing.
        writeBox_.clear();
        if (!queuedBoxes_.isEmpty()) openNextBox();
    });
    writeBox_ = box;
    BoxGuard::open(box);
}

void frmPeso::openMessage(const QString& text) {
    auto* box = new QMessageBox(QMessageBox::NoIcon, kStationTitle, text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    BoxGuard::open(box);
}

void frmPeso::showEntryOutOfRange() {
    openMessage(QStringLiteral("Valor fuera de rango"));
}

void frmPeso::showMessage(const QString& text) {
    queueBox(text);
}

void frmPeso::enter(Control control, QLineEdit* box) {
    if (emptied_.contains(box)) return;
    const QString typed = box->text();
    // The box shows what the entry reads as, as the station will send it.
    box->setText(normalizeEntry(typed, locale_).text);
    emit entered({control, typed});
}

void frmPeso::emptyEntries() {
    for (QLineEdit* box : findChildren<QLineEdit*>()) {
        box->clear();
        emptied_.insert(box);
    }
}

void frmPeso::cmdBCero_Click() {
    enter(Control::BCero, txtBCero);
}
void frmPeso::cmdGrueso_Click() {
    enter(Control::Grueso, txtGrueso);
}
void frmPeso::cmdFino_Click() {
    enter(Control::Fino, txtFino);
}
void frmPeso::cmdTeor_Click() {
    enter(Control::Teor, txtTeor);
}
void frmPeso::cmdPorc_Click() {
    enter(Control::Porc, txtPorc);
}
void frmPeso::cmdComando_Click() {
    enter(Control::Comando, txtComando);
}
void frmPeso::cmdDato_Click() {
    enter(Control::Dato, txtDato);
}

void frmPeso::Tecla_Click(int index) {
    emit keyPressed(index);
}

ChartWindow* frmPeso::chartWindow() const {
    return chart_;
}

void frmPeso::cmdGrafico_Click() {
    if (!chart_) chart_ = new ChartWindow(*trend_, this);
    chart_->show();
    chart_->raise();
    chart_->activateWindow();
}

DosingWindow* frmPeso::dosingWindow() const {
    return dosing_;
}

void frmPeso::cmdDosificaciones_Click() {
    if (!dosing_) {
        dosing_ = new DosingWindow(*doses_, this);
        dosing_->tabs()->addTab(changes_, QStringLiteral("Cambios"));
        dosing_->tabs()->addTab(products_, QStringLiteral("Productos"));
        showProductsTab();
        // Only into the box, as the operator would type it (entries are written to the
        // module unscaled); the operator sends it, as any other value, with its "->".
        connect(dosing_, &DosingWindow::useFine, this,
                [this](qint64 steps) { txtFino->setText(QString::number(steps)); });
    }
    dosing_->show();
    dosing_->raise();
    dosing_->activateWindow();
}

void frmPeso::txtBCero_KeyPress(int keyAscii) {
    if (keyAscii == 13) cmdBCero_Click();
}
void frmPeso::txtGrueso_KeyPress(int keyAscii) {
    if (keyAscii == 13) cmdGrueso_Click();
}
void frmPeso::txtFino_KeyPress(int keyAscii) {
    if (keyAscii == 13) cmdFino_Click();
}
void frmPeso::txtComando_KeyPress(int keyAscii) {
    if (keyAscii == 13) cmdComando_Click();
}
void frmPeso::txtDato_KeyPress(int keyAscii) {
    if (keyAscii == 13) cmdDato_Click();
}

bool frmPeso::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && isEnter(static_cast<QKeyEvent*>(event))) {
        if (watched == txtBCero) txtBCero_KeyPress(13);
        if (watched == txtGrueso) txtGrueso_KeyPress(13);
        if (watched == txtFino) txtFino_KeyPress(13);
        if (watched == txtComando) txtComando_KeyPress(13);
        if (watched == txtDato) txtDato_KeyPress(13);
    }
    // The box still gets the key, as it would without a handler.
    return QWidget::eventFilter(watched, event);
}

void frmPeso::closeEvent(QCloseEvent* event) {
    emit unloading();
    event->accept();
}
