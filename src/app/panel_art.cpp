#include "panel_art.h"

#include <QFont>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPathStroker>
#include <QRadialGradient>

#include "display_map.h"

namespace panel {
namespace {

// ---- Colours of the real module -------------------------------------------------------
const QColor kBackground(154, 153, 155);
const QColor kPanel(85, 88, 90);
const QColor kLcd(151, 175, 160);
const QColor kInk(31, 26, 23);
const QColor kLegend(236, 236, 232);
const QColor kKeyRed(196, 32, 38);

// ---- Display window geometry (display-window twips) -------------------------------------
// Six slanted digits fill most of the glass, as on the module; the markers run under
// them, the units and signs take the column on the right.
constexpr double kDigitTop = 150;
constexpr double kDigitHeight = 1240;
constexpr double kDigitWidth = 560;
constexpr double kDigitPitch = 705;
constexpr double kFirstDigitLeft = 365;  // leftmost digit
constexpr double kSlant = 0.07;          // horizontal shift per unit of height
constexpr double kStroke = 155;          // segment thickness
constexpr double kGap = 18;              // between neighbouring segments
constexpr double kMarkerTop = 1480;
constexpr double kMarkerHeight = 200;

// The legends' vertical centres at the left edge, top to bottom: CERO, TARA, BRUTO.
constexpr double kArrowCentre[3] = {330, 770, 1210};

double digitLeft(int d) {
    return kFirstDigitLeft + (5 - d) * kDigitPitch;
}
double digitCentre(int d) {
    return digitLeft(d) + kDigitWidth / 2;
}

QFont artFont(double pixels, bool bold) {
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(qMax(1, qRound(pixels)));
    font.setBold(bold);
    return font;
}

// `text` laid out with its ink box placed in `rect` by `align`, at a fixed size.
QPainterPath textAt(const QString& text, const QRectF& rect, Qt::Alignment align, double pixels,
                    bool bold) {
    QPainterPath path;
    path.addText(0, 0, artFont(pixels, bold), text);
    const QRectF ink = path.boundingRect();
    double dx = rect.left() - ink.left();
    if (align & Qt::AlignRight) dx = rect.right() - ink.right();
    if (align & Qt::AlignHCenter) dx = rect.center().x() - ink.center().x();
    const double dy = rect.center().y() - ink.center().y();
    return path.translated(dx, dy);
}

// `text` scaled to the largest size that fits `rect`, centred in it.
QPainterPath textFitted(const QString& text, const QRectF& rect, bool bold) {
    QPainterPath path;
    path.addText(0, 0, artFont(100, bold), text);
    const QRectF ink = path.boundingRect();
    const double scale = qMin(rect.width() / ink.width(), rect.height() / ink.height());
    QTransform t;
    t.translate(rect.center().x(), rect.center().y());
    t.scale(scale, scale);
    t.translate(-ink.center().x(), -ink.center().y());
    return t.map(path);
}

// One letter of a word set at a fixed size from a common baseline, so the separately
// lit letters of a unit sign line up as one word.
QPainterPath letterOf(const QString& word, int which, QPointF baseline, double pixels) {
    const QFont font = artFont(pixels, false);
    const QFontMetricsF metrics(font);
    QPainterPath path;
    path.addText(baseline.x() + metrics.horizontalAdvance(word.left(which)), baseline.y(), font,
                 word.mid(which, 1));
    return path;
}

QPainterPath polygonPath(std::initializer_list<QPointF> points) {
    QPainterPath path;
    path.addPolygon(QPolygonF(QList<QPointF>(points)));
    path.closeSubpath();
    return path;
}

QPainterPath stroked(const QPainterPath& outline, double width) {
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setCapStyle(Qt::FlatCap);
    stroker.setJoinStyle(Qt::MiterJoin);
    return stroker.createStroke(outline);
}

// ---- Seven-segment digits -----------------------------------------------------------------

QPainterPath horizontalSegment(double x0, double x1, double y) {
    const double h = kStroke / 2;
    x0 += kGap;
    x1 -= kGap;
    return polygonPath(
        {{x0, y}, {x0 + h, y - h}, {x1 - h, y - h}, {x1, y}, {x1 - h, y + h}, {x0 + h, y + h}});
}

QPainterPath verticalSegment(double x, double y0, double y1) {
    const double h = kStroke / 2;
    y0 += kGap;
    y1 -= kGap;
    return polygonPath(
        {{x, y0}, {x + h, y0 + h}, {x + h, y1 - h}, {x, y1}, {x - h, y1 - h}, {x - h, y0 + h}});
}

// Segment `part` (1 c, 2 d, 3 e, 4 b, 5 a, 6 f, 7 g: the module's bit order) of digit `d`.
QPainterPath digitSegment(int d, int part) {
    const double l = kStroke / 2;
    const double r = kDigitWidth - kStroke / 2;
    const double top = kStroke / 2;
    const double mid = kDigitHeight / 2;
    const double bottom = kDigitHeight - kStroke / 2;
    QPainterPath upright;
    switch (part) {
        case 1:
            upright = verticalSegment(r, mid, bottom);
            break;
        case 2:
            upright = horizontalSegment(l, r, bottom);
            break;
        case 3:
            upright = verticalSegment(l, mid, bottom);
            break;
        case 4:
            upright = verticalSegment(r, top, mid);
            break;
        case 5:
            upright = horizontalSegment(l, r, top);
            break;
        case 6:
            upright = verticalSegment(l, top, mid);
            break;
        case 7:
            upright = horizontalSegment(l, r, mid);
            break;
        default:
            return {};
    }
    // Lean the digit like the module's LCD: the foot stays, the top moves right.
    QTransform t(1, 0, -kSlant, 1, digitLeft(d) + kSlant * kDigitHeight, kDigitTop);
    return t.map(upright);
}

// The point right of digit d sits in the gap before the next digit, on the baseline.
QPainterPath decimalPoint(int d) {
    if (d == 0 || d == 5) return {};  // the glass has no point after the last or first digit
    const double radius = 58;
    const QPointF centre(digitLeft(d) + kDigitWidth + (kDigitPitch - kDigitWidth) / 2 - 10,
                         kDigitTop + kDigitHeight - radius);
    QPainterPath path;
    path.addEllipse(centre, radius, radius);
    return path;
}

// ---- Markers and signs --------------------------------------------------------------------

// Triangles point down at the legends under the glass: 3 under the rightmost digit.
QPainterPath triangleMarker(int index) {
    const double cx = digitCentre(index - seg::kTriangleFirst);
    const double half = 130;
    return polygonPath(
        {{cx - half, kMarkerTop}, {cx + half, kMarkerTop}, {cx, kMarkerTop + kMarkerHeight}});
}

// Arrows point left, out of the glass, at the legends beside it.
QPainterPath arrowMarker(double centreY) {
    const double tip = 45;
    const double headLength = 150;
    const double headHalf = 115;
    const double shaftEnd = 300;
    const double shaftHalf = 45;
    return polygonPath({{tip, centreY},
                        {tip + headLength, centreY - headHalf},
                        {tip + headLength, centreY - shaftHalf},
                        {shaftEnd, centreY - shaftHalf},
                        {shaftEnd, centreY + shaftHalf},
                        {tip + headLength, centreY + shaftHalf},
                        {tip + headLength, centreY + headHalf}});
}

// A small heap of grains: three rows of dots, the module's sign for a filling in progress.
QPainterPath stackOfDots() {
    QPainterPath path;
    const double r = 58;
    const double step = 140;
    const QPointF apex(5580, 150);
    for (int row = 0; row < 3; ++row) {
        for (int i = 0; i <= row; ++i) {
            const QPointF c(apex.x() + (i - row / 2.0) * step, apex.y() + row * 122);
            path.addEllipse(c, r, r);
        }
    }
    return path;
}

QPainterPath batterySign() {
    QPainterPath path =
        textAt(QStringLiteral("BAT"), QRectF(4660, 1080, 440, 260), Qt::AlignLeft, 230, true);
    QPainterPath body;
    body.addRoundedRect(QRectF(5180, 1120, 420, 190), 25, 25);
    path.addPath(stroked(body, 45));
    path.addRect(QRectF(5600, 1170, 55, 90));    // the terminal
    path.addRect(QRectF(5225, 1160, 150, 110));  // a low charge
    return path;
}

constexpr double kUnitBaseline = 900;
constexpr double kUnitPixels = 520;

}  // namespace

QPainterPath elementPath(int index) {
    if (index >= seg::digitFirst(0) && index <= 64) {
        const int d = (index - seg::digitFirst(0)) / 8;
        const int part = (index - seg::digitFirst(0)) % 8;
        return part == 0 ? decimalPoint(d) : digitSegment(d, part);
    }
    switch (index) {
        case seg::kMvto:
            return textFitted(QStringLiteral("MVTO"), QRectF(5230, 1500, 520, 200), true);
        case seg::kPrint:
            return textFitted(QStringLiteral("PRINT"), QRectF(4640, 1500, 540, 200), true);
        case seg::kArrowBruto:
            return arrowMarker(kArrowCentre[2]);
        case seg::kArrowTara:
            return arrowMarker(kArrowCentre[1]);
        case seg::kArrowCero:
            return arrowMarker(kArrowCentre[0]);
        case seg::kLb:
            return letterOf(QStringLiteral("lb"), 0, {5330, kUnitBaseline}, kUnitPixels) +
                   letterOf(QStringLiteral("lb"), 1, {5330, kUnitBaseline}, kUnitPixels);
        case seg::kK:
            return letterOf(QStringLiteral("kg"), 0, {4690, kUnitBaseline}, kUnitPixels);
        case seg::kG:
            return letterOf(QStringLiteral("kg"), 1, {4690, kUnitBaseline}, kUnitPixels);
        case seg::kBat:
            return batterySign();
        case seg::kStack:
            return stackOfDots();
        default:
            break;
    }
    if (index >= seg::kTriangleFirst && index < seg::kTriangleFirst + 6)
        return triangleMarker(index);
    return {};
}

// ---- The panel ---------------------------------------------------------------------------
namespace {

const QRectF kPanelFace(170, 150, 10100, 6110);

void paintLegends(QPainter& p) {
    const QRectF w = kDisplayWindow;
    const char* left[3] = {"CERO", "TARA", "BRUTO"};
    for (int i = 0; i < 3; ++i) {
        const QRectF box(w.left() - 1400, w.top() + kArrowCentre[i] - 120, 1230, 240);
        p.fillPath(textAt(QString::fromLatin1(left[i]), box, Qt::AlignRight, 190, true), kLegend);
    }
    const char* lower[6] = {"NEG.", "F1", "F2", "F3", "F4", "TOTAL"};
    for (int i = 0; i < 6; ++i) {
        const double cx = w.left() + digitCentre(5 - i);
        const QRectF box(cx - 330, w.bottom() + 150, 660, 220);
        p.fillPath(textAt(QString::fromLatin1(lower[i]), box, Qt::AlignHCenter, 190, true),
                   kLegend);
    }
}

void paintDisplayWindow(QPainter& p) {
    const QRectF w = kDisplayWindow;
    // A black bezel and a glass that is a shade darker under its upper rim.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(38, 40, 41));
    p.drawRoundedRect(w.adjusted(-95, -95, 95, 95), 90, 90);
    QLinearGradient glass(w.topLeft(), w.bottomLeft());
    glass.setColorAt(0, kLcd.darker(112));
    glass.setColorAt(0.12, kLcd);
    glass.setColorAt(1, kLcd);
    p.setBrush(glass);
    p.drawRect(w);
}

QRectF keyRect(int k) {
    return {kKeyLeft[k], kKeyTop, kKeySize, kKeySize};
}

void paintKeyBody(QPainter& p, int k) {
    const QRectF r = keyRect(k);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(52, 54, 56));  // the recess in the panel
    p.drawEllipse(r.adjusted(-40, -40, 40, 40));
    QRadialGradient body(r.center() - QPointF(120, 140), r.width() * 0.75);
    body.setColorAt(0, QColor(206, 207, 209));
    body.setColorAt(1, QColor(160, 161, 164));
    p.setBrush(body);
    p.drawEllipse(r);
    if (k == 0) {
        // The SI/NO key: red above its divide, grey below.
        QPainterPath upper;
        upper.moveTo(r.left(), r.center().y());
        upper.arcTo(r, 180, -180);
        upper.closeSubpath();
        QRadialGradient red(r.center() - QPointF(120, 140), r.width() * 0.75);
        red.setColorAt(0, kKeyRed.lighter(125));
        red.setColorAt(1, kKeyRed.darker(115));
        p.fillPath(upper, red);
    }
}

QPainterPath zeroSymbol(const QRectF& r) {
    const QPointF c = r.center();
    QPainterPath o;
    o.addEllipse(c, 110, 150);
    QPainterPath path = stroked(o, 50);
    QPainterPath slash;
    slash.moveTo(c + QPointF(-120, 170));
    slash.lineTo(c + QPointF(120, -170));
    path.addPath(stroked(slash, 45));
    for (int side : {-1, 1}) {
        const double tip = c.x() + side * 175;
        const double back = c.x() + side * 340;
        path.addPath(polygonPath({{tip, c.y()}, {back, c.y() - 80}, {back, c.y() + 80}}));
    }
    return path;
}

QPainterPath tareSymbol(const QRectF& r) {
    const QPointF c = r.center();
    QPainterPath ring;
    ring.addEllipse(c + QPointF(0, -190), 65, 55);
    QPainterPath path = stroked(ring, 40);
    path.addPath(polygonPath({{c.x() - 120, c.y() - 140},
                              {c.x() + 120, c.y() - 140},
                              {c.x() + 220, c.y() + 210},
                              {c.x() - 220, c.y() + 210}}));
    const QPainterPath t = textAt(QStringLiteral("T"), QRectF(c.x() - 100, c.y() - 70, 200, 230),
                                  Qt::AlignHCenter, 260, true);
    return path.subtracted(t);
}

QPainterPath circleOnLine(const QRectF& r) {
    const QPointF c = r.center();
    QPainterPath o;
    o.addEllipse(c + QPointF(0, -45), 150, 150);
    QPainterPath path = stroked(o, 50);
    path.addRect(QRectF(c.x() - 250, c.y() + 105, 500, 50));
    return path;
}

void paintKeySymbols(QPainter& p) {
    const QColor white(250, 250, 250);
    const QRectF k0 = keyRect(0);
    const QPointF c0 = k0.center();
    p.fillPath(textFitted(QStringLiteral("SI\u2022NO"),
                          QRectF(c0.x() - 250, c0.y() - 230, 500, 140), true),
               white);
    p.fillPath(
        textFitted(QStringLiteral("MODO"), QRectF(c0.x() - 250, c0.y() + 90, 500, 140), true),
        white);
    p.fillPath(zeroSymbol(keyRect(1)), white);
    p.fillPath(tareSymbol(keyRect(2)), white);
    p.fillPath(circleOnLine(keyRect(3)), white);
    const QPointF c4 = keyRect(4).center();
    p.fillPath(textAt(QStringLiteral("F"), QRectF(c4.x() - 200, c4.y() - 200, 400, 400),
                      Qt::AlignHCenter, 430, true),
               white);
}

void paintScrew(QPainter& p, QPointF c) {
    QRadialGradient head(c - QPointF(25, 25), 90);
    head.setColorAt(0, QColor(150, 152, 154));
    head.setColorAt(1, QColor(70, 72, 74));
    p.setPen(Qt::NoPen);
    p.setBrush(head);
    p.drawEllipse(c, 75, 75);
    p.setPen(QPen(QColor(45, 46, 48), 22));
    p.drawLine(c + QPointF(-50, 30), c + QPointF(50, -30));
}

}  // namespace

void paintPanel(QPainter& p) {
    p.fillRect(QRectF(QPointF(0, 0), kPanelSize), kBackground);
    p.setPen(Qt::NoPen);
    // A soft drop shadow, then the face with a lighter rim where the light catches it.
    p.setBrush(QColor(120, 119, 122));
    p.drawRoundedRect(kPanelFace.translated(45, 60), 420, 420);
    p.setBrush(QColor(112, 115, 117));
    p.drawRoundedRect(kPanelFace, 420, 420);
    p.setBrush(kPanel);
    p.drawRoundedRect(kPanelFace.adjusted(30, 30, -30, -30), 395, 395);

    const QRectF f = kPanelFace;
    for (QPointF c :
         {QPointF(f.left() + 330, f.top() + 330), QPointF(f.right() - 330, f.top() + 330),
          QPointF(f.left() + 330, f.bottom() - 330), QPointF(f.right() - 330, f.bottom() - 330)})
        paintScrew(p, c);

    paintDisplayWindow(p);
    paintLegends(p);
    for (int k = 0; k < 5; ++k) paintKeyBody(p, k);
    paintKeySymbols(p);
}

void paintIcon(QPainter& p, double side) {
    p.setRenderHint(QPainter::Antialiasing);
    const double scale = side / kPanelFace.width();
    p.translate(0, (side - kPanelFace.height() * scale) / 2);
    p.scale(scale, scale);
    p.translate(-kPanelFace.topLeft());
    QPainterPath face;
    face.addRoundedRect(kPanelFace, 420, 420);
    p.setClipPath(face);
    paintPanel(p);
    p.translate(kDisplayWindow.topLeft());
    for (int i = 17; i <= 64; ++i) p.fillPath(elementPath(i), kInk);
}

}  // namespace panel

// ---- Widgets ------------------------------------------------------------------------------

PanelPicture::PanelPicture(QWidget* parent) : QWidget(parent) {}

void PanelPicture::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(width() / panel::kPanelSize.width(), height() / panel::kPanelSize.height());
    panel::paintPanel(p);
}

SegmentImage::SegmentImage(int index, QWidget* parent) : QWidget(parent), index_(index) {
    // Overlays only: the key areas and the panel under them take the clicks.
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void SegmentImage::paintEvent(QPaintEvent*) {
    const QPainterPath path = panel::elementPath(index_);
    if (path.isEmpty()) return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(width() / panel::kDisplayWindow.width(), height() / panel::kDisplayWindow.height());
    p.fillPath(path, panel::kInk);
}

KeyArea::KeyArea(int index, QWidget* parent) : QWidget(parent), index_(index) {
    setCursor(Qt::PointingHandCursor);
}

void KeyArea::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
}

void KeyArea::mouseReleaseEvent(QMouseEvent* event) {
    // Like a button: letting go outside the key cancels the press.
    const bool click = pressed_ && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    pressed_ = false;
    if (click) emit clicked(index_);
}
