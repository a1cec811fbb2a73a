#include "benchdata.h"

#include <QBuffer>
#include <QColor>
#include <QImage>
#include <QPainter>

#include <algorithm>

namespace benchdata {

QByteArray makeText(qint64 size)
{
    static const QByteArray words = ": the quick brown fox jumps over the lazy dog, 0123456789\n";
    QByteArray text;
    text.reserve(int(size + 80));
    for (int line = 0; text.size() < size; ++line) {
        text += "line ";
        text += QByteArray::number(line).rightJustified(7, '0');
        text += words;
    }
    text.truncate(int(size));
    return text;
}

QByteArray makePng()
{
    QImage image(ImageWidth, ImageHeight, QImage::Format_RGB32);
    quint32 seed = 0x9e3779b9u;
    for (int y = 0; y < ImageHeight; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < ImageWidth; ++x) {
            seed ^= seed << 13;
            seed ^= seed >> 17;
            seed ^= seed << 5;
            const bool photo = x > 1800 && x < 3400 && y > 300 && y < 1500;
            const int noise = photo ? int(seed & 0x3f) : 0;
            line[x] = qRgb((x * 255 / ImageWidth + noise) & 0xff, (y * 255 / ImageHeight) ^ noise,
                           ((x / 64 + y / 64) % 2) ? 0xe0 : 0x30 + noise);
        }
    }
    QPainter painter(&image);
    for (int i = 0; i < 40; ++i)
        painter.fillRect(40 + i * 90, 60 + (i % 7) * 280, 70, 200,
                         QColor::fromHsv(i * 9, 160, 220));
    painter.end();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double maximum(const std::vector<double> &values)
{
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

} // namespace benchdata
