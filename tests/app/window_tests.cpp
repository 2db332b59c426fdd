#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "display_map.h"
#include "frm_peso.h"
#include "operator_entries.h"
#include "panel_art.h"

namespace {

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        form = std::make_unique<frmPeso>();
        form->setNumberFormat(0, QLocale(QLocale::Spanish, QLocale::Spain));
        spy = std::make_unique<QSignalSpy>(form.get(), &frmPeso::writeRequested);
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }

    // Every write requested so far, in order, as "register value".
    QStringList writes() const {
        QStringList out;
        for (const QList<QVariant>& call : *spy)
            for (const RegisterWrite& w : call.at(0).value<WriteRequest>().writes)
                out << QStringLiteral("%1 %2").arg(w.address).arg(
                    static_cast<quint8>(w.value[0]) | static_cast<quint8>(w.value[1]) << 8);
        return out;
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

CommandReadback readback() {
    CommandReadback r;
    r.command = 18;
    r.result = 3;
    r.data = 4294967295u;
    const int bytes[4] = {120, 86, 52, 18};
    std::copy(bytes, bytes + 4, r.dataBytes);
    return r;
}

// The operator's message boxes: plain, modal, titled with the program's name.
void expectPlainBox(QMessageBox* box, const char* text) {
    EXPECT_EQ(box->text(), text);
    EXPECT_EQ(box->windowTitle(), "Vormel-Q");
    EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
    EXPECT_TRUE(box->isModal());
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
    EXPECT_FALSE(form->Timer1->isActive());

    EXPECT_EQ(form->lblError->text(), "ERROR: No hay comunicación con el módulo");
    EXPECT_EQ(form->FraBalanza->title(), "Peso");
    EXPECT_EQ(form->Frame1->title(), "Peso");
    EXPECT_EQ(form->Frame2->title(), "Enviar Comando");
    EXPECT_EQ(form->FraTxCMD->title(), "Enviar Comando");
    EXPECT_EQ(form->FraRxCMD->title(), "Leer Dato");
    for (QPushButton* b :
         {form->cmdBCero, form->cmdGrueso, form->cmdFino, form->cmdTeor, form->cmdPorc})
        EXPECT_EQ(b->text(), "->");
    EXPECT_EQ(form->cmdComando->text(), "Enviar");
    EXPECT_EQ(form->cmdDato->text(), "Enviar");
    EXPECT_EQ(form->Label8->text(), "Teorico");
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

TEST_F(WindowTest, ErrorLabelShownOnLossAndClearedByEveryReading) {
    const std::vector<std::function<void()>> readings = {
        [&] { form->showDisplay(QByteArray(8, '\0')); },
        [&] { form->showWeights({}); },
        [&] { form->showSetpoints({}); },
        [&] { form->showReadback({}); },
    };
    for (const auto& reading : readings) {
        form->showCommunicationLost();
        EXPECT_FALSE(form->lblError->isHidden());
        reading();
        EXPECT_TRUE(form->lblError->isHidden());
    }
}

TEST_F(WindowTest, DisplayBytesLightTheirCharactersInOrder) {
    form->showDisplay(QByteArray(8, '\xff'));
    EXPECT_EQ(visibleSegments(*form), 64);

    // Character 1 is the first byte: bit 0 of it is ImgSeg(1), bit 7 of byte 8 ImgSeg(64).
    QByteArray image(8, '\xff');
    image[0] = '\0';
    image[7] = '\x80';
    form->showDisplay(image);
    for (int i = 1; i <= 8; ++i) EXPECT_TRUE(form->ImgSeg[i]->isHidden()) << i;
    for (int i = 9; i <= 56; ++i) EXPECT_FALSE(form->ImgSeg[i]->isHidden()) << i;
    for (int i = 57; i <= 63; ++i) EXPECT_TRUE(form->ImgSeg[i]->isHidden()) << i;
    EXPECT_FALSE(form->ImgSeg[64]->isHidden());

    QByteArray one(8, '\0');
    one[2] = '\x02';  // segment c of the rightmost digit
    form->showDisplay(one);
    EXPECT_EQ(visibleSegments(*form), 1);
    EXPECT_FALSE(form->ImgSeg[seg::digitFirst(0) + 1]->isHidden());
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

    form->showReadback(readback());
    QStringList shown;
    for (QLabel* l : {form->lblComando, form->lblResultado, form->lblDato, form->lblDato0,
                      form->lblDato1, form->lblDato2, form->lblDato3})
        shown << l->text();
    EXPECT_EQ(shown.join(' '), "18 3 4294967295 120 86 52 18");
}

// ---- Operator handlers -----------------------------------------------------------------------

TEST_F(WindowTest, TypedEntriesAndKeysRequestTheirWrites) {
    for (const OperatorEntry& e : kOperatorEntries) {
        spy->clear();
        enterAsOperator(*form, e);
        EXPECT_EQ((form.get()->*e.box)->text(), e.shown) << e.typed.toStdString();
        EXPECT_EQ(writes(), e.writes) << e.typed.toStdString();
    }
    spy->clear();
    QTest::mouseClick(form->Tecla[1], Qt::LeftButton);
    EXPECT_EQ(writes(), QStringList{"6 90"});
}

TEST_F(WindowTest, OutOfRangeSendsNothingAndSaysSo) {
    struct Case {
        QLineEdit* box;
        void (frmPeso::*click)();
        const char* typed;
    };
    const Case cases[] = {{form->txtFino, &frmPeso::cmdFino_Click, "4294967296"},
                          {form->txtDato, &frmPeso::cmdDato_Click, "4294967296"},
                          {form->txtComando, &frmPeso::cmdComando_Click, "65536"},
                          {form->txtPorc, &frmPeso::cmdPorc_Click, "65536"},
                          {form->txtBCero, &frmPeso::cmdBCero_Click, "-5"}};
    for (const Case& c : cases) {
        c.box->setText(c.typed);
        (form.get()->*c.click)();
        EXPECT_EQ(spy->count(), 0) << c.typed;
        const QList<QMessageBox*> boxes = messageBoxes();
        ASSERT_EQ(boxes.size(), 1) << c.typed;
        expectPlainBox(boxes[0], "Valor fuera de rango");
        boxes[0]->button(QMessageBox::Ok)->click();
        QTRY_VERIFY(messageBoxes().isEmpty());
    }
    EXPECT_EQ(form->txtFino->text(), "4294967296");  // left as typed, for the operator to fix
}

TEST_F(WindowTest, WriteFailuresOpenOneErrorBoxAfterAnother) {
    form->showWriteFailed();
    form->showWriteFailed();
    ASSERT_EQ(messageBoxes().size(), 1);
    QMessageBox* first = messageBoxes()[0];
    expectPlainBox(first, "Error");
    EXPECT_TRUE(first->isVisible());

    first->button(QMessageBox::Ok)->click();
    QTRY_COMPARE(messageBoxes().size(), 1);
    QTRY_VERIFY(messageBoxes()[0] != first && messageBoxes()[0]->isVisible());
    QMessageBox* second = messageBoxes()[0];
    second->button(QMessageBox::Ok)->click();
    // A failure reported while the closed box still awaits deletion gets a box of its own.
    form->showWriteFailed();
    QTRY_COMPARE(messageBoxes().size(), 1);
    EXPECT_NE(messageBoxes()[0], second);
    EXPECT_TRUE(messageBoxes()[0]->isVisible());
}

TEST_F(WindowTest, ClicksOnThePanelOutsideTheKeysDoNothing) {
    QWidget* pic = form->PicDisplay;
    // The display window (covered by the element overlays), a corner, between two keys
    // and right of the last one.
    for (QPoint p :
         {QPoint(300, 140), QPoint(5, 5), QPoint(256 + 57 + 3, 320), QPoint(432 + 57 + 20, 320)}) {
        QWidget* target = pic->childAt(p) ? pic->childAt(p) : pic;
        QTest::mouseClick(target, Qt::LeftButton, {}, target->mapFrom(pic, p));
    }
    form->showDisplay(QByteArray(8, '\xff'));
    QTest::mouseClick(pic, Qt::LeftButton, {}, QPoint(300, 140));
    EXPECT_EQ(spy->count(), 0);
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

// A picture of the window with a reading on it, for the documentation and for eyes.
TEST_F(WindowTest, Screenshot) {
    form->setNumberFormat(2, QLocale(QLocale::Spanish, QLocale::Spain));
    // "1234.56" with the arrow at BRUTO, kg and the marker above F2.
    const quint8 digits[6] = {0x12, 0xBC, 0xB6, 0xD2, 0xE6, 0xEE};  // 1 2 3 4 5 6
    QByteArray lit(8, '\0');
    lit[0] = static_cast<char>(1 << (6 - 1));                    // F2 marker
    lit[1] = static_cast<char>((1 << 0) | (1 << 4) | (1 << 5));  // BRUTO, k, g
    for (int d = 0; d < 6; ++d) lit[2 + d] = static_cast<char>(digits[5 - d]);
    lit[2 + 2] = static_cast<char>(static_cast<quint8>(lit[4]) | 1);  // point after the 4
    form->showDisplay(lit);
    form->showWeights({1234.56, 12.5, 1222.06, 3, 1});
    form->showSetpoints({0.5, 1000, 990.5, 1200, 100});
    CommandReadback r = readback();
    r.data = 305419896;
    form->showReadback(r);
    form->txtGrueso->setText("1000");
    form->showCommunicationLost();
    EXPECT_TRUE(form->grab().save(QStringLiteral(VORMELQ_BINARY_DIR "/window.png")));
    // Everything lit at once: six eights, four points, every marker and sign.
    form->showDisplay(QByteArray(8, '\xff'));
    EXPECT_TRUE(
        form->PicDisplay->grab().save(QStringLiteral(VORMELQ_BINARY_DIR "/panel_full.png")));
}

}  // namespace
