// Image lists over QPixmap.
#include "platform/gui/ImageLists.h"

#include <QPainter>

#include "platform/rtl/Resources.h"

namespace gui {

namespace {

QPixmap Masked(const QImage& image, QColor mask)
{
    QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = mask.rgb() & RGB_MASK;
    for (int y = 0; y < argb.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(argb.scanLine(y));
        for (int x = 0; x < argb.width(); ++x)
            if ((line[x] & RGB_MASK) == key) line[x] = 0;
    }
    return QPixmap::fromImage(argb);
}

} // namespace

ImageList::ImageList(int width, int height) : width_(width > 0 ? width : 16), height_(height > 0 ? height : 16) {}

int ImageList::Add(const QPixmap& pixmap)
{
    images_.push_back(pixmap);
    return Count() - 1;
}

int ImageList::AddMasked(const QImage& image, QColor mask)
{
    return Add(Masked(image, mask));
}

int ImageList::AddStripMasked(const QImage& strip, QColor mask)
{
    const int n = strip.width() / width_;
    if (n <= 0 || strip.height() <= 0) return -1;
    const int first = Count();
    for (int i = 0; i < n; ++i) AddMasked(strip.copy(i * width_, 0, width_, strip.height()), mask);
    return first;
}

QPixmap ImageList::Pixmap(int index) const
{
    if (index < 0 || index >= Count()) return {};
    return images_[static_cast<std::size_t>(index)];
}

QIcon ImageList::Icon(int index) const
{
    const QPixmap pixmap = Pixmap(index);
    return pixmap.isNull() ? QIcon() : QIcon(pixmap);
}

void ImageList::Draw(QPainter& painter, int x, int y, int index) const
{
    if (index < 0 || index >= Count()) return;
    painter.drawPixmap(x, y, images_[static_cast<std::size_t>(index)]);
}

QImage LoadBitmapResource(std::string_view name)
{
    const rtl::ResourceData* res = rtl::FindResource("BITMAP", name);
    if (!res || res->size == 0) return {};
    QImage image;
    if (!image.loadFromData(res->data, static_cast<int>(res->size))) return {};
    return image;
}

} // namespace gui
