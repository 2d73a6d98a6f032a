// Image lists: masks, strips and indexes outside the list.
#include <gtest/gtest.h>

#include <QPainter>

#include "platform/gui/ImageLists.h"

namespace {

const QColor kPurple(0x80, 0x00, 0x80);

// A w x h image of the mask colour with a red pixel at (1, 1) and a blue one
// at (w - 2, h - 2).
QImage MaskedPicture(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(kPurple);
    image.setPixelColor(1, 1, Qt::red);
    image.setPixelColor(w - 2, h - 2, Qt::blue);
    return image;
}

TEST(ImageList, MaskColourBecomesTransparentAndTheRestStays)
{
    gui::ImageList list;
    EXPECT_EQ(list.AddMasked(MaskedPicture(16, 16), kPurple), 0);
    const QImage shown = list.Pixmap(0).toImage().convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(qAlpha(shown.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(shown.pixel(8, 8)), 0);
    EXPECT_EQ(QColor(shown.pixel(1, 1)), QColor(Qt::red));
    EXPECT_EQ(qAlpha(shown.pixel(1, 1)), 255);
    EXPECT_EQ(QColor(shown.pixel(14, 14)), QColor(Qt::blue));
}

TEST(ImageList, AStripIsCutIntoPicturesOfTheListWidth)
{
    struct Case {
        const char* name;
        int stripWidth;
        int first;
        int count;
    };
    const Case cases[] = {
        {"twelve pictures", 16 * 12, 1, 13},
        {"a partial picture at the end is dropped", 16 * 2 + 5, 1, 3},
        {"a strip narrower than one picture adds none", 10, -1, 1},
    };
    for (const Case& c : cases) {
        gui::ImageList list;
        list.Add(QPixmap(16, 16));
        QImage strip(c.stripWidth, 16, QImage::Format_RGB32);
        strip.fill(kPurple);
        EXPECT_EQ(list.AddStripMasked(strip, kPurple), c.first) << c.name;
        EXPECT_EQ(list.Count(), c.count) << c.name;
        for (int i = 0; i < list.Count(); ++i) EXPECT_EQ(list.Pixmap(i).size(), QSize(16, 16)) << c.name;
    }
}

TEST(ImageList, IndexesOutsideTheListGiveNothing)
{
    gui::ImageList list(16, 16);
    list.Add(QPixmap(16, 16));
    for (int index : {-1, 1, 100}) {
        EXPECT_TRUE(list.Pixmap(index).isNull()) << index;
        EXPECT_TRUE(list.Icon(index).isNull()) << index;
        QImage canvas(20, 20, QImage::Format_ARGB32);
        canvas.fill(Qt::white);
        QPainter painter(&canvas);
        list.Draw(painter, 0, 0, index);
        painter.end();
        EXPECT_EQ(canvas.pixelColor(5, 5), QColor(Qt::white)) << index;
    }
    EXPECT_FALSE(list.Icon(0).isNull());
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
}

TEST(ImageList, AMissingBitmapResourceIsANullImage)
{
    EXPECT_TRUE(gui::LoadBitmapResource("NO_SUCH_BITMAP").isNull());
}

} // namespace
