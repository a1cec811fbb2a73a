#include "pngpreview.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QtEndian>

#include <climits>
#include <csetjmp>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include <png.h>
#include <zlib.h>

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

// Fills the preview from the picture's 8-bit rows (gray, gray and alpha, RGB or RGBA) as they
// come from the top, keeping only the pixels it shows.
class Sampler {
public:
    Sampler(QImage &preview, int width, int height, int channels)
        : preview(preview), width(width), height(height), channels(channels)
    {
        preview.reinterpretAsFormat(channels % 2 ? QImage::Format_RGBX8888
                                                 : QImage::Format_RGBA8888);
    }

    void take(const uchar *row, int pictureY)
    {
        for (; y < preview.height() && sampled(y, preview.height(), height) == pictureY; ++y) {
            uchar *to = preview.scanLine(y);
            for (int x = 0; x < preview.width(); ++x, to += 4) {
                const uchar *from = row + size_t(channels) * sampled(x, preview.width(), width);
                if (channels < 3)
                    std::memset(to, from[0], 3);
                else
                    std::memcpy(to, from, 3);
                to[3] = channels % 2 ? 0xff : from[channels - 1];
            }
        }
    }

private:
    QImage &preview;
    const int width;
    const int height;
    const int channels;
    int y = 0;
};

// libpng reports errors with longjmp to here: whatever has a destructor lives in the caller.
bool readPreview(png_structp png, png_infop info, std::vector<png_byte> &row, QImage &preview)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_info(png, info);
    if (png_get_interlace_type(png, info) != PNG_INTERLACE_NONE)
        return false;
    // Every kind of PNG comes out as 8-bit RGB or RGBA. The missing alpha is added to the few
    // pixels kept rather than by libpng to every row.
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_read_update_info(png, info);
    const int height = int(png_get_image_height(png, info));
    Sampler sampler(preview, int(png_get_image_width(png, info)), height,
                    png_get_channels(png, info));
    row.resize(png_get_rowbytes(png, info));
    // Every row is decoded, as each depends on the one before; the preview keeps few. The
    // last ones are read too, so that a damaged end fails here as it fails in Qt's reader.
    for (int pictureY = 0; pictureY < height; ++pictureY) {
        png_read_row(png, row.data(), nullptr);
        sampler.take(row.data(), pictureY);
    }
    png_read_end(png, nullptr);
    return true;
}

struct CommonPng {
    int width = 0;
    int height = 0;
    int channels = 0;
    std::vector<std::pair<const uchar *, size_t>> data; // the IDAT chunks' contents
};

// Reads the chunks of an 8-bit PNG that is not interlaced, has no palette and no transparent
// colour. Anything else, or anything out of order, is left to libpng. No checksum is checked,
// neither the chunks' CRCs nor the image data's Adler sum: a flipped bit changes at most the
// preview, and the bytes pasted are the ones that came, not ours.
bool readChunks(const QByteArray &png, CommonPng &common)
{
    static const uchar signature[] = {137, 'P', 'N', 'G', '\r', '\n', 26, '\n'};
    const auto *bytes = reinterpret_cast<const uchar *>(png.constData());
    const size_t size = size_t(png.size());
    if (size < sizeof signature || std::memcmp(bytes, signature, sizeof signature) != 0)
        return false;
    bool dataEnded = false;
    for (size_t at = sizeof signature; size - at >= 12;) {
        const size_t length = qFromBigEndian<quint32>(bytes + at);
        const uchar *type = bytes + at + 4;
        const uchar *body = bytes + at + 8;
        if (length > size - at - 12)
            return false;
        at += 12 + length;
        if (std::memcmp(type, "IHDR", 4) == 0) {
            static const int channels[] = {1, 0, 3, 0, 2, 0, 4}; // by colour type
            if (common.width != 0 || length != 13)
                return false;
            const quint32 width = qFromBigEndian<quint32>(body);
            const quint32 height = qFromBigEndian<quint32>(body + 4);
            if (width == 0 || width > INT_MAX || height == 0 || height > INT_MAX || body[8] != 8 ||
                body[9] > 6 || channels[body[9]] == 0 || body[10] != 0 || body[11] != 0 ||
                body[12] != 0)
                return false;
            common.width = int(width);
            common.height = int(height);
            common.channels = channels[body[9]];
        } else if (common.width == 0) {
            return false;
        } else if (std::memcmp(type, "IDAT", 4) == 0) {
            if (dataEnded)
                return false;
            common.data.emplace_back(body, length);
        } else if (std::memcmp(type, "IEND", 4) == 0) {
            return !common.data.empty();
        } else {
            dataEnded = !common.data.empty();
            // A critical chunk (PLTE) or a transparent colour changes what the pixels mean.
            if (!(type[0] & 0x20) || std::memcmp(type, "tRNS", 4) == 0)
                return false;
        }
    }
    return false;
}

uchar paeth(int left, int above, int aboveLeft)
{
    const int toLeft = std::abs(above - aboveLeft);
    const int toAbove = std::abs(left - aboveLeft);
    const int toAboveLeft = std::abs(left + above - 2 * aboveLeft);
    if (toLeft <= toAbove && toLeft <= toAboveLeft)
        return uchar(left);
    return uchar(toAbove <= toAboveLeft ? above : aboveLeft);
}

// Adds to each byte of a row the prediction from its left neighbour in the pixel before, the
// byte above and the one above that neighbour. The pixel before is kept in registers: read
// back from the row just written, it would wait on the store every byte.
template <typename Predict, size_t... Channel>
void addPrediction(uchar *row, const uchar *above, size_t length, Predict predict,
                   std::index_sequence<Channel...>)
{
    constexpr size_t Pixel = sizeof...(Channel);
    uchar left[Pixel] = {};
    uchar aboveLeft[Pixel] = {};
    for (size_t i = 0; i < length; i += Pixel) {
        const auto add = [&](size_t c) {
            left[c] = uchar(row[i + c] + predict(left[c], above[i + c], aboveLeft[c]));
            aboveLeft[c] = above[i + c];
            row[i + c] = left[c];
        };
        (add(Channel), ...);
    }
}

template <int Pixel, typename Predict>
void addPrediction(uchar *row, const uchar *above, size_t length, Predict predict)
{
    addPrediction(row, above, length, predict, std::make_index_sequence<Pixel>());
}

// Undoes a row's filter in place, from the row above it, already unfiltered.
template <int Pixel> bool unfilter(uchar filter, uchar *row, const uchar *above, size_t length)
{
    switch (filter) {
    case 0:
        return true;
    case 1:
        addPrediction<Pixel>(row, above, length, [](int left, int, int) { return left; });
        return true;
    case 2:
        for (size_t i = 0; i < length; ++i)
            row[i] += above[i];
        return true;
    case 3:
        addPrediction<Pixel>(row, above, length,
                             [](int left, int up, int) { return (left + up) >> 1; });
        return true;
    case 4:
        addPrediction<Pixel>(row, above, length, paeth);
        return true;
    }
    return false;
}

// Inflates the rows one at a time out of the IDAT chunks as they lie in the file, unfilters
// each from the one above and hands it to the sampler: two rows of memory, not the 25 MB of a
// 4K photo. The stream is inflated raw, without its Adler sum (see readChunks).
template <int Pixel> bool inflateRows(const CommonPng &common, Sampler &sampler)
{
    const size_t length = size_t(common.width) * Pixel;
    // With its filter byte in front; the row above the first is all zeros.
    std::vector<uchar> buffers(2 * (length + 1));
    uchar *row = buffers.data();
    uchar *above = row + length + 1;
    // The zlib header is two bytes, and some writers put only those in the first chunk.
    size_t chunk = 0;
    size_t skip = 2;
    while (chunk < common.data.size() && common.data[chunk].second <= skip)
        skip -= common.data[chunk++].second;
    z_stream stream = {};
    if (chunk == common.data.size() || inflateInit2(&stream, -MAX_WBITS) != Z_OK)
        return false;
    stream.next_in = const_cast<uchar *>(common.data[chunk].first + skip);
    stream.avail_in = uInt(common.data[chunk].second - skip);
    bool read = true;
    for (int y = 0; y < common.height && read; ++y) {
        stream.next_out = row;
        stream.avail_out = uInt(length + 1);
        while (read && stream.avail_out > 0) {
            if (stream.avail_in == 0) {
                if (++chunk == common.data.size()) {
                    read = false;
                    break;
                }
                stream.next_in = const_cast<uchar *>(common.data[chunk].first);
                stream.avail_in = uInt(common.data[chunk].second);
                continue;
            }
            const int status = inflate(&stream, Z_NO_FLUSH);
            read = status == Z_OK || (status == Z_STREAM_END && stream.avail_out == 0);
        }
        read = read && unfilter<Pixel>(row[0], row + 1, above + 1, length);
        if (read)
            sampler.take(row + 1, y);
        std::swap(row, above);
    }
    inflateEnd(&stream);
    return read;
}

// The common PNG without libpng, which spends much of its time on checksums and on rows
// converted whole. False for any other PNG, which libpng then reads.
bool readCommonPng(const QByteArray &png, QImage &preview)
{
    CommonPng common;
    if (!readChunks(png, common))
        return false;
    // Rows longer than zlib can count are left to libpng.
    if (size_t(common.width) * size_t(common.channels) >= UINT_MAX)
        return false;
    Sampler sampler(preview, common.width, common.height, common.channels);
    switch (common.channels) {
    case 1:
        return inflateRows<1>(common, sampler);
    case 2:
        return inflateRows<2>(common, sampler);
    case 3:
        return inflateRows<3>(common, sampler);
    default:
        return inflateRows<4>(common, sampler);
    }
}
} // namespace

QImage pngPreview(const QByteArray &png, const QSize &size)
{
    QImage preview(size, QImage::Format_RGBA8888);
    if (preview.isNull())
        return QImage();
    if (readCommonPng(png, preview))
        return preview;
    Source source{png};
    png_structp reader =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, quietError, quietWarning);
    png_infop info = reader ? png_create_info_struct(reader) : nullptr;
    std::vector<png_byte> row;
    bool read = false;
    if (info) {
        png_set_read_fn(reader, &source, readBytes);
        read = readPreview(reader, info, row, preview);
    }
    png_destroy_read_struct(&reader, &info, nullptr);
    return read ? preview : QImage();
}
