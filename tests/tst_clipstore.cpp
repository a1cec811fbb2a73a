#include "clips/clipreader.h"
#include "clips/clipstore.h"
#include "fakeplatform.h"

#include <QBuffer>
#include <QDataStream>
#include <QImage>
#include <QImageReader>
#include <QMimeData>
#include <QPointer>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include <memory>

namespace {
const QString ImageFormat = QStringLiteral("application/x-qt-image");
const QString KdeHint = QStringLiteral("x-kde-passwordManagerHint");
const QString ExcludeFormat = QStringLiteral(
    "application/x-qt-windows-mime;value=\"ExcludeClipboardContentFromMonitorProcessing\"");
const QString HistoryFormat =
    QStringLiteral("application/x-qt-windows-mime;value=\"CanIncludeInClipboardHistory\"");
const QStringList ProtocolTargets = {"TARGETS",        "MULTIPLE", "TIMESTAMP",
                                     "SAVE_TARGETS",   "DELETE",   "INSERT_SELECTION",
                                     "INSERT_PROPERTY"};
// image as a PNG file holds it; empty when it cannot be written.
QByteArray pngOf(const QImage &image)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    return image.save(&buffer, "PNG") ? png : QByteArray();
}

const int EmptyAll = MaxClips; // stands for "Empty" where a slot number is expected
// The reader gives up on an owner after this long here; Qt waits 5 s for a real one.
const int StallMs = 50;

// Data as a clipboard owner offers it: the formats it lists, in its order, and the bytes it
// answers for each; a listed format without an answer is refused.
class OwnerData : public QMimeData {
public:
    OwnerData(const QStringList &formats, const QMap<QString, QByteArray> &answers)
        : listed(formats), answers(answers)
    {
    }
    QStringList formats() const override { return listed; }
    bool hasFormat(const QString &format) const override { return listed.contains(format); }

protected:
    QVariant retrieveData(const QString &format, QVariant::Type) const override
    {
        asked << format;
        if (format == stallsOn) {
            QThread::msleep(StallMs + 10); // longer than the reader waits for an answer
            return QVariant();
        }
        if (format == lastOfOwner)
            replaced = true;
        if (format == ImageFormat && !image.isNull())
            return image;
        return answers.contains(format) ? QVariant(answers.value(format)) : QVariant();
    }

public:
    QImage image;
    QString stallsOn;          // the format the owner never answers
    QString lastOfOwner;       // after it is read, another owner has the clipboard
    mutable QStringList asked; // every request, in order
    mutable bool replaced = false;

private:
    QStringList listed;
    QMap<QString, QByteArray> answers;
};

// The CRC of a PNG chunk (type and data), as the format defines it.
quint32 crc32(const QByteArray &bytes)
{
    quint32 crc = 0xffffffff;
    for (const char byte : bytes) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320 & (0 - (crc & 1)));
    }
    return ~crc;
}

// An opaque image as an interlaced 8-bit RGB PNG, which Qt does not write: the rows of each
// Adam7 pass, unfiltered.
QByteArray interlacedPng(const QImage &image)
{
    static const int passes[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                     {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}}; // x, y, dx, dy
    QByteArray rows;
    for (const auto &pass : passes) {
        for (int y = pass[1]; y < image.height() && pass[0] < image.width(); y += pass[3]) {
            rows += '\0';
            for (int x = pass[0]; x < image.width(); x += pass[2]) {
                const QRgb pixel = image.pixel(x, y);
                rows += char(qRed(pixel));
                rows += char(qGreen(pixel));
                rows += char(qBlue(pixel));
            }
        }
    }
    const auto chunk = [](const QByteArray &type, const QByteArray &data) {
        QByteArray bytes;
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out << quint32(data.size());
        out.writeRawData((type + data).constData(), type.size() + data.size());
        out << crc32(type + data);
        return bytes;
    };
    QByteArray header;
    QDataStream(&header, QIODevice::WriteOnly)
        << quint32(image.width()) << quint32(image.height()) << quint8(8) << quint8(2) << quint8(0)
        << quint8(0) << quint8(1);
    // qCompress puts the size before the zlib stream.
    return QByteArray("\x89PNG\r\n\x1a\n") + chunk("IHDR", header) +
           chunk("IDAT", qCompress(rows).mid(4)) + chunk("IEND", QByteArray());
}

std::unique_ptr<QMimeData> text(const QString &value)
{
    auto data = std::make_unique<QMimeData>();
    data->setText(value);
    return data;
}
} // namespace

class ClipStoreTest : public QObject {
    Q_OBJECT

private slots:
    void init() { fakeplatform::reset(); }
    void slotOrderAndCursor_data();
    void slotOrderAndCursor();
    void gate_data();
    void gate();
    void changesThatTakeNoSlot_data();
    void changesThatTakeNoSlot();
    void clipIsACompleteIndependentCopy();
    void unreadableFormatsAreDropped_data();
    void unreadableFormatsAreDropped();
    void imageIsReadOnceAndOfferedInEveryEncoding();
    void imageValueTheReaderAddedIsNotOffered();
    void imageBombIsKeptButNeverDecoded();
    void previewIsQtsNearestPixelScale_data();
    void previewIsQtsNearestPixelScale();
    void shownTextIsTheOneQtReads_data();
    void shownTextIsTheOneQtReads();
    void largeFormatsAreKeptCompressedAndPasteWhole();
    void clipSurvivesTheWayFromTheWorker();

private:
    void copy(ClipStore &store, const QString &value) { store.capture(text(value).get()); }
    QString clipText(const ClipStore &store, int slot) const
    {
        return store.clip(slot) ? store.clip(slot)->text() : QStringLiteral("<empty>");
    }
    QStringList contents(const ClipStore &store) const
    {
        QStringList all;
        for (int i = 0; i < MaxClips; ++i)
            all << clipText(store, i);
        return all << QString::number(store.writeCursor());
    }
};

void ClipStoreTest::slotOrderAndCursor_data()
{
    QTest::addColumn<int>("before");           // copies made first
    QTest::addColumn<int>("cleared");          // slot deleted then, EmptyAll, or -1
    QTest::addColumn<QVector<int>>("landing"); // where each following copy lands
    QTest::addColumn<QVector<int>>("cursors"); // the write cursor after it

    QTest::newRow("ten fill from the top")
        << 0 << -1 << QVector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9} << QVector<int>(10, 0);
    QTest::newRow("overwrite in turn and wrap")
        << 10 << -1 << QVector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0}
        << QVector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 1};
    QTest::newRow("deleted slot reused, cursor kept")
        << 12 << 5 << QVector<int>{5, 2} << QVector<int>{2, 3};
    QTest::newRow("after Empty fill from 0, then resume at cursor")
        << 13 << EmptyAll << QVector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 3}
        << QVector<int>{3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 4};
}

void ClipStoreTest::slotOrderAndCursor()
{
    QFETCH(int, before);
    QFETCH(int, cleared);
    QFETCH(QVector<int>, landing);
    QFETCH(QVector<int>, cursors);

    ClipStore store;
    for (int i = 0; i < before; ++i)
        copy(store, QString("before %1").arg(i));
    QSignalSpy changed(&store, &ClipStore::slotChanged);
    if (cleared == EmptyAll) {
        store.clearAll();
        QCOMPARE(changed.size(), qMin(before, MaxClips));
    } else if (cleared >= 0) {
        store.clear(cleared);
        store.clear(cleared); // already empty: nothing to say
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed.takeFirst().at(0).toInt(), cleared);
    }
    changed.clear();

    for (int k = 0; k < landing.size(); ++k) {
        QStringList expected = contents(store);
        copy(store, QString("copy %1").arg(k));
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed.takeFirst().at(0).toInt(), landing[k]);
        expected[landing[k]] = QString("copy %1").arg(k);
        expected.last() = QString::number(cursors[k]);
        QCOMPARE(contents(store), expected);
    }
}

void ClipStoreTest::gate_data()
{
    QTest::addColumn<bool>("pause");
    QTest::addColumn<int>("ourNotices"); // changes reported while we own the clipboard
    QTest::addColumn<int>("skipped");    // how many of three owners' changes are not captured

    QTest::newRow("collecting") << false << 0 << 0;
    // Our pastes take no slot, and the owners' changes after them are all kept.
    QTest::newRow("own pastes") << false << 3 << 0;
    QTest::newRow("paused") << true << 0 << 3;
    QTest::newRow("paste while paused stays paused") << true << 1 << 3;
}

void ClipStoreTest::gate()
{
    QFETCH(bool, pause);
    QFETCH(int, ourNotices);
    QFETCH(int, skipped);

    ClipStore store;
    copy(store, "origin");
    if (pause)
        store.setCollecting(false);
    for (int i = 0; i < ourNotices; ++i)
        store.capture(text("our paste").get(), ClipStore::Origin::Ours);
    for (int i = 0; i < 3; ++i)
        copy(store, QString("change %1").arg(i));

    QStringList expected = {"origin"};
    for (int i = skipped; i < 3; ++i)
        expected << QString("change %1").arg(i);
    while (expected.size() < MaxClips)
        expected << "<empty>";
    QCOMPARE(contents(store).mid(0, MaxClips), expected);
    QCOMPARE(store.gate() == ClipStore::Gate::Paused, pause);

    store.setCollecting(true);
    copy(store, "resumed");
    QCOMPARE(clipText(store, MaxClips - expected.count("<empty>")), QString("resumed"));
}

void ClipStoreTest::changesThatTakeNoSlot_data()
{
    QTest::addColumn<QStringList>("formats");
    QTest::addColumn<QByteArray>("value"); // the answer for the last format
    QTest::addColumn<bool>("captured");

    QTest::newRow("no data object") << QStringList{"<null>"} << QByteArray() << false;
    QTest::newRow("no formats") << QStringList() << QByteArray() << false;
    QTest::newRow("protocol targets only") << ProtocolTargets << QByteArray("x") << false;
    QTest::newRow("KDE hint secret") << QStringList{KdeHint} << QByteArray("secret") << false;
    QTest::newRow("KDE hint secret, padded")
        << QStringList{KdeHint} << QByteArray(" secret\n") << false;
    QTest::newRow("KDE hint refused") << QStringList{KdeHint} << QByteArray() << false;
    QTest::newRow("KDE hint other") << QStringList{KdeHint} << QByteArray("public") << true;
    QTest::newRow("exclude marker") << QStringList{ExcludeFormat} << QByteArray() << false;
    QTest::newRow("history zero") << QStringList{HistoryFormat} << QByteArray(4, '\0') << false;
    QTest::newRow("history nonzero")
        << QStringList{HistoryFormat} << QByteArray("\1\0\0\0", 4) << true;
}

void ClipStoreTest::changesThatTakeNoSlot()
{
    QFETCH(QStringList, formats);
    QFETCH(QByteArray, value);
    QFETCH(bool, captured);

    ClipStore store;
    for (int i = 0; i < MaxClips + 3; ++i)
        copy(store, QString("full %1").arg(i));
    const QStringList before = contents(store);
    QSignalSpy changed(&store, &ClipStore::slotChanged);

    if (formats == QStringList{"<null>"}) {
        store.capture(nullptr);
    } else {
        QMap<QString, QByteArray> answers;
        for (const QString &format : formats) {
            if (!value.isEmpty())
                answers.insert(format, value);
        }
        QStringList listed = formats;
        if (!formats.isEmpty() && formats != ProtocolTargets) {
            listed.prepend("text/plain");
            answers.insert("text/plain", "hunter2");
        }
        OwnerData data(listed, answers);
        store.capture(&data);
    }

    if (captured) {
        QCOMPARE(clipText(store, 3), QString("hunter2"));
        QCOMPARE(store.clip(3)->data(formats.last()), value);
    } else {
        QCOMPARE(changed.size(), 0);
        QCOMPARE(contents(store), before);
        copy(store, "next");
        QCOMPARE(clipText(store, 3), QString("next"));
    }
}

void ClipStoreTest::clipIsACompleteIndependentCopy()
{
    QImage image(20, 10, QImage::Format_ARGB32);
    image.fill(Qt::green);
    const QStringList names = {"B/y",
                               ImageFormat,
                               "text/plain",
                               "A/x",
                               QString::fromUtf8("ünïcødé/\xe2\x82\xac"),
                               "x/y;charset=\"utf-8\";z=1",
                               "no-slash"};
    QStringList listed = names;
    listed.insert(1, "TARGETS");
    listed.insert(4, "TIMESTAMP");
    QMap<QString, QByteArray> answers = {{"TARGETS", "protocol"}, {"TIMESTAMP", "protocol"}};
    for (const QString &name : names)
        answers.insert(name, name.toUtf8() + QByteArray("\0\xff", 2));
    auto *owner = new OwnerData(listed, answers);
    owner->image = image;
    QPointer<QMimeData> source = owner;

    ClipStore store;
    store.capture(source);
    delete source; // the owner went away

    const Clip *clip = store.clip(0);
    QCOMPARE(clip->formats(), names);
    for (const QString &name : names) {
        if (name != ImageFormat)
            QCOMPARE(clip->data(name), answers.value(name));
    }
    QCOMPARE(clip->imageData().userType(), int(QMetaType::QImage));
    QCOMPARE(clip->imageData().value<QImage>(), image);

    std::unique_ptr<QMimeData> clone(ClipStore::cloneMimeData(clip));
    QVERIFY(!clone->parent());
    QCOMPARE(clone->formats(), names);
    QCOMPARE(clone->imageData().value<QImage>(), image);
    clone->setData("A/x", "changed");
    clone.reset();
    QCOMPARE(clip->data("A/x"), answers.value("A/x"));
}

void ClipStoreTest::unreadableFormatsAreDropped_data()
{
    QTest::addColumn<QString>("stallsOn");
    QTest::addColumn<QString>("lastOfOwner");
    QTest::addColumn<QStringList>("kept");
    QTest::addColumn<QStringList>("asked");
    const QStringList all = {"A/x", "B/y", "C/z", "text/plain", "D/w"};
    QTest::newRow("refusals") << QString() << QString() << QStringList{"A/x", "text/plain", "D/w"}
                              << all;
    QTest::newRow("owner stops answering")
        << "C/z" << QString() << QStringList{"A/x"} << QStringList{"A/x", "B/y", "C/z"};
    QTest::newRow("never answers") << "A/x" << QString() << QStringList() << QStringList{"A/x"};
    // What came before the new owner may be the old one's, what came after is the new one's:
    // a clip of both would paste neither.
    QTest::newRow("another owner takes over")
        << QString() << "B/y" << QStringList() << QStringList{"A/x", "B/y"};
}

void ClipStoreTest::unreadableFormatsAreDropped()
{
    QFETCH(QString, stallsOn);
    QFETCH(QString, lastOfOwner);
    QFETCH(QStringList, kept);
    QFETCH(QStringList, asked);

    // B/y is refused and C/z answered empty: offered back, either would paste nothing.
    OwnerData data({"A/x", "B/y", "C/z", "text/plain", "D/w"},
                   {{"A/x", "a"}, {"C/z", QByteArray()}, {"text/plain", "words"}, {"D/w", "d"}});
    data.stallsOn = stallsOn;
    data.lastOfOwner = lastOfOwner;
    ClipStore store;
    for (int i = 0; i < MaxClips; ++i)
        copy(store, QString("full %1").arg(i));
    ClipRead read;
    read.stalledAfterMs = StallMs;
    read.ownerUnchanged = [&data] { return !data.replaced; };
    store.add(readClip(&data, read));
    QCOMPARE(read.stalled, !stallsOn.isEmpty());
    QCOMPARE(data.asked, asked);
    if (kept.isEmpty()) {
        // Nothing could be read: the clip at the cursor stays.
        QCOMPARE(clipText(store, 0), QString("full 0"));
        QCOMPARE(store.writeCursor(), 0);
    } else {
        QCOMPARE(store.clip(0)->formats(), kept);
        QCOMPARE(store.clip(0)->data("A/x"), QByteArray("a"));
    }
}

void ClipStoreTest::imageIsReadOnceAndOfferedInEveryEncoding()
{
    QImage image(64, 32, QImage::Format_RGB32);
    image.fill(Qt::red);
    image.setPixel(3, 5, qRgb(0, 255, 0));
    const QByteArray png = pngOf(image);
    QVERIFY(!png.isEmpty());
    // As a Qt program offers an image: the value, and every encoding Qt writes.
    // On X11 Qt also names them "image/" and the handler's name.
    const QStringList listed = {ImageFormat, "image/bmp", "image/jpeg",
                                "image/ppm", "image/png", "text/html"};
    OwnerData data(listed, {{"image/bmp", "BM"},
                            {"image/jpeg", "JPG"},
                            {"image/ppm", "P6"},
                            {"image/png", png},
                            {"text/html", "<img>"}});
    data.image = image;

    ClipStore store;
    store.capture(&data);
    QCOMPARE(data.asked, QStringList({"image/png", "text/html"}));
    const Clip *clip = store.clip(0);
    QCOMPARE(clip->formats(), listed);
    QCOMPARE(clip->data("image/png"), png);
    QCOMPARE(qvariant_cast<QImage>(clip->imageData()), image);
    // A Qt receiver asks for the image value's bytes: the stored PNG, not a new encoding.
    QCOMPARE(clip->data(ImageFormat), png);
    for (const char *type : {"image/bmp", "image/jpeg", "image/ppm"}) {
        const QImage decoded = QImage::fromData(clip->data(type));
        QCOMPARE(decoded.size(), image.size());
        if (QByteArray(type) != "image/jpeg")
            QCOMPARE(decoded.convertToFormat(QImage::Format_RGB32), image);
    }
    QCOMPARE(clip->preview().size(), QSize(256, 128));
    // A paste gets a copy that shares the stored bytes.
    std::unique_ptr<QMimeData> clone(ClipStore::cloneMimeData(clip));
    QCOMPARE(clone->formats(), listed);
    QCOMPARE(clone->data("image/png"), png);
}

void ClipStoreTest::imageValueTheReaderAddedIsNotOffered()
{
    // As Qt's X11 reader lists a PNG owner's formats: the image value after them, which the
    // backend says is the reader's own.
    QImage image(8, 4, QImage::Format_RGB32);
    image.fill(Qt::blue);
    const QByteArray png = pngOf(image);
    QVERIFY(!png.isEmpty());
    OwnerData data({"image/png", ImageFormat}, {{"image/png", png}});
    fakeplatform::state().readerAddsImageValue = true;
    ClipStore store;
    store.capture(&data);
    const Clip *clip = store.clip(0);
    // Offered back, the value would make Qt offer every image type it writes.
    QCOMPARE(clip->formats(), QStringList{"image/png"});
    QCOMPARE(clip->preview().size(), QSize(256, 128));
    std::unique_ptr<QMimeData> clone(ClipStore::cloneMimeData(clip));
    QCOMPARE(clone->formats(), QStringList{"image/png"});
    QCOMPARE(clone->data("image/png"), png);
}

void ClipStoreTest::imageBombIsKeptButNeverDecoded()
{
    // A 1x1 PNG whose header declares 30000x30000: decoding it would take gigabytes.
    QImage pixel(1, 1, QImage::Format_Mono);
    pixel.fill(0);
    QByteArray png = pngOf(pixel);
    QVERIFY(!png.isEmpty());
    QDataStream header(&png, QIODevice::ReadWrite);
    header.device()->seek(16);
    header << quint32(30000) << quint32(30000);
    header.device()->seek(29);
    header << crc32(png.mid(12, 17));

    QBuffer patched(&png);
    QCOMPARE(QImageReader(&patched).size(), QSize(30000, 30000));

    OwnerData data({ImageFormat, "image/png"}, {{"image/png", png}});
    ClipStore store;
    store.capture(&data);
    const Clip *clip = store.clip(0);
    QVERIFY(clip);
    QCOMPARE(clip->data("image/png"), png);
    QVERIFY(!clip->imageCanBeDecoded());
    QVERIFY(clip->imageData().isNull());
    QVERIFY(clip->preview().isNull());
}

void ClipStoreTest::previewIsQtsNearestPixelScale_data()
{
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("shown"); // false where Qt cannot decode it

    // A quadrant of its own colour at each corner, one half transparent: a preview flipped,
    // mirrored, with its channels swapped or its alpha lost shows other colours. Over them,
    // bands of eight rows of flat noise, gradients with strong, weak and no noise: Qt's writer
    // then picks each of the five filters a row can have. 256 rows scale to 128 where Qt steps
    // through an indexed picture differently from the others.
    const auto picture = [](int width, int height, QImage::Format format) {
        const QColor colours[] = {Qt::red, Qt::green, Qt::blue, QColor(255, 255, 0, 128)};
        const int noiseOfBand[] = {4, 12, 2, 0};
        QRandomGenerator random(1);
        QImage image(width, height, QImage::Format_ARGB32);
        for (int y = 0; y < height; ++y) {
            const int band = y / 8 % 4;
            const int slope = band == 0 ? 0 : 1;
            for (int x = 0; x < width; ++x) {
                const QColor colour = colours[(y >= height / 2) * 2 + (x >= width / 2)];
                const int noise =
                    int(random.bounded(2 * noiseOfBand[band] + 1)) - noiseOfBand[band];
                image.setPixel(x, y,
                               qRgba((colour.red() + slope * x / 2 + noise) & 0xff,
                                     (colour.green() + slope * y + noise) & 0xff,
                                     (colour.blue() + slope * (x + y) / 4 + noise) & 0xff,
                                     colour.alpha()));
            }
        }
        return image.convertToFormat(format, Qt::ThresholdDither);
    };
    const auto encoded = [](const QImage &image, const char *format) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, format);
        return bytes;
    };
    const QImage rgb = picture(512, 256, QImage::Format_RGB32);
    const QString png = QStringLiteral("image/png");
    QTest::newRow("rgb") << png << encoded(rgb, "PNG") << true;
    QTest::newRow("alpha") << png << encoded(picture(512, 256, QImage::Format_ARGB32), "PNG")
                           << true;
    QTest::newRow("palette with alpha")
        << png << encoded(picture(512, 256, QImage::Format_Indexed8), "PNG") << true;
    QTest::newRow("gray") << png << encoded(picture(512, 256, QImage::Format_Grayscale8), "PNG")
                          << true;
    QTest::newRow("1 bit") << png << encoded(picture(512, 256, QImage::Format_Mono), "PNG") << true;
    QTest::newRow("16 bits") << png << encoded(picture(512, 256, QImage::Format_RGBA64), "PNG")
                             << true;
    QTest::newRow("interlaced") << png << interlacedPng(rgb) << true;
    QTest::newRow("too wide, odd sizes")
        << png << encoded(picture(3001, 97, QImage::Format_ARGB32), "PNG") << true;
    QTest::newRow("jpeg") << QString("image/jpeg") << encoded(rgb, "JPEG") << true;
    const QByteArray whole = encoded(rgb, "PNG");
    QTest::newRow("truncated") << png << whole.left(whole.size() * 2 / 3) << false;
    QByteArray badCrc = whole;
    badCrc[badCrc.indexOf("IDAT") + 100] = char(badCrc[badCrc.indexOf("IDAT") + 100] ^ 0x10);
    QTest::newRow("bad CRC") << png << badCrc << false;
}

void ClipStoreTest::previewIsQtsNearestPixelScale()
{
    QFETCH(QString, encoding);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, shown);

    OwnerData data({ImageFormat, encoding}, {{encoding, bytes}});
    ClipStore store;
    store.capture(&data);
    const QImage preview = store.clip(0)->preview();
    const QImage decoded = QImage::fromData(bytes);
    QCOMPARE(!decoded.isNull(), shown);
    const bool wide =
        decoded.width() * Clip::PreviewHeight > decoded.height() * Clip::MaxPreviewWidth;
    const QImage expected =
        decoded.isNull() ? QImage()
        : wide           ? decoded.scaledToWidth(Clip::MaxPreviewWidth, Qt::FastTransformation)
                         : decoded.scaledToHeight(Clip::PreviewHeight, Qt::FastTransformation);
    // Premultiplied, as the cell shows it: Qt scales a picture with alpha through that form.
    QCOMPARE(preview.convertToFormat(QImage::Format_ARGB32_Premultiplied),
             expected.convertToFormat(QImage::Format_ARGB32_Premultiplied));
}

void ClipStoreTest::shownTextIsTheOneQtReads_data()
{
    QTest::addColumn<QStringList>("formats"); // listed before the image's formats
    QTest::addColumn<QStringList>("answers"); // for each; null where the owner refuses
    QTest::addColumn<QString>("shown");       // empty where the preview shows

    const QString utf8 = QStringLiteral("text/plain;charset=utf-8");
    QTest::newRow("only the UTF-8 variant")
        << QStringList{utf8} << QStringList{QString::fromUtf8("ünï")} << QString::fromUtf8("ünï");
    QTest::newRow("UTF-8 variant wins, also listed second")
        << QStringList{"text/plain", utf8} << QStringList{"plain", "utf-8"} << "utf-8";
    QTest::newRow("UTF-8 variant refused")
        << QStringList{utf8, "text/plain"} << QStringList{QString(), "plain"} << "plain";
    QTest::newRow("text refused") << QStringList{"text/plain"} << QStringList{QString()}
                                  << QString();
    QTest::newRow("text empty") << QStringList{"text/plain"} << QStringList{""} << QString();
}

void ClipStoreTest::shownTextIsTheOneQtReads()
{
    QFETCH(QStringList, formats);
    QFETCH(QStringList, answers);
    QFETCH(QString, shown);

    QImage image(64, 32, QImage::Format_RGB32);
    image.fill(Qt::red);
    const QByteArray png = pngOf(image);
    QVERIFY(!png.isEmpty());
    QMap<QString, QByteArray> given = {{"image/png", png}};
    for (int i = 0; i < formats.size(); ++i) {
        if (!answers[i].isNull())
            given.insert(formats[i], answers[i].toUtf8());
    }
    OwnerData data(formats + QStringList{ImageFormat, "image/png"}, given);
    ClipStore store;
    store.capture(&data);
    const Clip *clip = store.clip(0);
    QCOMPARE(clip->textHead(), shown);
    QCOMPARE(clip->text(), shown);
    QCOMPARE(clip->preview().isNull(), !shown.isEmpty());
}

void ClipStoreTest::largeFormatsAreKeptCompressedAndPasteWhole()
{
    QByteArray text;
    for (int i = 0; text.size() < (4 << 20); ++i)
        text += "line " + QByteArray::number(i) + " of a long document\n";
    QByteArray noise(1 << 20, '\0');
    for (int i = 0; i < noise.size(); ++i)
        noise[i] = char(qHash(i) & 0xff);
    OwnerData data({"text/plain", "application/x-noise"},
                   {{"text/plain", text}, {"application/x-noise", noise}});
    ClipStore store;
    store.capture(&data);
    const Clip *clip = store.clip(0);
    QVERIFY(clip->data("text/plain") == text);
    QVERIFY(clip->data("application/x-noise") == noise);
    QVERIFY(clip->storedBytes() < text.size() / 4 + noise.size() + 4096);
    QVERIFY(clip->textHead().startsWith("line 0 of "));
    QCOMPARE(clip->textHead().size(), Clip::TextHeadChars);
}

void ClipStoreTest::clipSurvivesTheWayFromTheWorker()
{
    // Noise: a PNG sent twice would not fit in the slack below.
    QImage image(64, 32, QImage::Format_RGB32);
    QRandomGenerator noise(1);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, noise.generate());
    }
    const QByteArray png = pngOf(image);
    QVERIFY(!png.isEmpty());
    const QByteArray big = QByteArray("compressible ").repeated(20000);
    const QStringList listed = {"text/plain", ImageFormat, "image/png", "image/bmp", "B/y"};
    OwnerData data(listed, {{"text/plain", big}, {"image/png", png}, {"B/y", "b"}});
    data.image = image;
    ClipStore store;
    store.capture(&data);

    QByteArray wire;
    QDataStream out(&wire, QIODevice::WriteOnly);
    out << *store.clip(0);
    Clip received;
    QDataStream in(wire);
    in >> received;
    QCOMPARE(in.status(), QDataStream::Ok);
    // The stored form travels as it is: compressed, the image encoded once.
    QVERIFY(wire.size() < store.clip(0)->storedBytes() + 1024);
    QCOMPARE(received.formats(), listed);
    for (const char *format : {"text/plain", "image/png", "B/y"})
        QVERIFY(received.data(format) == data.data(format));
    QCOMPARE(qvariant_cast<QImage>(received.imageData()), image);
    QCOMPARE(received.storedBytes(), store.clip(0)->storedBytes());
    QCOMPARE(received.textHead(), store.clip(0)->textHead());
}

QTEST_MAIN(ClipStoreTest)
#include "tst_clipstore.moc"
