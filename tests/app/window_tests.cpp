#include <gtest/gtest.h>

#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "display_map.h"
#include "frm_peso.h"
#include "harness.h"
#include "mqtt_publisher.h"
#include "panel_art.h"

namespace {

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        useLayoutFont();
        form = std::make_unique<frmPeso>();
        form->setNumberFormat(0, QLocale(QLocale::Spanish, QLocale::Spain));
        spy = std::make_unique<QSignalSpy>(form.get(), &frmPeso::entered);
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }

    QList<QMessageBox*> messageBoxes() const { return form->findChildren<QMessageBox*>(); }

    std::unique_ptr<frmPeso> form;
    std::unique_ptr<QSignalSpy> spy;
};

QList<QLabel*> valueLabels(const frmPeso& f) {
    return {f.lblBruto,  f.lblTara,  f.lblNeto,  f.lblEstado, f.lblTarea,   f.lblBCero,
            f.lblGrueso, f.lblFino,  f.lblTeor,  f.lblPorc,   f.lblComando, f.lblResultado,
            f.lblDato,   f.lblDato0, f.lblDato1, f.lblDato2,  f.lblDato3};
}

// The operator's message boxes: plain, titled with the program's name, and shown
// without blocking the window (which would swallow the system's close request).
void expectPlainBox(QMessageBox* box, const char* text) {
    EXPECT_EQ(box->text(), text);
    EXPECT_EQ(box->windowTitle(), "Vormel-Q");
    EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
    EXPECT_TRUE(box->isVisible());
    EXPECT_FALSE(box->isModal());
}

// Pixels of the display window dark as the LCD's ink; the glass itself is a light green.
int inkPixels(const frmPeso& f) {
    const QImage image = f.PicDisplay->grab(f.ImgSeg[1]->geometry()).toImage();
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) n += qGray(image.pixel(x, y)) < 90 ? 1 : 0;
    return n;
}

int visibleSegments(const frmPeso& f) {
    int n = 0;
    for (int i = 1; i <= 64; ++i) n += f.ImgSeg[i]->isHidden() ? 0 : 1;
    return n;
}

// ---- Layout and initial state --------------------------------------------------------------

TEST_F(WindowTest, StartsEmptyWithItsCaptions) {
    EXPECT_EQ(form->windowTitle(), "Vormel-Q");
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    for (QLabel* label : valueLabels(*form)) EXPECT_TRUE(label->text().isEmpty());
    EXPECT_TRUE(form->lblError->isHidden());
    EXPECT_EQ(visibleSegments(*form), 0);

    const std::pair<QString, const char*> captions[] = {
        {form->lblError->text(), "ERROR: No hay comunicación con el módulo"},
        {form->FraBalanza->title(), "Peso"},
        {form->Frame1->title(), "Peso"},
        {form->Frame2->title(), "Enviar Comando"},
        {form->FraTxCMD->title(), "Enviar Comando"},
        {form->FraRxCMD->title(), "Leer Dato"},
        {form->cmdComando->text(), "Enviar"},
        {form->cmdDato->text(), "Enviar"},
        {form->Label8->text(), "Teorico"}};
    for (const auto& [shown, expected] : captions) EXPECT_EQ(shown, expected);
    for (QPushButton* b :
         {form->cmdBCero, form->cmdGrueso, form->cmdFino, form->cmdTeor, form->cmdPorc})
        EXPECT_EQ(b->text(), "->");
}

// Every caption has to fit its box in the substitute font, or the operator reads half a
// word.
TEST_F(WindowTest, CaptionsFitTheirBoxes) {
    for (QLabel* label : form->findChildren<QLabel*>()) {
        if (label == form->lblError || label->text().isEmpty()) continue;
        const QFontMetrics m(label->font());
        // The ink, not the advance: the spacing after the last glyph may hang over unseen.
        EXPECT_LT(m.tightBoundingRect(label->text()).right(), label->width())
            << label->text().toStdString();
    }
    const QFontMetrics m(form->lblError->font());
    const QRect needed =
        m.boundingRect(form->lblError->rect(), Qt::TextWordWrap, form->lblError->text());
    EXPECT_LE(needed.height(), form->lblError->height());
}

// ---- Poll results ----------------------------------------------------------------------------

// Whether the module answers is the station's to say: a reading shown meanwhile (the
// last one of a poll that failed further on) does not clear the label.
TEST_F(WindowTest, ErrorLabelFollowsTheModulesStateAlone) {
    ModuleState state;
    form->showState(state);
    EXPECT_TRUE(form->lblError->isHidden());
    state.answering = false;
    form->showState(state);
    form->showDisplay(QByteArray(8, '\0'));
    form->showWeights({});
    form->showSetpoints({});
    form->showReadback({});
    EXPECT_FALSE(form->lblError->isHidden());
    state.answering = true;
    form->showState(state);
    EXPECT_TRUE(form->lblError->isHidden());
}

TEST_F(WindowTest, DisplayBytesLightTheirCharactersInOrder) {
    EXPECT_EQ(inkPixels(*form), 0);
    form->showDisplay(QByteArray(8, '\xff'));
    EXPECT_EQ(visibleSegments(*form), 64);
    // Every element lit at once, kept for eyes: six eights, four points, every marker and sign.
    form->PicDisplay->grab().save(QStringLiteral(VORMELQ_BINARY_DIR "/panel_full.png"));
    // Each one shows in ink on the glass, but the two points the glass does not have.
    for (int i = 1; i <= 64; ++i) {
        QByteArray one(8, '\0');
        one[(i - 1) / 8] = static_cast<char>(1 << ((i - 1) % 8));
        form->showDisplay(one);
        const bool outerPoint = i == seg::digitFirst(0) || i == seg::digitFirst(5);
        EXPECT_EQ(inkPixels(*form) > 0, !outerPoint) << i;
    }

    // Character 1 is the first byte: bit 0 of it is ImgSeg(1), bit 7 of byte 8 ImgSeg(64).
    QByteArray image(8, '\xff');
    image[0] = '\0';
    image[7] = '\x80';
    form->showDisplay(image);
    for (int i = 1; i <= 64; ++i)
        EXPECT_EQ(form->ImgSeg[i]->isHidden(), i <= 8 || (i >= 57 && i <= 63)) << i;

    form->showDisplay(QByteArray(8, '\0'));
    EXPECT_EQ(visibleSegments(*form), 0);
}

// Show and hide requests for elements that keep their state would repaint the whole
// display at every poll.
TEST_F(WindowTest, DisplayTouchesOnlyChangedElements) {
    struct Counter : QObject {
        int events = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::ShowToParent || e->type() == QEvent::HideToParent) ++events;
            return false;
        }
    } counter;
    for (int i = 1; i <= 64; ++i) form->ImgSeg[i]->installEventFilter(&counter);

    QByteArray image(8, '\0');
    image[3] = '\x0f';
    form->showDisplay(image);
    EXPECT_EQ(counter.events, 4);
    form->showDisplay(image);
    EXPECT_EQ(counter.events, 4);
    image[3] = '\x1e';  // bit 0 off, bit 4 on
    form->showDisplay(image);
    EXPECT_EQ(counter.events, 6);
}

TEST_F(WindowTest, ReadingsUseDecimalsAndTheLocalesSeparator) {
    const QLocale spanish(QLocale::Spanish, QLocale::Spain);
    // Six figures: no thousands separator may creep in.
    const WeightReading w{123456.25, 0, -1234.25, 7, 255};
    const struct {
        int decimals;
        const char *gross, *tare, *net;
    } cases[] = {{0, "123456", "0", "-1234"},
                 {2, "123456,25", "0,00", "-1234,25"},
                 {3, "123456,250", "0,000", "-1234,250"}};
    for (const auto& c : cases) {
        form->setNumberFormat(c.decimals, spanish);
        form->showWeights(w);
        EXPECT_EQ(form->lblBruto->text(), c.gross) << c.decimals;
        EXPECT_EQ(form->lblTara->text(), c.tare) << c.decimals;
        EXPECT_EQ(form->lblNeto->text(), c.net) << c.decimals;
    }
    EXPECT_EQ(form->lblEstado->text(), "7");
    EXPECT_EQ(form->lblTarea->text(), "255");

    form->setNumberFormat(2, spanish);
    form->showSetpoints({1.5, 100, 0.25, 2000, 65535});
    EXPECT_EQ(form->lblBCero->text(), "1,50");
    EXPECT_EQ(form->lblGrueso->text(), "100,00");
    EXPECT_EQ(form->lblFino->text(), "0,25");
    EXPECT_EQ(form->lblTeor->text(), "2000,00");
    EXPECT_EQ(form->lblPorc->text(), "65535");  // a plain count, never scaled

    CommandReadback r{18, 3, 4294967295u, {120, 86, 52, 18}};
    form->showReadback(r);
    QStringList shown;
    for (QLabel* l : {form->lblComando, form->lblResultado, form->lblDato, form->lblDato0,
                      form->lblDato1, form->lblDato2, form->lblDato3})
        shown << l->text();
    EXPECT_EQ(shown.join(' '), "18 3 4294967295 120 86 52 18");
}

// The first and last pixel columns of `label` painted in its text colour; -1 when none.
std::pair<int, int> inkColumns(QLabel* label) {
    const QImage image = label->grab().toImage();
    int first = -1, last = -1;
    for (int x = 0; x < image.width(); ++x)
        for (int y = 0; y < image.height(); ++y) {
            const QColor c = image.pixelColor(x, y);
            if (c.blue() < 160 || c.red() > 160) continue;
            if (first < 0) first = x;
            last = x;
            break;
        }
    return {first, last};
}

// A value wider than its label is shown whole in a smaller font, never cut into another
// number; a value that fits looks exactly as in a plain label.
TEST_F(WindowTest, WideValuesShrinkToFitInsteadOfBeingCut) {
    const QLocale spanish(QLocale::Spanish, QLocale::Spain);
    const QRect geometry = form->lblBruto->geometry();
    form->showWeights({-2147483648.0, 0, 0, 0, 0});
    form->setNumberFormat(1, spanish);
    form->showSetpoints({0, 0, 429496729.5, 0, 0});
    for (QLabel* label : {form->lblBruto, form->lblFino}) {
        const auto [first, last] = inkColumns(label);
        EXPECT_GE(first, 0) << label->text().toStdString();
        EXPECT_LT(last, label->width() - 1) << label->text().toStdString() << " runs off the edge";
    }
    EXPECT_EQ(form->lblBruto->text(), "-2147483648");
    EXPECT_EQ(form->lblBruto->geometry(), geometry);

    form->showSetpoints({12.5, 0, 0, 0, 0});
    QLabel plain(form->lblBCero->text());
    plain.setFont(form->lblBCero->font());
    plain.setPalette(form->lblBCero->palette());
    plain.setAutoFillBackground(true);
    plain.resize(form->lblBCero->size());
    EXPECT_EQ(plain.grab().toImage(), form->lblBCero->grab().toImage());
}

// ---- Operator handlers -----------------------------------------------------------------------

// The operator's entries and the writes they make are checked through the worker with
// a scripted module and against pymodbus; here the window hands each on as typed, shows
// it normalized, and says so when the station could send nothing.
TEST_F(WindowTest, EntriesGoToTheStationAsTypedAndARefusalIsSaid) {
    form->txtTeor->setText("12.9");
    form->cmdTeor_Click();
    ASSERT_EQ(spy->count(), 1);
    const auto entry = spy->takeFirst().at(0).value<OperatorEntry>();
    EXPECT_EQ(entry.control, Control::Teor);
    EXPECT_EQ(entry.text, "12.9");
    EXPECT_EQ(form->txtTeor->text(), "12,9");

    form->txtFino->setText("4294967296");
    form->cmdFino_Click();
    form->showEntryOutOfRange();
    const QList<QMessageBox*> boxes = messageBoxes();
    ASSERT_EQ(boxes.size(), 1);
    expectPlainBox(boxes[0], "Valor fuera de rango");
    EXPECT_EQ(form->txtFino->text(), "4294967296");  // left as typed, for the operator to fix
}

// Boxes one after another through the worker are the worker test's; here a failure
// reported while the closed box still awaits deletion must get a box of its own.
TEST_F(WindowTest, WriteFailureAfterAClosedBoxOpensANewOne) {
    form->showWriteFailed();
    ASSERT_EQ(messageBoxes().size(), 1);
    QMessageBox* first = messageBoxes()[0];
    expectPlainBox(first, "Error");
    EXPECT_TRUE(first->isVisible());
    first->button(QMessageBox::Ok)->click();
    form->showWriteFailed();
    ASSERT_TRUE(waitFor([&] { return messageBoxes().size() == 1; }));
    EXPECT_NE(messageBoxes()[0], first);
    EXPECT_TRUE(messageBoxes()[0]->isVisible());
}

// The box does not block the window (its close request must get through), so the
// window itself keeps the operator's clicks and keys from the controls meanwhile.
TEST_F(WindowTest, AnOpenBoxKeepsTheOperatorFromTheControls) {
    QSignalSpy keys(form.get(), &frmPeso::keyPressed);
    form->txtComando->setText("1");
    form->showWriteFailed();
    QTest::mouseClick(form->cmdComando, Qt::LeftButton);
    QTest::keyClick(form->txtComando, Qt::Key_Return);
    QTest::mouseClick(form->Tecla[4], Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_EQ(spy->count() + keys.count(), 0);
    messageBoxes()[0]->button(QMessageBox::Ok)->click();
    QTest::mouseClick(form->cmdComando, Qt::LeftButton);
    EXPECT_EQ(spy->count(), 1);
}

// Every other shown widget clear of `notice` (its own children aside).
void expectCoversNothing(frmPeso& f, QWidget* notice) {
    for (QWidget* w : f.findChildren<QWidget*>()) {
        if (w == notice || notice->isAncestorOf(w) || w->isHidden()) continue;
        EXPECT_FALSE(notice->geometry().intersects(QRect(w->mapTo(&f, QPoint(0, 0)), w->size())))
            << w->metaObject()->className() << " " << w->objectName().toStdString();
    }
}

// Below the weights: it covers no control, and lblError does not cover it. The three
// records' counts fit in it whole, and so does the broker's status line beside it.
TEST_F(WindowTest, PendingLogNoticeShowsTheCountAndCoversNothing) {
    ModuleState state;
    state.answering = false;
    state.pending = {35, 0, 2};
    form->showState(state);
    EXPECT_EQ(form->lblPendientes->text(),
              "ERROR: No se puede escribir Peso.csv (35 lecturas pendientes) ni "
              "Cambios.csv (2 cambios pendientes)");
    expectCoversNothing(*form, form->lblPendientes);
    state.pending = {35, 1, 2};
    form->showState(state);
    EXPECT_EQ(form->lblPendientes->text(),
              "ERROR: No se puede escribir Peso.csv (35 lecturas pendientes) ni "
              "Dosificaciones.csv (1 dosificación pendiente) ni Cambios.csv (2 cambios "
              "pendientes)");
    // With the broker's status line at its longest under it: each shows whole, neither
    // covers the other.
    form->showMqttStatus({false, 123456, 7890, "el servidor rechaza el usuario o la clave"});
    for (QLabel* notice : {form->lblPendientes, form->lblMqtt}) {
        EXPECT_LE(notice->heightForWidth(notice->width()), notice->height());
        expectCoversNothing(*form, notice);
    }
    state.pending = {0, 1, 0};
    form->showState(state);
    EXPECT_EQ(form->lblPendientes->text(),
              "ERROR: No se puede escribir Dosificaciones.csv (1 dosificación pendiente)");
    state.pending = {};
    form->showState(state);
    EXPECT_TRUE(form->lblPendientes->isHidden());
}

// The station's open notice shows, clear of every control and of the other notices,
// and its "Aceptar" tells the station.
TEST_F(WindowTest, DoseNoticeShowsWhileTheStationHoldsItOpen) {
    form->setNumberFormat(1, QLocale(QLocale::Spanish, QLocale::Spain));
    QSignalSpy acknowledged(form.get(), &frmPeso::noticeAcknowledged);
    ModuleState state;
    state.answering = false;
    state.pending = {35, 1, 0};
    state.notice = QStringLiteral("Dosificación fuera de tolerancia: 97,2 kg (\u2212"
                                  "2,8 %)");
    form->showState(state);
    EXPECT_TRUE(form->FraDosis->isVisible());
    EXPECT_EQ(form->lblDosis->text(),
              "Dosificación fuera de tolerancia: 97,2 kg (\u2212"
              "2,8 %)");
    expectCoversNothing(*form, form->FraDosis);
    QTest::mouseClick(form->cmdAceptarDosis, Qt::LeftButton);
    EXPECT_EQ(acknowledged.count(), 1);
    state.notice.reset();
    form->showState(state);
    EXPECT_TRUE(form->FraDosis->isHidden());
}

// A click on the panel goes to whatever lies under the pointer, as the mouse would.
void clickPanel(frmPeso& f, QPoint p) {
    QWidget* target = f.PicDisplay->childAt(p) ? f.PicDisplay->childAt(p) : f.PicDisplay;
    QTest::mouseClick(target, Qt::LeftButton, {}, target->mapFrom(f.PicDisplay, p));
}

TEST_F(WindowTest, EachKeySendsItsOwnAndTheRestOfThePanelNothing) {
    QSignalSpy keys(form.get(), &frmPeso::keyPressed);
    for (int k = 0; k < 5; ++k) {
        clickPanel(*form, form->Tecla[k]->geometry().center());
        ASSERT_EQ(keys.count(), 1) << "key " << k;
        EXPECT_EQ(keys.takeFirst().at(0).toInt(), k);
    }
    // The display window (covered by the element overlays, lit or not), a corner, between
    // two keys and right of the last one.
    for (bool lit : {false, true}) {
        form->showDisplay(QByteArray(8, lit ? '\xff' : '\0'));
        for (QPoint p : {QPoint(300, 140), QPoint(5, 5), QPoint(256 + 57 + 3, 320),
                         QPoint(432 + 57 + 20, 320)})
            clickPanel(*form, p);
    }
    EXPECT_EQ(keys.count(), 0);
}

// ---- Artwork -------------------------------------------------------------------------------

// Every element but the two outer points draws inside the display window, without
// overprinting another (or an 8 would read as a blot); the digits run right to left as
// their indices rise, with segment a above g above d.
TEST(PanelArt, ElementsSitApartInsideTheWindowInTheModulesOrder) {
    const QRectF frame(QPointF(0, 0), panel::kDisplayWindow.size());
    const auto centre = [](int i) { return panel::elementPath(i).boundingRect().center(); };
    for (int i = 1; i <= 64; ++i) {
        const QPainterPath a = panel::elementPath(i);
        const bool outerPoint = i == seg::digitFirst(0) || i == seg::digitFirst(5);
        EXPECT_EQ(a.isEmpty(), outerPoint) << i;
        EXPECT_TRUE(frame.contains(a.boundingRect()) || outerPoint) << i;
        for (int j = i + 1; j <= 64; ++j)
            EXPECT_FALSE(a.intersects(panel::elementPath(j))) << i << " and " << j;
    }
    EXPECT_TRUE(panel::elementPath(0).isEmpty());
    EXPECT_TRUE(panel::elementPath(65).isEmpty());
    for (int d = 0; d < 5; ++d)
        EXPECT_LT(centre(seg::digitFirst(d + 1) + 5).x(), centre(seg::digitFirst(d) + 5).x()) << d;
    const int f = seg::digitFirst(2);
    EXPECT_LT(centre(f + 5).y(), centre(f + 7).y());
    EXPECT_LT(centre(f + 7).y(), centre(f + 2).y());
}

}  // namespace
