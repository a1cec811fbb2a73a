#include "pngpreview.h"

#include <QBuffer>
#include <QImage>

#include <csetjmp>
#include <cstring>
#include <vector>

#include <png.h>

namespace {
// The picture's pixel that Qt's fast scale by factor shows at the preview's pixel i: Qt steps
// through the picture in 16.16 fixed point where it paints, in 20.12 for an indexed image.
int sampled(double factor, int i, bool indexed, int pictureSize)
{
    const qint64 step = indexed ? qint64(1 / factor * 4096) : qint64(65536 / factor);
    const qint64 start = indexed ? step / 2 : (step + 1) / 2 - 1;
    return int(qMin<qint64>((start + i * step) >> (indexed ? 12 : 16), pictureSize - 1));
}

// libpng reports errors with longjmp to here: whatever has a destructor lives in the caller.
// False for an interlaced PNG; a damaged one leaves the preview null.
bool readRows(png_structp png, png_infop info, double scaleX, double scaleY, bool indexed,
              std::vector<png_byte> &row, QImage &preview)
{
    if (setjmp(png_jmpbuf(png))) {
        preview = QImage();
        return true;
    }
    png_read_info(png, info);
    if (png_get_interlace_type(png, info) != PNG_INTERLACE_NONE)
        return false;
    // Four channels of 8 or 16 bits: the values Qt decodes, laid out as a QImage format.
    png_set_expand(png);
    png_set_gray_to_rgb(png);
    png_set_filler(png, 0xffff, PNG_FILLER_AFTER);
    const bool deep = png_get_bit_depth(png, info) == 16;
    if (deep && Q_BYTE_ORDER == Q_LITTLE_ENDIAN)
        png_set_swap(png);
    png_read_update_info(png, info);
    const bool alpha = png_get_color_type(png, info) & PNG_COLOR_MASK_ALPHA;
    const int width = int(png_get_image_width(png, info));
    const int height = int(png_get_image_height(png, info));
    preview = QImage(qMax(1, qRound(width * scaleX)), qMax(1, qRound(height * scaleY)),
                     deep ? (alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64)
                          : (alpha ? QImage::Format_RGBA8888 : QImage::Format_RGBX8888));
    const size_t pixel = deep ? 8 : 4;
    row.resize(png_get_rowbytes(png, info));
    // Every row and the end are read: a damaged PNG fails here as it fails in Qt's reader.
    for (int pictureY = 0, y = 0; pictureY < height; ++pictureY) {
        png_read_row(png, row.data(), nullptr);
        for (; y < preview.height() && sampled(scaleY, y, indexed, height) == pictureY; ++y) {
            uchar *to = preview.scanLine(y);
            for (int x = 0; x < preview.width(); ++x, to += pixel)
                std::memcpy(to, &row[pixel * sampled(scaleX, x, indexed, width)], pixel);
        }
    }
    png_read_end(png, nullptr);
    return true;
}
} // namespace

std::optional<QImage> pngPreview(const QByteArray &png, double scaleX, double scaleY, bool indexed)
{
    QBuffer source(const_cast<QByteArray *>(&png));
    source.open(QIODevice::ReadOnly);
    png_structp reader = png_create_read_struct(
        PNG_LIBPNG_VER_STRING, nullptr,
        [](png_structp png, png_const_charp) { png_longjmp(png, 1); },
        [](png_structp, png_const_charp) {});
    png_infop info = reader ? png_create_info_struct(reader) : nullptr;
    if (info)
        png_set_read_fn(reader, &source, [](png_structp png, png_bytep out, size_t count) {
            auto *from = static_cast<QBuffer *>(png_get_io_ptr(png));
            if (from->read(reinterpret_cast<char *>(out), qint64(count)) != qint64(count))
                png_error(png, "truncated");
        });
    std::vector<png_byte> row;
    QImage preview;
    const bool rowByRow = info && readRows(reader, info, scaleX, scaleY, indexed, row, preview);
    png_destroy_read_struct(&reader, &info, nullptr);
    return rowByRow ? std::optional<QImage>(preview) : std::nullopt;
}
