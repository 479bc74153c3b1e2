// The pictures by number: every known number draws at its nominal size and scale, unknown numbers draw
// nothing, and the states of one printer can be told apart.

#include "resources/pictures.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Range {
    int first;
    int last;
};

// Printer picture sets: set base .. last picture.
const std::vector<Range> kPrinterSets = {{400, 406}, {410, 416}, {420, 428}, {430, 438}, {440, 448},
                                         {450, 458}, {460, 465}, {470, 475}, {480, 486}, {490, 498},
                                         {500, 506}, {510, 518}, {520, 528}, {530, 538}, {540, 548}};
const std::vector<Range> kOtherRanges = {{200, 204}, {210, 216}, {220, 226}, {900, 903},
                                         {910, 913}, {914, 917}, {918, 922}};
const std::vector<int> kIcons = {100, 128, 130, 131, 137, 138, 139, 140, 141, 142, 143, 144, 145, 146,
                                 147, 700, 701, 702, 703, 710, 711, 720, 721, 722, 723, 724, 725, 57667};
// Icons only: their numbers are printer pictures' too.
const std::vector<int> kToolbarIcons = {500, 501, 502, 503, 504, 505};

std::vector<int> allNumbers()
{
    std::vector<int> numbers;
    for (const auto& ranges : {kPrinterSets, kOtherRanges})
        for (const auto& r : ranges)
            for (int n = r.first; n <= r.last; ++n) numbers.push_back(n);
    numbers.insert(numbers.end(), kIcons.begin(), kIcons.end());
    return numbers;
}

QImage imageOf(int number) { return kestrel::picture(number).toImage().convertToFormat(QImage::Format_ARGB32); }

// Pixels clearly coloured (not white, grey or transparent): the filled part of a level picture.
int colouredPixels(const QImage& image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() > 128 && (c.saturation() > 80 || c.value() < 80)) ++count;
        }
    return count;
}

bool isBlank(const QImage& image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x)
            if (qAlpha(argb.pixel(x, y)) != 0) return false;
    return true;
}

TEST(Pictures, EveryNumberDrawsAtItsNominalSizeForEachScale)
{
    for (int number : allNumbers()) {
        const QSize size = kestrel::pictureSize(number);
        ASSERT_TRUE(size.isValid()) << number;
        for (qreal ratio : {1.0, 2.0}) {
            const QPixmap pixmap = kestrel::picture(number, ratio);
            ASSERT_FALSE(pixmap.isNull()) << number << " at " << ratio;
            EXPECT_EQ(pixmap.size(), size * ratio) << number;
            EXPECT_EQ(pixmap.devicePixelRatio(), ratio) << number;
            EXPECT_FALSE(isBlank(pixmap.toImage())) << number << " at " << ratio;
        }
    }
    EXPECT_EQ(kestrel::pictureSize(400), QSize(109, 86));
    EXPECT_EQ(kestrel::pictureSize(202), QSize(155, 11));
    EXPECT_EQ(kestrel::pictureSize(213), QSize(107, 83));
    EXPECT_EQ(kestrel::pictureSize(223), QSize(73, 83));
    EXPECT_EQ(kestrel::pictureSize(700), QSize(16, 16));
    EXPECT_EQ(kestrel::pictureSize(918), QSize(151, 125));
}

TEST(Pictures, UnknownNumbersDrawNothing)
{
    for (int number : {399, 407, 417, 429, 466, 476, 487, 507, 549, 199, 205, 217,
                       227, 899, 904, 923, 0,   -1,  704, 726, 101, 129, 148}) {
        EXPECT_FALSE(kestrel::pictureSize(number).isValid()) << number;
        EXPECT_TRUE(kestrel::picture(number).isNull()) << number;
        EXPECT_TRUE(kestrel::picture(number, 2.0).isNull()) << number;
    }
    EXPECT_TRUE(kestrel::icon(400).isNull());
    EXPECT_TRUE(kestrel::icon(0).isNull());
    EXPECT_TRUE(kestrel::icon(129).isNull());
    EXPECT_TRUE(kestrel::icon(148).isNull());
    EXPECT_TRUE(kestrel::icon(506).isNull());
}

// The initialising animation moves: no two frames alike, and a toolbar number still draws its printer.
TEST(Pictures, AnimationFramesDifferAndToolbarNumbersKeepTheirPrinters)
{
    for (int a = 137; a <= 147; ++a) {
        EXPECT_EQ(kestrel::pictureSize(a), QSize(32, 32));
        for (int b = a + 1; b <= 147; ++b) EXPECT_NE(imageOf(a), imageOf(b)) << a << " looks like " << b;
    }
    EXPECT_EQ(kestrel::pictureSize(500), QSize(109, 86));
    EXPECT_EQ(kestrel::pictureSize(130), QSize(16, 16));
}

// The meters' and the tools page's icons sit side by side on their pages: each has a drawing of its own.
TEST(Pictures, ThePagesIconsDifferFromEachOther)
{
    for (int a = 720; a <= 725; ++a)
        for (int b = a + 1; b <= 725; ++b) EXPECT_NE(imageOf(a), imageOf(b)) << a << " looks like " << b;
}

TEST(Pictures, IconsComeInBothSizes)
{
    std::vector<int> numbers = kIcons;
    numbers.insert(numbers.end(), kToolbarIcons.begin(), kToolbarIcons.end());
    for (int number : numbers) {
        const QIcon icon = kestrel::icon(number);
        ASSERT_FALSE(icon.isNull()) << number;
        const QList<QSize> sizes = icon.availableSizes();
        EXPECT_TRUE(sizes.contains(QSize(16, 16))) << number;
        EXPECT_TRUE(sizes.contains(QSize(32, 32))) << number;
    }
}

TEST(Pictures, StatesOfOnePrinterLookDifferent)
{
    for (const auto& set : kPrinterSets) {
        std::vector<QImage> images;
        for (int n = set.first; n <= set.last; ++n) images.push_back(imageOf(n));
        for (size_t i = 0; i < images.size(); ++i)
            for (size_t j = i + 1; j < images.size(); ++j)
                EXPECT_NE(images[i], images[j]) << set.first + int(i) << " looks like " << set.first + int(j);
    }
    // Every printer family has a body of its own, so their ready pictures differ too.
    for (size_t i = 0; i < kPrinterSets.size(); ++i)
        for (size_t j = i + 1; j < kPrinterSets.size(); ++j)
            EXPECT_NE(imageOf(kPrinterSets[i].first), imageOf(kPrinterSets[j].first))
                << kPrinterSets[i].first << " looks like " << kPrinterSets[j].first;
}

TEST(Pictures, GuideStepsDiffer)
{
    for (const auto& range : kOtherRanges) {
        if (range.first < 900) continue;
        for (int a = range.first; a <= range.last; ++a)
            for (int b = a + 1; b <= range.last; ++b) EXPECT_NE(imageOf(a), imageOf(b)) << a << " looks like " << b;
    }
}

TEST(Pictures, LevelsFillStrictlyMore)
{
    for (const Range& range : {Range{200, 204}, Range{210, 215}, Range{220, 225}}) {
        int previous = -1;
        for (int n = range.first; n <= range.last; ++n) {
            const int filled = colouredPixels(imageOf(n));
            EXPECT_GT(filled, previous) << n;
            previous = filled;
        }
    }
    // A cartridge's level not known, its seventh picture, fills nothing and still never looks empty.
    for (int empty : {210, 220}) {
        EXPECT_EQ(colouredPixels(imageOf(empty + 6)), colouredPixels(imageOf(empty))) << empty + 6;
        EXPECT_NE(imageOf(empty + 6), imageOf(empty)) << empty + 6;
    }
}

// Not a check: with KESTREL_PICTURE_SHEET=file.png it draws every picture onto one sheet to look at, at scale 2
// or at KESTREL_PICTURE_SHEET_SCALE.
TEST(Pictures, ContactSheet)
{
    const QString path = qEnvironmentVariable("KESTREL_PICTURE_SHEET");
    if (path.isEmpty()) GTEST_SKIP() << "set KESTREL_PICTURE_SHEET to write the sheet";
    bool given = false;
    const qreal scale = qEnvironmentVariable("KESTREL_PICTURE_SHEET_SCALE").toDouble(&given);
    std::vector<std::vector<int>> rows;
    for (const auto& ranges : {kPrinterSets, kOtherRanges}) {
        for (const auto& r : ranges) {
            rows.emplace_back();
            for (int n = r.first; n <= r.last; ++n) rows.back().push_back(n);
        }
    }
    rows.push_back(kIcons);
    constexpr int cellW = 160, cellH = 130, pad = 4;
    QImage sheet(2 * (9 * cellW + pad), 2 * int(rows.size()) * cellH, QImage::Format_ARGB32);
    sheet.fill(QColor(0xf0, 0xf0, 0xf0));
    QPainter p(&sheet);
    int y = 0;
    for (const auto& row : rows) {
        int x = pad, height = 0;
        for (int n : row) {
            QImage pixmap = kestrel::picture(n, given ? scale : 2.0).toImage();
            pixmap.setDevicePixelRatio(1);  // one sheet pixel per device pixel
            p.fillRect(x, y + 14, pixmap.width(), pixmap.height(), Qt::white);
            p.drawImage(x, y + 14, pixmap);
            p.drawText(x, y + 11, QString::number(n));
            x += pixmap.width() + 12;
            height = std::max(height, pixmap.height() + 18);
        }
        y += height;
    }
    p.end();
    ASSERT_TRUE(sheet.copy(0, 0, sheet.width(), y).save(path));
}

}  // namespace
