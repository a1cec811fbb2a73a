// Prints what one clipboard capture costs, what a full repaint of the table costs afterwards
// and how long the content cell's tooltip takes to show, for texts from 1 KiB to 100 MiB, a
// 4K PNG and a change listing 500 formats. Offscreen the data is set in-process; with --x11
// a separate process (xclip, or this program with --serve) owns the clipboard so that the X
// transfers are counted. The cases marked (Qt) are offered as a Qt application offers what it
// copies: a text or an image value, which it converts into every format it lists.
// See README.md.

#include "benchdata.h"
#include "window/tesselgui.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHelpEvent>
#include <QImage>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolTip>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

namespace {

const QString ImageFormat = QStringLiteral("application/x-qt-image");
const QString PngFormat = QStringLiteral("image/png");
const int FormatCount = 500;
const int FormatBytes = 16;
const int DefaultRuns = 5;
const int HugeRuns = 3;
const qint64 HugeText = 100LL << 20;
const int ChangeTimeoutMs = 120000;
const int ServeTimeoutMs = 600000;

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

const char *serveKind(Kind kind)
{
    switch (kind) {
    case Kind::Formats:
        return "formats";
    case Kind::QtText:
        return "text";
    case Kind::QtImage:
        return "image";
    default:
        return nullptr;
    }
}

struct Sample {
    double capture = 0; // clipboardDataChanged as a whole
    double repaint = 0; // table->viewport()->repaint()
    double tooltip = 0; // the QHelpEvent(ToolTip) to the content cell
    bool tipShown = false;
    int tipChars = 0;
    QStringList formats; // as the clipboard listed them
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
    if (done())
        return true;
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(2);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    poll.start();
    loop.exec();
    return done();
}

QString formatName(int i)
{
    return QStringLiteral("application/x-tessel-bench-%1").arg(i, 3, 10, QLatin1Char('0'));
}

QByteArray formatBytes(int i)
{
    return QByteArray::number(i).rightJustified(FormatBytes, '#');
}

// What a platform clipboard gives for a copied PNG: the encoded bytes and, derived from
// them, the image format, decoded anew on every request.
class EncodedImageMime : public QMimeData {
public:
    explicit EncodedImageMime(QByteArray png) : png(std::move(png)) {}

    QStringList formats() const override { return {PngFormat, ImageFormat}; }
    bool hasFormat(const QString &format) const override { return formats().contains(format); }

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

// The data object a Qt application puts on the clipboard when it copies a text, an image
// or a set of formats; payload is the text's bytes or the encoded image.
QMimeData *makeQtData(Kind kind, const QByteArray &payload)
{
    auto *data = new QMimeData;
    if (kind == Kind::QtText) {
        data->setText(QString::fromUtf8(payload));
    } else if (kind == Kind::QtImage) {
        data->setImageData(QImage::fromData(payload, "PNG"));
    } else {
        for (int i = 0; i < FormatCount; ++i)
            data->setData(formatName(i), formatBytes(i));
    }
    return data;
}

QMimeData *makeInProcessData(const Case &c, const QByteArray &payload)
{
    if (c.kind == Kind::Png)
        return new EncodedImageMime(payload);
    if (c.kind == Kind::Text) {
        auto *data = new QMimeData;
        data->setData(QStringLiteral("text/plain"), payload);
        return data;
    }
    return makeQtData(c.kind, payload);
}

QByteArray payloadFor(const Case &c, const QByteArray &png)
{
    if (c.kind == Kind::Text || c.kind == Kind::QtText)
        return benchdata::makeText(c.bytes);
    if (c.kind == Kind::Png || c.kind == Kind::QtImage)
        return png;
    return QByteArray();
}

std::vector<double> column(const std::vector<Sample> &samples, double Sample::*field)
{
    std::vector<double> values;
    for (const Sample &s : samples)
        values.push_back(s.*field);
    return values;
}

class Bench {
public:
    explicit Bench(bool x11) : x11(x11)
    {
        window.show();
        table = window.findChild<QTableWidget *>();
        for (QPushButton *button : window.findChildren<QPushButton *>()) {
            if (button->text() == QLatin1String("Empty"))
                emptyButton = button;
        }
        waitUntil([this] { return window.windowHandle() && window.windowHandle()->isExposed(); },
                  5000);
        QObject::connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, &window,
                         [this] { onClipboardChange(); });
    }

    ~Bench()
    {
        for (QProcess *owner : owners)
            stopOwner(owner);
    }

    bool run(const Case &c, const QByteArray &png, int runs, std::vector<Sample> &samples)
    {
        const QByteArray payload = payloadFor(c, png);
        QString file;
        if (x11 && c.kind != Kind::Formats) {
            file = dir.filePath(QStringLiteral("payload"));
            QFile out(file);
            if (!out.open(QIODevice::WriteOnly) || out.write(payload) != payload.size()) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
                return false;
            }
        }
        for (int r = 0; r < runs; ++r) {
            emptyButton->click();
            Sample sample;
            if (x11 ? !captureFromOwner(c, file, sample) : !captureInProcess(c, payload, sample))
                return false;
            paintAndHover(sample);
            samples.push_back(sample);
        }
        return true;
    }

private:
    bool captureInProcess(const Case &c, const QByteArray &payload, Sample &sample)
    {
        QGuiApplication::clipboard()->setMimeData(makeInProcessData(c, payload));
        sample.capture = timeCapture();
        if (!firstSlotFilled()) {
            std::fprintf(stderr, "%s: nothing was captured\n", c.name);
            return false;
        }
        recordFormats(sample);
        return true;
    }

    bool captureFromOwner(const Case &c, const QString &file, Sample &sample)
    {
        auto *owner = new QProcess;
        if (const char *kind = serveKind(c.kind)) {
            owner->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            owner->start(QCoreApplication::applicationFilePath(),
                         {QStringLiteral("--serve"), QString::fromLatin1(kind), file});
        } else {
            QStringList args{QStringLiteral("-quiet"), QStringLiteral("-selection"),
                             QStringLiteral("clipboard")};
            if (c.kind == Kind::Png)
                args << QStringLiteral("-t") << PngFormat;
            args << QStringLiteral("-i") << file;
            // -quiet keeps xclip in the foreground, where it reports every request.
            owner->setStandardOutputFile(QProcess::nullDevice());
            owner->setStandardErrorFile(QProcess::nullDevice());
            owner->start(QStringLiteral("xclip"), args);
        }
        owners.push_back(owner);
        if (!owner->waitForStarted()) {
            std::fprintf(stderr, "%s: cannot start the clipboard owner\n", c.name);
            return false;
        }
        expecting = &sample;
        const bool captured = waitUntil([this] { return !expecting; }, ChangeTimeoutMs);
        expecting = nullptr;
        // The owner before this one lost the selection and leaves by itself.
        while (owners.size() > 1) {
            stopOwner(owners.front());
            owners.erase(owners.begin());
        }
        if (!captured)
            std::fprintf(stderr, "%s: no capture within %d s\n", c.name, ChangeTimeoutMs / 1000);
        return captured;
    }

    void onClipboardChange()
    {
        if (!expecting)
            return;
        const double ms = timeCapture();
        // A change that filled no slot was an owner leaving, not our data.
        if (!firstSlotFilled())
            return;
        expecting->capture = ms;
        recordFormats(*expecting);
        expecting = nullptr;
    }

    bool firstSlotFilled() const
    {
        const QTableWidgetItem *shortcut = table->item(0, 1);
        return shortcut && !shortcut->text().isEmpty();
    }

    double timeCapture()
    {
        return timeMs([this] {
            QMetaObject::invokeMethod(&window, "clipboardDataChanged", Qt::DirectConnection);
        });
    }

    // The formats the change offered.
    static void recordFormats(Sample &sample)
    {
        const QMimeData *source = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
        if (source)
            sample.formats = source->formats();
    }

    void paintAndHover(Sample &sample)
    {
        // Let the update the capture scheduled happen first: what is timed is a full repaint.
        QCoreApplication::processEvents();
        sample.repaint = timeMs([this] { table->viewport()->repaint(); });

        QToolTip::hideText();
        waitUntil([] { return !QToolTip::isVisible(); }, 2000);
        QTableWidgetItem *item = table->item(0, 0);
        if (!item)
            return;
        const QPoint centre = table->visualItemRect(item).center();
        QHelpEvent help(QEvent::ToolTip, centre, table->viewport()->mapToGlobal(centre));
        sample.tooltip = timeMs([&] { QCoreApplication::sendEvent(table->viewport(), &help); });
        sample.tipShown = QToolTip::isVisible();
        sample.tipChars = sample.tipShown ? QToolTip::text().size() : 0;
        QToolTip::hideText();
        waitUntil([] { return !QToolTip::isVisible(); }, 2000);
    }

    static void stopOwner(QProcess *owner)
    {
        if (owner->state() != QProcess::NotRunning && !owner->waitForFinished(2000)) {
            owner->kill();
            owner->waitForFinished(2000);
        }
        delete owner;
    }

    bool x11;
    TesselGui window;
    QTableWidget *table = nullptr;
    QPushButton *emptyButton = nullptr;
    QTemporaryDir dir;
    std::vector<QProcess *> owners;
    Sample *expecting = nullptr;
};

// Owns the clipboard, as a Qt application that copied the data, until another client takes it.
int serve(QGuiApplication &app, const QByteArray &kind, const QString &file)
{
    QByteArray payload;
    QFile in(file);
    if (kind != "formats" &&
        (!in.open(QIODevice::ReadOnly) || (payload = in.readAll()).isEmpty())) {
        std::fprintf(stderr, "bench_capture --serve: cannot read %s\n", qPrintable(file));
        return 1;
    }
    const Kind served = kind == "text"    ? Kind::QtText
                        : kind == "image" ? Kind::QtImage
                                          : Kind::Formats;
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->setMimeData(makeQtData(served, payload));
    QObject::connect(clipboard, &QClipboard::dataChanged, &app, [&] {
        if (!clipboard->ownsClipboard())
            app.quit();
    });
    QTimer::singleShot(ServeTimeoutMs, &app, &QCoreApplication::quit);
    return app.exec();
}

void printReport(const char *mode,
                 const std::vector<std::pair<const Case *, std::vector<Sample>>> &all)
{
    std::printf("\nmode: %s\n", mode);
    std::printf("%-16s %5s | %19s | %19s | %19s | %s\n", "case", "runs", "capture ms med/max",
                "repaint ms med/max", "tooltip ms med/max", "tooltip shown");
    for (const auto &entry : all) {
        const std::vector<Sample> &s = entry.second;
        const auto pair = [&](double Sample::*field) {
            const std::vector<double> values = column(s, field);
            return std::make_pair(benchdata::median(values), benchdata::maximum(values));
        };
        const auto capture = pair(&Sample::capture);
        const auto repaint = pair(&Sample::repaint);
        const auto tooltip = pair(&Sample::tooltip);
        const Sample &last = s.back();
        char tip[32];
        if (last.tipShown)
            std::snprintf(tip, sizeof tip, "yes, %d chars", last.tipChars);
        else
            std::snprintf(tip, sizeof tip, "no (empty tip)");
        std::printf("%-16s %5zu | %9.2f %9.2f | %9.2f %9.2f | %9.2f %9.2f | %s\n",
                    entry.first->name, s.size(), capture.first, capture.second, repaint.first,
                    repaint.second, tooltip.first, tooltip.second, tip);
    }
    std::printf("\nformats listed:\n");
    for (const auto &entry : all) {
        QStringList formats = entry.second.back().formats;
        const int count = formats.size();
        if (count > 20)
            formats = formats.mid(0, 3) << QStringLiteral("...");
        std::printf("%-16s %d: %s\n", entry.first->name, count,
                    qPrintable(formats.join(QStringLiteral(", "))));
    }
    std::fflush(stdout);
}

QtMessageHandler defaultHandler = nullptr;

// The offscreen platform warns each time a tooltip is raised; that is not news here.
void quietHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.startsWith(QLatin1String("This plugin does not support")))
        return;
    defaultHandler(type, context, message);
}

void usage()
{
    std::fprintf(stderr,
                 "usage: bench_capture [--x11] [--runs N] [--only TEXT]\n"
                 "  default: offscreen, the data set in-process\n"
                 "  --x11:   on the X display in $DISPLAY, the data owned by xclip or by a second\n"
                 "           process of this program\n"
                 "  --only:  run only the cases whose name contains TEXT\n");
}

} // namespace

int main(int argc, char **argv)
{
    bool x11 = false;
    QByteArray serveKind;
    QString serveFile;
    int runs = DefaultRuns;
    QByteArray only;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--x11")) {
            x11 = true;
        } else if (!std::strcmp(argv[i], "--serve") && i + 2 < argc) {
            serveKind = argv[++i];
            serveFile = QString::fromLocal8Bit(argv[++i]);
        } else if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (!std::strcmp(argv[i], "--only") && i + 1 < argc) {
            only = argv[++i];
        } else {
            usage();
            return 2;
        }
    }
    const bool serving = !serveKind.isEmpty();
    qputenv("QT_QPA_PLATFORM", x11 || serving ? "xcb" : "offscreen");

    if (serving) {
        QGuiApplication app(argc, argv);
        return serve(app, serveKind, serveFile);
    }

    defaultHandler = qInstallMessageHandler(quietHandler);
    QApplication app(argc, argv);
    std::printf("encoding the %dx%d PNG...\n", benchdata::ImageWidth, benchdata::ImageHeight);
    std::fflush(stdout);
    const QByteArray png = benchdata::makePng();
    std::printf("PNG: %d bytes\n", png.size());

    Bench bench(x11);
    // The first capture, paint and tooltip load fonts and styles; keep that out of the figures.
    std::vector<Sample> warmUp;
    if (!bench.run(Cases[0], png, 1, warmUp))
        return 1;

    std::vector<std::pair<const Case *, std::vector<Sample>>> all;
    for (const Case &c : Cases) {
        if (!only.isEmpty() && !QByteArray(c.name).contains(only))
            continue;
        std::printf("%s...\n", c.name);
        std::fflush(stdout);
        std::vector<Sample> samples;
        if (!bench.run(c, png, c.bytes >= HugeText ? std::min(runs, HugeRuns) : runs, samples))
            return 1;
        all.emplace_back(&c, std::move(samples));
    }
    printReport(x11 ? "X11, data owned by another process (transfers counted)"
                    : "offscreen, data set in-process",
                all);
    return 0;
}
