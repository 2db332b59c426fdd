#include <gtest/gtest.h>

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
#include "panel_art.h"

namespace {

using Writes = std::vector<std::pair<int, int>>;  // (register, value)

int registerValue(const QByteArray& value) {
    return static_cast<quint8>(value.at(0)) | (static_cast<quint8>(value.at(1)) << 8);
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        form = std::make_unique<frmPeso>();
        form->setNumberFormat(0, QLocale(QLocale::Spanish, QLocale::Spain));
        spy = std::make_unique<QSignalSpy>(form.get(), &frmPeso::writeRequested);
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }

    // Every write requested so far, in order, one entry per register.
    Writes writes() const {
        Writes out;
        for (const QList<QVariant>& call : *spy)
            for (const RegisterWrite& w : call.at(0).value<WriteRequest>().writes)
                out.emplace_back(w.address, registerValue(w.value));
        return out;
    }

    void type(QLineEdit* box, const QString& text) {
        box->setText(text);
        box->setFocus();
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

int visibleSegments(const frmPeso& f) {
    int n = 0;
    for (int i = 1; i <= 64; ++i) n += f.ImgSeg[i]->isHidden() ? 0 : 1;
    return n;
}

// ---- Layout and initial state --------------------------------------------------------------

TEST_F(WindowTest, StartsEmptyWithFixedClientAreaAndTitle) {
    EXPECT_EQ(form->windowTitle(), "Vormel-Q");
    EXPECT_EQ(form->size(), QSize(711, 710));
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    for (QLabel* label : valueLabels(*form)) EXPECT_TRUE(label->text().isEmpty());
    EXPECT_TRUE(form->lblError->isHidden());
    EXPECT_EQ(visibleSegments(*form), 0);
    EXPECT_EQ(form->ImgSeg[0], nullptr);
    EXPECT_FALSE(form->Timer1->isActive());
    EXPECT_EQ(form->Timer1->interval(), 500);
}

TEST_F(WindowTest, CaptionsAndGeometry) {
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
    EXPECT_EQ(form->Label14->text(), "%");

    EXPECT_EQ(form->PicDisplay->geometry(), QRect(8, 8, 696, 428));
    EXPECT_EQ(form->lblError->geometry(), QRect(520, 584, 169, 33));
    EXPECT_EQ(form->lblDato->geometry(), QRect(56, 72, 97, 20));
    for (int i = 1; i <= 64; ++i) EXPECT_EQ(form->ImgSeg[i]->geometry(), QRect(149, 79, 389, 125));
    const int lefts[5] = {200, 256, 320, 376, 432};
    for (int k = 0; k < 5; ++k) EXPECT_EQ(form->Tecla[k]->geometry(), QRect(lefts[k], 296, 57, 57));

    EXPECT_EQ(form->lblBruto->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    EXPECT_TRUE(form->lblBruto->font().bold());
    EXPECT_EQ(form->lblError->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_DOUBLE_EQ(form->lblError->font().pointSizeF(), 8.25);
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

TEST_F(WindowTest, WeightsUseDecimalsAndTheLocalesSeparator) {
    const QLocale spanish(QLocale::Spanish, QLocale::Spain);
    WeightReading w;
    w.gross = 12.5;
    w.tare = 0;
    w.net = -1234.5;
    w.state = 7;
    w.task = 255;

    form->setNumberFormat(2, spanish);
    form->showWeights(w);
    EXPECT_EQ(form->lblBruto->text(), "12,50");
    EXPECT_EQ(form->lblTara->text(), "0,00");
    EXPECT_EQ(form->lblNeto->text(), "-1234,50");
    EXPECT_EQ(form->lblEstado->text(), "7");
    EXPECT_EQ(form->lblTarea->text(), "255");

    form->setNumberFormat(3, spanish);
    form->showWeights(w);
    EXPECT_EQ(form->lblBruto->text(), "12,500");

    w.gross = 123456;
    form->setNumberFormat(0, spanish);
    form->showWeights(w);
    EXPECT_EQ(form->lblBruto->text(), "123456");

    Setpoints s;
    s.zeroBand = 1.5;
    s.coarse = 100;
    s.fine = 0.25;
    s.target = 2000;
    s.percentage = 65535;
    form->setNumberFormat(2, spanish);
    form->showSetpoints(s);
    EXPECT_EQ(form->lblBCero->text(), "1,50");
    EXPECT_EQ(form->lblGrueso->text(), "100,00");
    EXPECT_EQ(form->lblFino->text(), "0,25");
    EXPECT_EQ(form->lblTeor->text(), "2000,00");
    EXPECT_EQ(form->lblPorc->text(), "65535");
}

TEST_F(WindowTest, ReadbackCaptions) {
    CommandReadback r;
    r.command = 18;
    r.result = 3;
    r.data = 4294967295u;
    r.dataBytes[0] = 120;
    r.dataBytes[1] = 86;
    r.dataBytes[2] = 52;
    r.dataBytes[3] = 18;
    form->showReadback(r);
    EXPECT_EQ(form->lblComando->text(), "18");
    EXPECT_EQ(form->lblResultado->text(), "3");
    EXPECT_EQ(form->lblDato->text(), "4294967295");
    EXPECT_EQ(form->lblDato0->text(), "120");
    EXPECT_EQ(form->lblDato1->text(), "86");
    EXPECT_EQ(form->lblDato2->text(), "52");
    EXPECT_EQ(form->lblDato3->text(), "18");
}

// ---- Operator handlers -----------------------------------------------------------------------

TEST_F(WindowTest, EnterSendsFromTheThreeSetpointBoxes) {
    type(form->txtGrueso, "125");
    QTest::keyClick(form->txtGrueso, Qt::Key_Return);
    EXPECT_EQ(writes(), (Writes{{16, 125}, {17, 0}}));

    spy->clear();
    type(form->txtBCero, "7");
    QTest::keyClick(form->txtBCero, Qt::Key_Enter);
    type(form->txtFino, "65536");
    QTest::keyClick(form->txtFino, Qt::Key_Return);
    EXPECT_EQ(writes(), (Writes{{14, 7}, {15, 0}, {18, 0}, {19, 1}}));

    // Other keys reach the box as usual and send nothing.
    spy->clear();
    form->txtFino->clear();
    QTest::keyClicks(form->txtFino, "42");
    EXPECT_EQ(form->txtFino->text(), "42");
    EXPECT_EQ(spy->count(), 0);
}

TEST_F(WindowTest, EnterInTeorAndPorcSendsNothingButTheirButtonsDo) {
    type(form->txtTeor, "500");
    QTest::keyClick(form->txtTeor, Qt::Key_Return);
    type(form->txtPorc, "300");
    QTest::keyClick(form->txtPorc, Qt::Key_Enter);
    EXPECT_EQ(spy->count(), 0);

    QTest::mouseClick(form->cmdTeor, Qt::LeftButton);
    QTest::mouseClick(form->cmdPorc, Qt::LeftButton);
    EXPECT_EQ(writes(), (Writes{{20, 500}, {21, 0}, {22, 300}}));
}

TEST_F(WindowTest, WholeWidthValuesAreSent) {
    for (QLineEdit* box : {form->txtBCero, form->txtGrueso, form->txtFino, form->txtTeor})
        box->setText("4294967295");
    form->txtPorc->setText("65535");
    form->cmdBCero_Click();
    form->cmdGrueso_Click();
    form->cmdFino_Click();
    form->cmdTeor_Click();
    form->cmdPorc_Click();
    EXPECT_EQ(writes(), (Writes{{14, 65535},
                                {15, 65535},
                                {16, 65535},
                                {17, 65535},
                                {18, 65535},
                                {19, 65535},
                                {20, 65535},
                                {21, 65535},
                                {22, 65535}}));
}

TEST_F(WindowTest, EntriesAreNormalizedInTheBoxBeforeSending) {
    struct Case {
        const char* typed;
        const char* shown;
        int written;
    };
    const Case cases[] = {{"", "0", 0},      {"abc", "0", 0}, {"12abc", "12", 12},
                          {"1 2", "12", 12}, {"1,5", "1", 1}, {"12.9", "12,9", 12}};
    for (const Case& c : cases) {
        spy->clear();
        form->txtGrueso->setText(QString::fromUtf8(c.typed));
        form->cmdGrueso_Click();
        EXPECT_EQ(form->txtGrueso->text(), QString::fromUtf8(c.shown)) << c.typed;
        EXPECT_EQ(writes(), (Writes{{16, c.written}, {17, 0}})) << c.typed;
    }
}

TEST_F(WindowTest, CommandAndDataWords) {
    type(form->txtComando, "5");
    QTest::keyClick(form->txtComando, Qt::Key_Return);
    form->txtComando->setText("258");
    QTest::mouseClick(form->cmdComando, Qt::LeftButton);
    type(form->txtDato, "70000");
    QTest::keyClick(form->txtDato, Qt::Key_Enter);
    EXPECT_EQ(writes(), (Writes{{7, 5}, {7, 258}, {8, 4464}, {9, 1}}));
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
        EXPECT_EQ(boxes[0]->text(), "Valor fuera de rango");
        EXPECT_EQ(boxes[0]->windowTitle(), "Vormel-Q");
        EXPECT_EQ(boxes[0]->icon(), QMessageBox::NoIcon);
        EXPECT_EQ(boxes[0]->standardButtons(), QMessageBox::Ok);
        EXPECT_TRUE(boxes[0]->isModal());
        boxes[0]->button(QMessageBox::Ok)->click();
        QTRY_VERIFY(messageBoxes().isEmpty());
    }
    EXPECT_EQ(form->txtFino->text(), "4294967296");
}

TEST_F(WindowTest, WriteFailuresOpenOneErrorBoxAfterAnother) {
    form->showWriteFailed();
    form->showWriteFailed();
    ASSERT_EQ(messageBoxes().size(), 1);
    QMessageBox* first = messageBoxes()[0];
    EXPECT_EQ(first->text(), "Error");
    EXPECT_EQ(first->windowTitle(), "Vormel-Q");
    EXPECT_EQ(first->icon(), QMessageBox::NoIcon);
    EXPECT_EQ(first->standardButtons(), QMessageBox::Ok);
    EXPECT_TRUE(first->isVisible());
    EXPECT_TRUE(first->isModal());

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

TEST_F(WindowTest, KeyAreasSendTheirLetters) {
    QTest::mouseClick(form->Tecla[1], Qt::LeftButton);
    EXPECT_EQ(writes(), (Writes{{6, 90}}));

    spy->clear();
    for (int k = 0; k < 5; ++k) QTest::mouseClick(form->Tecla[k], Qt::LeftButton);
    EXPECT_EQ(writes(), (Writes{{6, 'S'}, {6, 'Z'}, {6, 'M'}, {6, 'P'}, {6, 'F'}}));
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

TEST_F(WindowTest, ClosingTheWindowAnnouncesUnload) {
    QSignalSpy unloading(form.get(), &frmPeso::unloading);
    form->close();
    EXPECT_EQ(unloading.count(), 1);
}

// ---- Artwork -------------------------------------------------------------------------------

TEST(PanelArt, EveryElementButTheOuterPointsDrawsInsideTheWindow) {
    const QRectF frame(QPointF(0, 0), panel::kDisplayWindow.size());
    for (int i = 1; i <= 64; ++i) {
        const QPainterPath path = panel::elementPath(i);
        if (i == seg::digitFirst(0) || i == seg::digitFirst(5)) {
            EXPECT_TRUE(path.isEmpty()) << i;
            continue;
        }
        EXPECT_FALSE(path.isEmpty()) << i;
        EXPECT_TRUE(frame.contains(path.boundingRect())) << i;
    }
    EXPECT_TRUE(panel::elementPath(0).isEmpty());
    EXPECT_TRUE(panel::elementPath(65).isEmpty());
}

// Elements lit together must not overprint each other, or an 8 would read as a blot.
TEST(PanelArt, ElementsDoNotOverlap) {
    for (int i = 1; i <= 64; ++i) {
        const QPainterPath a = panel::elementPath(i);
        for (int j = i + 1; j <= 64; ++j) {
            const QPainterPath b = panel::elementPath(j);
            if (a.isEmpty() || b.isEmpty()) continue;
            EXPECT_FALSE(a.intersects(b)) << i << " and " << j;
        }
    }
}

// The digits run right to left as their indices rise, with segment a above g above d.
TEST(PanelArt, DigitsAreOrderedLikeTheModule) {
    for (int d = 0; d < 5; ++d) {
        const double here = panel::elementPath(seg::digitFirst(d) + 5).boundingRect().center().x();
        const double left =
            panel::elementPath(seg::digitFirst(d + 1) + 5).boundingRect().center().x();
        EXPECT_LT(left, here) << d;
    }
    const int f = seg::digitFirst(2);
    const double a = panel::elementPath(f + 5).boundingRect().center().y();
    const double g = panel::elementPath(f + 7).boundingRect().center().y();
    const double d = panel::elementPath(f + 2).boundingRect().center().y();
    EXPECT_LT(a, g);
    EXPECT_LT(g, d);
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
    WeightReading w{1234.56, 12.5, 1222.06, 3, 1};
    form->showWeights(w);
    form->showSetpoints({0.5, 1000, 990.5, 1200, 100});
    CommandReadback r;
    r.command = 18;
    r.result = 3;
    r.data = 305419896;
    r.dataBytes[0] = 120;
    r.dataBytes[1] = 86;
    r.dataBytes[2] = 52;
    r.dataBytes[3] = 18;
    form->showReadback(r);
    form->txtGrueso->setText("1000");
    form->showCommunicationLost();
    const QString path = QStringLiteral(VORMELQ_BINARY_DIR "/window.png");
    EXPECT_TRUE(form->grab().save(path));
    // Everything lit at once: six eights, four points, every marker and sign.
    form->showDisplay(QByteArray(8, '\xff'));
    EXPECT_TRUE(
        form->PicDisplay->grab().save(QStringLiteral(VORMELQ_BINARY_DIR "/panel_full.png")));
}

}  // namespace
