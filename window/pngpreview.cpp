#include "pngpreview.h"

#include <QByteArray>
#include <QImage>
#include <QSize>

#include <csetjmp>
#include <cstring>
#include <vector>

#include <png.h>

namespace {
struct Source {
    const QByteArray &bytes;
    size_t offset = 0;
};

void readBytes(png_structp png, png_bytep out, size_t count)
{
    auto *source = static_cast<Source *>(png_get_io_ptr(png));
    if (count > size_t(source->bytes.size()) - source->offset)
        png_error(png, "truncated");
    std::memcpy(out, source->bytes.constData() + source->offset, count);
    source->offset += count;
}

// A PNG libpng cannot read goes to Qt's reader, which says what is wrong with it.
void quietError(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

void quietWarning(png_structp, png_const_charp) {}

// The picture's pixel at the centre of the preview's pixel i of count.
int sampled(int i, int count, int pictureSize)
{
    return int((2 * qint64(i) + 1) * pictureSize / (2 * count));
}

// libpng reports errors with longjmp to here: whatever has a destructor lives in the caller.
bool readPreview(png_structp png, png_infop info, std::vector<png_byte> &row, QImage &preview)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_info(png, info);
    if (png_get_interlace_type(png, info) != PNG_INTERLACE_NONE)
        return false;
    const bool opaque = !(png_get_color_type(png, info) & PNG_COLOR_MASK_ALPHA) &&
                        !png_get_valid(png, info, PNG_INFO_tRNS);
    // Every kind of PNG comes out as 8-bit RGB or RGBA. The missing alpha is added to the few
    // pixels kept rather than by libpng to every row.
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_read_update_info(png, info);
    const int width = int(png_get_image_width(png, info));
    const int height = int(png_get_image_height(png, info));
    const int channels = png_get_channels(png, info);
    row.resize(png_get_rowbytes(png, info));
    preview.reinterpretAsFormat(opaque ? QImage::Format_RGBX8888 : QImage::Format_RGBA8888);
    // Every row is decoded, as each depends on the one before; the preview keeps few. The
    // last ones are read too, so that a damaged end fails here as it fails in Qt's reader.
    int y = 0;
    for (int pictureY = 0; pictureY < height; ++pictureY) {
        png_read_row(png, row.data(), nullptr);
        for (; y < preview.height() && sampled(y, preview.height(), height) == pictureY; ++y) {
            uchar *to = preview.scanLine(y);
            for (int x = 0; x < preview.width(); ++x, to += 4) {
                const png_byte *from = &row[size_t(channels) * sampled(x, preview.width(), width)];
                std::memcpy(to, from, 3);
                to[3] = channels == 4 ? from[3] : 0xff;
            }
        }
    }
    png_read_end(png, nullptr);
    return true;
}
} // namespace

QImage pngPreview(const QByteArray &png, const QSize &size)
{
    Source source{png};
    png_structp reader =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, quietError, quietWarning);
    png_infop info = reader ? png_create_info_struct(reader) : nullptr;
    std::vector<png_byte> row;
    QImage preview(size, QImage::Format_RGBA8888);
    bool read = false;
    if (info && !preview.isNull()) {
        png_set_read_fn(reader, &source, readBytes);
        read = readPreview(reader, info, row, preview);
    }
    png_destroy_read_struct(&reader, &info, nullptr);
    return read ? preview : QImage();
}
