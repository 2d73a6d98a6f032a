// Image lists: pictures of one size addressed by index, as tree views, list
// views and buttons refer to them.
//
// Pictures come from bitmap resources of the program (type "BITMAP") with
// a mask colour that becomes transparent, one picture or a horizontal strip
// of pictures each, or from pixmaps drawn by the program.
#pragma once

#include <string_view>
#include <vector>

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPixmap>

class QPainter;

namespace gui {

class ImageList {
public:
    explicit ImageList(int width = 16, int height = 16);

    int Width() const noexcept { return width_; }
    int Height() const noexcept { return height_; }
    int Count() const noexcept { return static_cast<int>(images_.size()); }

    // Appends a picture; returns its index.
    int Add(const QPixmap& pixmap);
    // Appends image with every pixel of the mask colour made transparent.
    int AddMasked(const QImage& image, QColor mask);
    // Cuts a horizontal strip into pictures Width() wide (a partial picture
    // at the right end is dropped) and appends them with the mask applied;
    // returns the index of the first, or -1 when the strip held none.
    int AddStripMasked(const QImage& strip, QColor mask);

    void Clear() noexcept { images_.clear(); }

    // The picture at index; a null pixmap outside 0..Count() - 1.
    QPixmap Pixmap(int index) const;
    QIcon Icon(int index) const;
    // Draws picture index with its top-left corner at (x, y); nothing for
    // an index outside the list.
    void Draw(QPainter& painter, int x, int y, int index) const;

private:
    int width_;
    int height_;
    std::vector<QPixmap> images_;
};

// A bitmap resource of the program decoded (type "BITMAP"); a null image when
// there is none or it cannot be decoded.
QImage LoadBitmapResource(std::string_view name);

} // namespace gui
