// Prints what one clipboard capture costs, what a full repaint of the table costs afterwards
// and how long the content cell's tooltip takes to show, for texts from 16 B to 100 MiB, a 4K
// PNG, 500 formats, and a text and an image offered as a Qt application offers them.
// Offscreen the data is set in-process; with --x11 a separate process (xclip, or the fake
// owner of tests/fakeowner) owns the clipboard so that the X transfers are counted.
// See README.md.

#include "benchsupport.h"
#include "window/tesselgui.h"

#include <QApplication>
#include <QClipboard>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QHelpEvent>
#include <QImage>
#include <QMimeData>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QToolTip>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>

namespace {

using namespace bench;

const QString ImageFormat = QStringLiteral("application/x-qt-image");
const QString PngFormat = QStringLiteral("image/png");
const int FormatCount = 500;
const int FormatBytes = 16;
const int DefaultRuns = 5;
const int HugeRuns = 3;
const qint64 HugeText = 100LL << 20;
const int ChangeTimeoutMs = 120000;

enum class Kind { Text, Png, Formats, QtText, QtImage };

struct Case {
    const char *name;
    Kind kind;
    qint64 bytes;
};

const Case Cases[] = {
    {"text 16 B", Kind::Text, 16},
    {"text 1 KiB", Kind::Text, 1LL << 10},
    {"text 1 MiB", Kind::Text, 1LL << 20},
    {"text 10 MiB", Kind::Text, 10LL << 20},
    {"text 100 MiB", Kind::Text, HugeText},
    {"png 3840x2160", Kind::Png, 0},
    {"500 formats", Kind::Formats, FormatCount},
    {"text 10 MiB (Qt)", Kind::QtText, 10LL << 20},
    {"image 4K (Qt)", Kind::QtImage, 0},
};

template <typename F> double timeMs(F &&work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e6;
}

bool waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && !timer.hasExpired(timeoutMs)) {
        QCoreApplication::processEvents();
        QThread::msleep(1);
    }
    return done();
}

// What a platform clipboard gives for a copied PNG: the encoded bytes and, derived from
// them, the image format, decoded anew on every request.
class EncodedImageMime : public QMimeData {
public:
    explicit EncodedImageMime(QByteArray png) : png(std::move(png)) {}

    QStringList formats() const override { return {PngFormat, ImageFormat}; }

protected:
    QVariant retrieveData(const QString &format, QVariant::Type) const override
    {
        if (format == PngFormat)
            return png;
        if (format == ImageFormat)
            return QImage::fromData(png, "PNG");
        return QVariant();
    }

private:
    QByteArray png;
};

// The data of a case set in-process: as a platform clipboard gives a text or a copied PNG,
// or as a Qt application offers a text, an image or a set of formats. payload is the text's
// bytes or the encoded image.
QMimeData *inProcessData(Kind kind, const QByteArray &payload)
{
    if (kind == Kind::Png)
        return new EncodedImageMime(payload);
    auto *data = new QMimeData;
    if (kind == Kind::Text)
        data->setData(QStringLiteral("text/plain"), payload);
    else if (kind == Kind::QtText)
        data->setText(QString::fromUtf8(payload));
    else if (kind == Kind::QtImage)
        data->setImageData(QImage::fromData(payload, "PNG"));
    for (int i = 0; kind == Kind::Formats && i < FormatCount; ++i)
        data->setData(
            QStringLiteral("application/x-tessel-bench-%1").arg(i, 3, 10, QLatin1Char('0')),
            QByteArray::number(i).rightJustified(FormatBytes, '#'));
    return data;
}

QStringList ownerCommand(Kind kind, const QString &file)
{
    if (kind == Kind::Text || kind == Kind::Png)
        return xclip("-quiet", file, kind == Kind::Png);
    const char *const modes[] = {"", "", "formats", "qt-text", "qt-image"};
    return {fakeOwner(), QLatin1String(modes[int(kind)]),
            kind == Kind::Formats ? QString::number(FormatCount) : file};
}

class Bench {
public:
    explicit Bench(bool x11) : x11(x11)
    {
        window.show();
        table = window.findChild<QTableWidget *>();
        waitUntil([this] { return window.windowHandle() && window.windowHandle()->isExposed(); },
                  5000);
        QObject::connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, &window,
                         [this] { onClipboardChange(); });
    }

    bool run(const Case &c, const QByteArray &png, int runs, bool print = true)
    {
        const bool text = c.kind == Kind::Text || c.kind == Kind::QtText;
        const QByteArray payload = text ? makeText(c.bytes) : png;
        const QString file = dir.filePath(QStringLiteral("payload"));
        if (x11 && !writeFile(file, payload))
            return false;
        Figure capture;      // clipboardDataChanged as a whole
        Figure repaint;      // table->viewport()->repaint()
        Figure tooltip;      // the QHelpEvent(ToolTip) to the content cell
        QByteArray tip;      // whether the last one was shown, and its length
        QStringList formats; // as the clipboard listed them
        for (int r = 0; r < runs; ++r) {
            QMetaObject::invokeMethod(&window, "onempty");
            capturedMs = -1;
            if (x11)
                owners.start(ownerCommand(c.kind, file), QProcess::MergedChannels);
            else
                QGuiApplication::clipboard()->setMimeData(inProcessData(c.kind, payload));
            if (!waitUntil([this] { return capturedMs >= 0; }, ChangeTimeoutMs)) {
                std::fprintf(stderr, "%s: nothing was captured\n", c.name);
                return false;
            }
            owners.endOlder();
            capture.add(capturedMs);
            formats = QGuiApplication::clipboard()->mimeData()->formats();
            // Let the update the capture scheduled happen first: what is timed is a full repaint.
            QCoreApplication::processEvents();
            repaint.add(timeMs([this] { table->viewport()->repaint(); }));
            const QPoint centre = table->visualItemRect(table->item(0, 0)).center();
            QHelpEvent help(QEvent::ToolTip, centre, table->viewport()->mapToGlobal(centre));
            tooltip.add(timeMs([&] { QCoreApplication::sendEvent(table->viewport(), &help); }));
            tip = QToolTip::isVisible()
                      ? "yes, " + QByteArray::number(QToolTip::text().size()) + " chars"
                      : "no (empty tip)";
            QToolTip::hideText();
            waitUntil([] { return !QToolTip::isVisible(); }, 2000);
        }
        const QStringList shown =
            formats.size() > 20 ? formats.mid(0, 3) << QStringLiteral("...") : formats;
        if (print)
            std::printf("%-16s %5d | %s | %s | %s | %-15s | %d: %s\n", c.name, runs,
                        capture.pair(9, 2).data(), repaint.pair(9, 2).data(),
                        tooltip.pair(9, 2).data(), tip.constData(), int(formats.size()),
                        qPrintable(shown.join(QStringLiteral(", "))));
        return true;
    }

private:
    void onClipboardChange()
    {
        const double ms = timeMs([this] {
            QMetaObject::invokeMethod(&window, "clipboardDataChanged", Qt::DirectConnection);
        });
        // A change that filled no slot was an owner leaving (or the slots emptied), not ours.
        const QTableWidgetItem *shortcut = table->item(0, 1);
        if (shortcut && !shortcut->text().isEmpty())
            capturedMs = ms;
    }

    bool x11;
    QTemporaryDir dir;
    Owners owners;
    TesselGui window;
    QTableWidget *table = nullptr;
    double capturedMs = -1;
};

QtMessageHandler defaultHandler = nullptr;

// The offscreen platform warns each time a tooltip is raised; that is not news here.
void quietHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.startsWith(QLatin1String("This plugin does not support")))
        return;
    defaultHandler(type, context, message);
}

} // namespace

int main(int argc, char **argv)
{
    // The platform is chosen before the application is made.
    const bool x11 = std::any_of(argv + 1, argv + argc, [](const char *argument) {
        return !std::strcmp(argument, "--x11");
    });
    qputenv("QT_QPA_PLATFORM", x11 ? "xcb" : "offscreen");
    defaultHandler = qInstallMessageHandler(quietHandler);
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parseOptions(parser,
                 {{"x11", "On the X display in $DISPLAY, the data owned by xclip or by the fake "
                          "owner; otherwise offscreen, the data set in-process."},
                  {"runs", "Runs per case.", "n", QString::number(DefaultRuns)},
                  {"only", "Only the cases whose name contains one of the texts.", "texts"}});
    const int runs = intOption(parser, QStringLiteral("runs"));
    const QByteArray png = makePng();
    std::printf("PNG: %d bytes\n", png.size());

    Bench bench(x11);
    // The first capture, paint and tooltip load fonts and styles; keep that out of the figures.
    if (!bench.run(Cases[0], png, 1, false))
        return 1;
    std::printf("\nmode: %s\n", x11 ? "X11, data owned by another process (transfers counted)"
                                    : "offscreen, data set in-process");
    std::printf("%-16s %5s | %19s | %19s | %19s | %-15s | %s\n", "case", "runs",
                "capture ms med/max", "repaint ms med/max", "tooltip ms med/max", "tooltip shown",
                "formats listed");
    for (const Case &c : Cases) {
        if (picked(parser, c.name) &&
            !bench.run(c, png, c.bytes >= HugeText ? std::min(runs, HugeRuns) : runs))
            return 1;
    }
    return 0;
}
