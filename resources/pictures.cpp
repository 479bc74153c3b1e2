#include "resources/pictures.h"

#include <QHash>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QSvgRenderer>

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>

// Every picture is composed at paint time from small vector drawings: a body per printer family plus the
// marks of its state, a cartridge outline filled to its level, a guide scene plus the action of its step.
// The painter works in the picture's nominal units, so the result is crisp at any screen scale.
namespace kestrel {
namespace {

const QColor kGreen(0x2f, 0xa8, 0x4f);
const QColor kAmber(0xf0, 0xa0, 0x20);
const QColor kRed(0xd9, 0x34, 0x2b);
const QColor kOff(0x9a, 0xa3, 0xab);
const QColor kOutline(0x56, 0x60, 0x6a);
const QColor kGuide(0x1f, 0x6f, 0xd1);  // the arrows of the guide steps

// How often a drawing was asked for that is missing or does not parse: a picture that needed one is not
// given out half drawn.
int missingDrawings = 0;

// The drawings are parsed once and kept for the life of the program.
QSvgRenderer& drawing(const QString& name)
{
    static QHash<QString, std::shared_ptr<QSvgRenderer>> cache;
    auto& slot = cache[name];
    if (!slot) slot = std::make_shared<QSvgRenderer>(QStringLiteral(":/pictures/") + name + QStringLiteral(".svg"));
    if (!slot->isValid()) ++missingDrawings;
    return *slot;
}

// Draws one named part of a drawing where the drawing puts it (drawing units are picture units).
void drawPart(QPainter& p, QSvgRenderer& svg, const QString& id)
{
    if (svg.elementExists(id)) svg.render(&p, id, svg.boundsOnElement(id));
}

QRectF partBounds(QSvgRenderer& svg, const QString& id)
{
    return svg.elementExists(id) ? svg.boundsOnElement(id) : QRectF();
}

QRectF centredOn(QPointF centre, QSizeF size)
{
    return {centre.x() - size.width() / 2, centre.y() - size.height() / 2, size.width(), size.height()};
}

// ---------------------------------------------------------------------------------------------------------
// Printer pictures

enum class Family { Page, Impact, Inkjet };

enum class State { Ready, NoLink, CoverOpen, Toner, PaperOut, Jam, Error, Lever, InkBoth, InkBlack, InkColour };

struct PrinterSet {
    int base;
    Family family;
    int count;
    const char* body;  // drawing under printers/
};

constexpr PrinterSet kPrinterSets[] = {
    {400, Family::Page, 7, "page_2cassettes"}, {410, Family::Page, 7, "page_1cassette"},
    {420, Family::Inkjet, 9, "inkjet_2"},      {430, Family::Inkjet, 9, "inkjet_3"},
    {440, Family::Inkjet, 9, "inkjet_4"},      {450, Family::Inkjet, 9, "inkjet_5"},
    {460, Family::Impact, 6, "impact_1bin"},   {470, Family::Impact, 6, "impact_3bins"},
    {480, Family::Page, 7, "page_3cassettes"}, {490, Family::Inkjet, 9, "inkjet_9"},
    {500, Family::Impact, 7, "impact_wide"},   {510, Family::Inkjet, 9, "inkjet_14"},
    {520, Family::Inkjet, 9, "inkjet_15"},     {530, Family::Inkjet, 9, "inkjet_16"},
    {540, Family::Inkjet, 9, "inkjet_17"},
};

const PrinterSet* printerSet(int number)
{
    for (const auto& set : kPrinterSets)
        if (number >= set.base && number < set.base + set.count) return &set;
    return nullptr;
}

// The picture index's meaning is fixed by the status decoding of each family.
State stateOf(Family family, int index)
{
    static constexpr State page[] = {State::Ready,    State::CoverOpen, State::NoLink, State::Toner,
                                     State::PaperOut, State::Jam,       State::Error};
    static constexpr State impact[] = {State::Ready, State::NoLink, State::PaperOut, State::Jam,
                                       State::Lever, State::Error,  State::CoverOpen};
    static constexpr State inkjet[] = {State::Ready,    State::NoLink,    State::InkBoth,
                                       State::InkBlack, State::InkColour, State::PaperOut,
                                       State::Jam,      State::Error,     State::CoverOpen};
    switch (family) {
    case Family::Page: return page[index];
    case Family::Impact: return impact[index];
    case Family::Inkjet: return inkjet[index];
    }
    return State::Ready;
}

QColor lightOf(State state)
{
    switch (state) {
    case State::Ready: return kGreen;
    case State::NoLink: return kOff;
    case State::Toner: return kAmber;
    default: return kRed;
    }
}

// The badge in the top right corner says how serious the state is before one looks at the details.
// Every state drawn here stops the printer except the toner's, which also stands for toner running low.
const char* badgeOf(State state)
{
    switch (state) {
    case State::Ready: return nullptr;
    case State::NoLink: return "marks/nolink";
    case State::Toner: return "marks/warning";
    default: return "marks/error";
    }
}

// Paints the body washed out to grey: a printer that does not answer.
void drawGreyed(QPainter& p, QSvgRenderer& body, QSize size, qreal ratio)
{
    QImage image(size * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    {
        QPainter q(&image);
        q.setRenderHint(QPainter::Antialiasing);
        drawPart(q, body, QStringLiteral("base"));
        drawPart(q, body, QStringLiteral("lid"));
    }
    image = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = line[x];
            const int grey = 110 + qGray(c) * 120 / 255;  // flat and light, keeps the outline readable
            line[x] = qRgba(grey, grey, grey, qAlpha(c));
        }
    }
    p.drawImage(QRectF(QPointF(0, 0), QSizeF(size)), image);
}

// The lid swings up about its left end and shows the dark inside of the printer.
void drawLidRaised(QPainter& p, QSvgRenderer& body)
{
    const QRectF lid = partBounds(body, QStringLiteral("lid"));
    p.setPen(QPen(kOutline, 1));
    p.setBrush(QColor(0x3a, 0x3f, 0x45));
    p.drawRoundedRect(lid.adjusted(1, 1, -1, 0), 1.5, 1.5);
    p.save();
    // Open far enough to show, not so far that a long lid leaves the picture.
    const qreal rise = std::clamp(lid.top() - 2, 14.0, 20.0);
    p.translate(lid.bottomLeft());
    p.rotate(-std::asin(std::min(1.0, rise / lid.width())) * 180 / M_PI);
    p.translate(-lid.bottomLeft());
    drawPart(p, body, QStringLiteral("lid"));
    p.restore();
}

// Marks a part; an opaque fill also hides what it holds (an empty tray).
void drawHighlight(QPainter& p, const QRectF& area, const QColor& colour, bool opaque = false)
{
    QColor fill = opaque ? QColor(0xfb, 0xe6, 0xbe) : colour;
    if (!opaque) fill.setAlpha(60);
    p.setPen(QPen(colour, 1.6));
    p.setBrush(fill);
    p.drawRoundedRect(area.adjusted(-1, -1, 1, 1), 2, 2);
}

// An emptied ink cartridge: white inside a red frame, crossed.
void drawEmptyCartridge(QPainter& p, const QRectF& area)
{
    p.setPen(QPen(kRed, 1.6));
    p.setBrush(Qt::white);
    p.drawRoundedRect(area, 1, 1);
    p.setPen(QPen(kRed, 1.2));
    p.drawLine(area.topLeft() + QPointF(2, 2), area.bottomRight() - QPointF(2, 2));
}

void drawPrinter(QPainter& p, const PrinterSet& set, int index, QSize size, qreal ratio)
{
    QSvgRenderer& body = drawing(QStringLiteral("printers/") + QLatin1String(set.body));
    const State state = stateOf(set.family, index);

    if (state == State::NoLink) {
        drawGreyed(p, body, size, ratio);
    } else {
        drawPart(p, body, QStringLiteral("base"));
        if (state == State::CoverOpen) drawLidRaised(p, body);
        else drawPart(p, body, QStringLiteral("lid"));
    }

    const QRectF light = partBounds(body, QStringLiteral("light"));
    p.setPen(QPen(kOutline, 0.8));
    p.setBrush(lightOf(state));
    p.drawEllipse(light.adjusted(-0.5, -0.5, 0.5, 0.5));

    switch (state) {
    case State::Toner: {
        const QRectF toner = partBounds(body, QStringLiteral("toner"));
        drawing(QStringLiteral("marks/toner")).render(&p, centredOn(toner.center(), {toner.width(), 12}));
        break;
    }
    case State::PaperOut: {
        const QRectF feed = partBounds(body, QStringLiteral("feed"));
        drawHighlight(p, feed, kAmber, true);
        drawing(QStringLiteral("marks/empty")).render(&p, centredOn(feed.center(), {15, 15}));
        break;
    }
    case State::Jam:
        drawing(QStringLiteral("marks/jam"))
            .render(&p, centredOn(partBounds(body, QStringLiteral("exit")).center(), {30, 19}));
        break;
    case State::Lever: {
        const QRectF lever = partBounds(body, QStringLiteral("lever"));
        drawHighlight(p, lever, kAmber);
        drawing(QStringLiteral("marks/lever"))
            .render(&p, QRectF(std::max(0.0, lever.left() - 4), lever.top() - 17, 16, 16));
        break;
    }
    case State::InkBoth:
    case State::InkBlack:
    case State::InkColour:
        if (state != State::InkColour) drawEmptyCartridge(p, partBounds(body, QStringLiteral("inkK")));
        if (state != State::InkBlack) drawEmptyCartridge(p, partBounds(body, QStringLiteral("inkC")));
        break;
    default: break;
    }

    if (const char* badge = badgeOf(state)) drawing(QLatin1String(badge)).render(&p, QRectF(88, 1, 20, 20));
}

// ---------------------------------------------------------------------------------------------------------
// Level bars and cartridges

constexpr QSize kBarSize(155, 11);
constexpr QSize kColourCartridgeSize(107, 83);
constexpr QSize kBlackCartridgeSize(73, 83);

void drawLevelBar(QPainter& p, int filled)
{
    constexpr int segments = 5;
    constexpr qreal gap = 2;
    const qreal width = (kBarSize.width() - 1 - gap * (segments - 1)) / segments;
    for (int i = 0; i < segments; ++i) {
        const QRectF segment(0.5 + i * (width + gap), 0.5, width, kBarSize.height() - 1);
        p.setPen(QPen(kOutline, 1));
        p.setBrush(i < filled ? QColor(0x3b, 0x82, 0xc4) : QColor(Qt::white));
        p.drawRoundedRect(segment, 1.5, 1.5);
    }
}

// A question mark in strokes (no font to depend on), centred in `box`.
void drawQuestionMark(QPainter& p, const QRectF& box)
{
    const qreal s = std::min(box.height() * 0.6, box.width() * 1.15);
    const QPointF c = box.center();
    const QRectF arc(c.x() - s * 0.22, c.y() - s * 0.42, s * 0.44, s * 0.4);
    QPainterPath hook;
    hook.arcMoveTo(arc, 160);
    hook.arcTo(arc, 160, -250);  // over the top and round to the arc's foot
    hook.lineTo(c.x(), c.y() + s * 0.12);
    p.setPen(QPen(kOutline, s * 0.1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(hook);
    p.setPen(Qt::NoPen);
    p.setBrush(kOutline);
    p.drawEllipse(QPointF(c.x(), c.y() + s * 0.31), s * 0.07, s * 0.07);
}

// Fills each chamber of the cartridge drawing from the bottom up to level / 5; a level not known
// leaves the chambers empty and marks each with a question mark, so it never passes for empty.
void drawCartridge(QPainter& p, const QString& name, std::initializer_list<std::pair<const char*, QColor>> chambers,
                   std::optional<int> level)
{
    QSvgRenderer& svg = drawing(name);
    svg.render(&p, svg.viewBoxF());
    for (const auto& [id, colour] : chambers) {
        const QRectF chamber = partBounds(svg, QLatin1String(id)).adjusted(1.5, 1.5, -1.5, -1.5);
        if (!level) {
            drawQuestionMark(p, chamber);
            continue;
        }
        const qreal height = chamber.height() * *level / 5;
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        p.drawRoundedRect(QRectF(chamber.left(), chamber.bottom() - height, chamber.width(), height), 1, 1);
    }
}

// A cartridge's pictures: its six levels, then its level not known.
std::optional<int> cartridgeLevel(int offset) { return offset < 6 ? std::optional<int>(offset) : std::nullopt; }

// ---------------------------------------------------------------------------------------------------------
// Ink replacement guide

constexpr QSize kGuideSize(151, 125);

enum Action : unsigned {
    HoldSwitch = 1 << 0,     // press and hold the step's switch
    PressSwitch = 1 << 1,    // press the step's switch once
    LiftCover = 1 << 2,      // lift the colour cartridge's cover and take the old one out
    SetNew = 1 << 3,         // peel the tape, set the new cartridge, close the cover
    Charging = 1 << 4,       // the light blinks while the ink is charged
    PrinterOpen = 1 << 5,    // the printer cover stands open
    HeadLeft = 1 << 6,       // the head stands at the left
    HeadMovesLeft = 1 << 7,  // arrow: the head moves left
    HeadMovesBack = 1 << 8,  // arrow: the head goes back
    OpenPrinter = 1 << 9,    // arrow: open the printer cover
};

struct GuideStep {
    int number;
    const char* scene;
    const char* switchId;
    unsigned actions;
};

constexpr GuideStep kGuideSteps[] = {
    {900, "ij05", "switchMaint", HoldSwitch},
    {901, "ij05", nullptr, LiftCover},
    {902, "ij05", nullptr, SetNew},
    {903, "ij05", "switchMaint", PressSwitch | Charging},
    {910, "ij07", "switchLower", HoldSwitch},
    {911, "ij07", nullptr, LiftCover},
    {912, "ij07", nullptr, SetNew},
    {913, "ij07", "switchFeed", PressSwitch | Charging},
    {914, "ij12", "switchMaint", HoldSwitch},
    {915, "ij12", nullptr, LiftCover},
    {916, "ij12", nullptr, SetNew},
    {917, "ij12", "switchMaint", PressSwitch | Charging},
    {918, "ij11", nullptr, PrinterOpen | OpenPrinter},
    {919, "ij11", "switchShift", PrinterOpen | HoldSwitch | HeadLeft | HeadMovesLeft},
    {920, "ij11", nullptr, PrinterOpen | HeadLeft | LiftCover},
    {921, "ij11", nullptr, PrinterOpen | HeadLeft | SetNew},
    {922, "ij11", "switchShift", PrinterOpen | PressSwitch | HeadMovesBack | Charging},
};

const GuideStep* guideStep(int number)
{
    for (const auto& step : kGuideSteps)
        if (step.number == number) return &step;
    return nullptr;
}

void drawArrow(QPainter& p, const QPainterPath& shaft, const QColor& colour = kGuide)
{
    p.setPen(QPen(colour, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(shaft);
    const QPointF tip = shaft.pointAtPercent(1);
    const qreal angle = shaft.angleAtPercent(1) * M_PI / 180;  // counter-clockwise, y up
    const QPointF along(std::cos(angle), -std::sin(angle));
    const QPointF across(-along.y(), along.x());
    QPolygonF head{tip + along * 3, tip - along * 4 + across * 4, tip - along * 4 - across * 4};
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPolygon(head);
}

QPainterPath line(QPointF from, QPointF to)
{
    QPainterPath path(from);
    path.lineTo(to);
    return path;
}

void drawGuide(QPainter& p, const GuideStep& step)
{
    QSvgRenderer& scene = drawing(QStringLiteral("guides/scene_") + QLatin1String(step.scene));
    const unsigned a = step.actions;
    const qreal headShift = (a & HeadLeft) ? -34 : 0;

    drawPart(p, scene, QStringLiteral("base"));

    p.save();
    p.translate(headShift, 0);
    const QRectF cart = partBounds(scene, QStringLiteral("cartC"));
    const QRectF cover = partBounds(scene, QStringLiteral("coverC"));
    drawPart(p, scene, QStringLiteral("head"));
    drawPart(p, scene, QStringLiteral("coverK"));
    if (a & (LiftCover | SetNew)) {
        // The slot stands empty, its cover folded up above it.
        p.setPen(QPen(kOutline, 1));
        p.setBrush(QColor(0x3a, 0x3f, 0x45));
        p.drawRoundedRect(cart, 1.5, 1.5);
        const QRectF up(cover.left(), cover.top() - 9, cover.width(), 7);
        p.setPen(QPen(kAmber.darker(130), 1.2));
        p.setBrush(QColor(0xf6, 0xd0, 0x8a));
        p.drawRoundedRect(up, 2, 2);
        if (a & LiftCover) {
            drawing(QStringLiteral("guides/cartridge_old")).render(&p, QRectF(cart.left(), 8, cart.width(), 24));
            drawArrow(p, line(QPointF(cart.center().x(), cart.top() + 12), QPointF(cart.center().x(), 38)));
            QPainterPath lift(QPointF(cover.right() + 4, cover.center().y() + 2));
            lift.quadTo(cover.right() + 10, cover.top() - 4, cover.right() + 3, up.top() - 2);
            drawArrow(p, lift);
        } else {
            drawing(QStringLiteral("guides/cartridge_new"))
                .render(&p, QRectF(cart.left(), 6, cart.width() * 40 / 28, 30));
            drawArrow(p, line(QPointF(cart.center().x(), 38), QPointF(cart.center().x(), cart.top() + 10)));
            QPainterPath close(QPointF(cover.right() + 3, up.top() - 1));
            close.quadTo(cover.right() + 11, cover.top(), cover.right() + 4, cover.center().y() + 4);
            drawArrow(p, close);
        }
    } else {
        drawPart(p, scene, QStringLiteral("coverC"));
    }
    p.restore();

    const QRectF printerCover = partBounds(scene, QStringLiteral("cover"));
    if (!printerCover.isNull()) {
        if (a & PrinterOpen) {
            // Folded up: only its edge shows above the opening.
            const QRectF edge(printerCover.left(), printerCover.top() - 12, printerCover.width(), 9);
            p.setPen(QPen(kOutline, 1));
            p.setBrush(QColor(0xdf, 0xe4, 0xe9));
            p.drawRoundedRect(edge, 3, 3);
            if (a & OpenPrinter) {
                // Where it was, dashed, and the way it goes.
                p.setPen(QPen(kGuide, 1.2, Qt::DashLine));
                p.setBrush(Qt::NoBrush);
                p.drawRoundedRect(printerCover, 3, 3);
                const qreal x = printerCover.right() - 10;
                drawArrow(p, line(QPointF(x, printerCover.center().y() + 6), QPointF(x, edge.bottom() + 3)));
            }
        } else {
            drawPart(p, scene, QStringLiteral("cover"));
        }
    }

    const QRectF head = partBounds(scene, QStringLiteral("head"));
    if (a & HeadMovesLeft) {
        const qreal y = head.bottom() + 8;
        drawArrow(p, line(QPointF(head.right() - 4, y), QPointF(head.left() - 20, y)));
    }
    if (a & HeadMovesBack) {
        const qreal y = head.bottom() + 8;
        drawArrow(p, line(QPointF(head.left() - 20, y), QPointF(head.right() - 4, y)));
    }

    if (step.switchId) {
        const QRectF sw = partBounds(scene, QLatin1String(step.switchId));
        drawHighlight(p, sw.adjusted(-1, -1, 1, 1), kAmber);
        drawing(QStringLiteral("guides/press")).render(&p, QRectF(sw.center().x() - 6, sw.top() - 19, 12, 17));
        if (a & HoldSwitch) {
            const bool roomRight = sw.right() + 20 < kGuideSize.width();
            const qreal x = roomRight ? sw.right() + 1 : sw.left() - 17;
            drawing(QStringLiteral("guides/hold")).render(&p, QRectF(x, sw.bottom() + 1, 16, 16));
        }
    }

    if (a & Charging) {
        // A blinking light: rays around it.
        const QRectF light = partBounds(scene, QStringLiteral("light"));
        const QPointF c = light.center();
        p.setPen(QPen(kGreen, 1.6, Qt::SolidLine, Qt::RoundCap));
        for (int i = 0; i < 8; ++i) {
            const qreal angle = i * M_PI / 4;
            const QPointF dir(std::cos(angle), std::sin(angle));
            p.drawLine(c + dir * 5, c + dir * 8.5);
        }
    }
}

// ---------------------------------------------------------------------------------------------------------
// Tray icons and the settings page's pictures

constexpr int kTrayIconFirst = 800;
constexpr int kTrayIconLast = 826;
constexpr QSize kWaveFormatSize(32, 32);

bool isTrayIcon(int number) { return number >= kTrayIconFirst && number <= kTrayIconLast; }
bool isWaveFormat(int number) { return number >= 300 && number <= 311; }

// The set's glyph with the level's badge on top: three pictures of one printer that differ only in the
// corner, so the level is what the eye catches.
void drawTrayIcon(QPainter& p, int number, const QRectF& area)
{
    const int set = (number - kTrayIconFirst) / 3;
    const int level = (number - kTrayIconFirst) % 3;
    drawing(QStringLiteral("tray/set%1").arg(set)).render(&p, area);
    if (level == 1) drawing(QStringLiteral("tray/warning")).render(&p, area);
    if (level == 2) drawing(QStringLiteral("tray/error")).render(&p, area);
}

// Code = 6 for two channels or more, + 4 for a rate above 22050 (+ 2 for exactly 22050), + 1 for more than
// 8 bits: the speakers show the channels, the bars the rate, the badge the sample size.
void drawWaveFormat(QPainter& p, int code)
{
    const QRectF area(QPointF(0, 0), QSizeF(kWaveFormatSize));
    const bool stereo = code >= 6;
    const int rateClass = (code % 6) / 2;  // 0 below 22050, 1 at 22050, 2 above
    const bool wide = code % 2 == 1;
    drawing(stereo ? QStringLiteral("settings/wave_stereo") : QStringLiteral("settings/wave_mono")).render(&p, area);
    for (int i = 0; i < 3; ++i) {
        const qreal height = 4 + 3 * i;
        p.setPen(QPen(kOutline, 1));
        p.setBrush(i <= rateClass ? QColor(0x2f, 0x74, 0xc0) : QColor(Qt::white));
        p.drawRect(QRectF(1.5 + 4 * i, 30.5 - height, 3, height));
    }
    drawing(wide ? QStringLiteral("settings/bits16") : QStringLiteral("settings/bits8")).render(&p, area);
}

bool isSettingsDrawing(int number) { return number == 112 || number == 113 || number == 114 || number == 312; }

// ---------------------------------------------------------------------------------------------------------

constexpr int kIcons[] = {100, 128, 130, 131, 137, 138, 139, 140, 141, 142, 143, 144, 145, 146,
                          147, 700, 701, 702, 703, 710, 711, 720, 721, 722, 723, 724, 725, 57667};
// The list's toolbar icons share their numbers with printer pictures (the commands' numbers), so they are
// icons only: picture() keeps drawing the printers.
constexpr int kToolbarIcons[] = {500, 501, 502, 503, 504, 505};

bool isIcon(int number) { return std::find(std::begin(kIcons), std::end(kIcons), number) != std::end(kIcons); }
bool isToolbarIcon(int number)
{
    return std::find(std::begin(kToolbarIcons), std::end(kToolbarIcons), number) != std::end(kToolbarIcons);
}

QPixmap render(int number, qreal ratio)
{
    const QSize size = pictureSize(number);
    if (!size.isValid() || !(ratio > 0)) return {};

    QImage image(size * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    if (image.isNull()) return {};  // a scale too large to allocate
    const int missingBefore = missingDrawings;
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);

    if (const PrinterSet* set = printerSet(number)) {
        drawPrinter(p, *set, number - set->base, size, ratio);
    } else if (number >= 200 && number <= 204) {
        drawLevelBar(p, number - 200);
    } else if (number >= 210 && number <= 216) {
        drawCartridge(p, QStringLiteral("levels/cartridge_colour"),
                      {{"cyan", QColor(0x19, 0xa7, 0xd9)},
                       {"magenta", QColor(0xd8, 0x33, 0x8a)},
                       {"yellow", QColor(0xf2, 0xcf, 0x1d)}},
                      cartridgeLevel(number - 210));
    } else if (number >= 220 && number <= 226) {
        drawCartridge(p, QStringLiteral("levels/cartridge_black"), {{"black", QColor(0x2b, 0x2f, 0x34)}},
                      cartridgeLevel(number - 220));
    } else if (const GuideStep* step = guideStep(number)) {
        drawGuide(p, *step);
    } else if (isTrayIcon(number)) {
        drawTrayIcon(p, number, QRectF(QPointF(0, 0), QSizeF(size)));
    } else if (isWaveFormat(number)) {
        drawWaveFormat(p, number - 300);
    } else if (isSettingsDrawing(number)) {
        drawing(QStringLiteral("settings/") + QString::number(number)).render(&p, QRectF(QPointF(0, 0), QSizeF(size)));
    } else if (isIcon(number)) {
        QSvgRenderer& svg = drawing(QStringLiteral("icons/") + QString::number(number));
        svg.render(&p, QRectF(QPointF(0, 0), QSizeF(size)));
    }
    p.end();
    if (missingDrawings != missingBefore) return {};
    return QPixmap::fromImage(std::move(image));
}

}  // namespace

QSize pictureSize(int number)
{
    if (printerSet(number)) return {109, 86};
    if (number >= 200 && number <= 204) return kBarSize;
    if (number >= 210 && number <= 216) return kColourCartridgeSize;
    if (number >= 220 && number <= 226) return kBlackCartridgeSize;
    if (guideStep(number)) return kGuideSize;
    if (isTrayIcon(number)) return {16, 16};
    if (number == 112 || number == 114) return {32, 16};
    if (number == 113 || isWaveFormat(number) || number == 312) return kWaveFormatSize;
    if (number == 100 || number == 128 || (number >= 137 && number <= 147)) return {32, 32};
    if (isIcon(number)) return {16, 16};
    return {};
}

QPixmap picture(int number, qreal devicePixelRatio)
{
    static QHash<QPair<int, qreal>, QPixmap> cache;
    const QPair<int, qreal> key(number, devicePixelRatio);
    if (auto found = cache.constFind(key); found != cache.constEnd()) return *found;
    QPixmap result = render(number, devicePixelRatio);
    if (!result.isNull()) cache.insert(key, result);
    return result;
}

QIcon icon(int number)
{
    const bool tray = isTrayIcon(number);
    if (!tray && !isIcon(number) && !isToolbarIcon(number)) return {};
    const int missingBefore = missingDrawings;
    QIcon result;
    for (int side : {16, 32}) {
        QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        if (tray) drawTrayIcon(p, number, QRectF(0, 0, side, side));
        else drawing(QStringLiteral("icons/") + QString::number(number)).render(&p, QRectF(0, 0, side, side));
        p.end();
        result.addPixmap(QPixmap::fromImage(std::move(image)));
    }
    // An icon that lacks a drawing is not given out half drawn.
    if (missingDrawings != missingBefore) return {};
    return result;
}

}  // namespace kestrel
