// Prints what the real program costs in memory and CPU: its RSS when idle, and for each kind
// of clip the CPU and wall time of a capture and the RSS after ten of them. It starts the
// tessel binary it is given (so the same bench measures any build) on the X display in
// $DISPLAY, once per case, and reads /proc. The clipboard is owned by xclip or by this
// program itself (--serve), both of which report every request on stderr: a capture is over
// once no request came, and neither Tessel nor the owner used CPU, for a while.
// See README.md.

#include "benchdata.h"
#include "benchx11.h"

#include <QBuffer>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <X11/Xlib.h>
#include <unistd.h>

namespace {

const char TesselTitle[] = "Tessel V" TESSEL_VERSION;
const char GlVariable[] = "QT_XCB_GL_INTEGRATION";
const int DefaultCopies = 10;
// A bomb that gets decoded costs gigabytes: a few copies tell as much.
const int BombCopies = 3;
// Nothing moved for this long: the capture is over. /proc counts CPU in 10 ms ticks.
const int QuietMs = 300;
const int IdleQuietMs = 1000;
const int PollMs = 5;
// A program the bench started is asked to end, then killed after this long.
const int StopWaitMs = 5000;
const int StartTimeoutMs = 20000;
const int OwnerTimeoutMs = 20000;
const int CaptureTimeoutMs = 300000;
const int ServeTimeoutMs = 3600000;
const int DefaultLimitMb = 8192;
const qint64 HugeText = 100LL << 20;
const int BombSide = 30000;
const int HugeBombSide = 65535;

// What an office suite offers besides the picture when it copies one: its own metafile
// formats, large and fairly compressible.
const struct OfficeFormat {
    const char *name;
    qint64 bytes;
} OfficeFormats[] = {
    {"application/x-openoffice-emf;windows_formatname=\"Image EMF\"", 25LL << 20},
    {"application/x-openoffice-wmf;windows_formatname=\"Image WMF\"", 50LL << 20},
    {"application/x-openoffice-gdimetafile;windows_formatname=\"GDIMetaFile\"", 25LL << 20},
    {"application/x-openoffice-svxb;windows_formatname=\"SVXB\"", 25LL << 20},
};

enum class Source { ShortText, Png, QtImage, Office, HugeText, Bomb, HugeBomb };

struct Case {
    const char *name;
    Source source;
    const char *target;
};

const Case Cases[] = {
    {"text 16 B", Source::ShortText, ""},
    {"png 4K (xclip)", Source::Png, "≤ 150 ms CPU"},
    {"image 4K (Qt)", Source::QtImage, "done ≤ 400 ms, ≤ 15 MB a clip, ≤ 200 MB after"},
    {"office-like", Source::Office, "≤ 60 MB a clip"},
    {"text 100 MiB", Source::HugeText, ""},
    {"bomb 30000x30000", Source::Bomb, "no decode, peak and kept +< 20 MB"},
    {"bomb 65535x65535", Source::HugeBomb, "no decode, peak and kept +< 20 MB"},
};

struct Usage {
    double rssMb = 0;
    double hwmMb = 0;
    double workerHwmMb = 0; // the capture worker's peak, the largest where there were several
};

QByteArray readProcFile(qint64 pid, const char *name)
{
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Process pid's CPU, from its stat fields that follow the command (which may hold spaces):
// utime and stime, and with children, what the children it reaped spent.
double statCpuMs(qint64 pid, bool reapedChildren)
{
    const QByteArray stat = readProcFile(pid, "stat");
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 15)
        return 0;
    static const double msPerTick = 1000.0 / double(sysconf(_SC_CLK_TCK));
    long long ticks = fields[11].toLongLong() + fields[12].toLongLong();
    if (reapedChildren)
        ticks += fields[13].toLongLong() + fields[14].toLongLong();
    return double(ticks) * msPerTick;
}

double cpuMsOf(qint64 pid)
{
    return statCpuMs(pid, false);
}

std::vector<qint64> childrenOf(qint64 pid)
{
    std::vector<qint64> pids;
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
    if (children.open(QIODevice::ReadOnly)) {
        for (const QByteArray &child : children.readAll().trimmed().split(' ')) {
            if (!child.isEmpty())
                pids.push_back(child.toLongLong());
        }
    }
    return pids;
}

// The CPU of Tessel and its capture worker: the live children's, and what the ones that
// ended (a worker replaced or restarted) left in the parent's cutime and cstime.
double treeCpuMsOf(qint64 pid)
{
    double total = statCpuMs(pid, true);
    for (const qint64 child : childrenOf(pid))
        total += cpuMsOf(child);
    return total;
}

Usage usageOf(qint64 pid)
{
    Usage usage;
    const QList<QByteArray> lines = readProcFile(pid, "status").split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.size() >= 2 && words[0] == "VmRSS:")
            usage.rssMb = words[1].toDouble() / 1024;
        else if (words.size() >= 2 && words[0] == "VmHWM:")
            usage.hwmMb = words[1].toDouble() / 1024;
    }
    return usage;
}

Usage treeUsageOf(qint64 pid)
{
    Usage usage = usageOf(pid);
    for (const qint64 child : childrenOf(pid))
        usage.workerHwmMb = std::max(usage.workerHwmMb, usageOf(child).hwmMb);
    return usage;
}

QByteArray encode(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Prose of common words in a random order, cut to size bytes: zlib shrinks it about as much
// as it shrinks real text, unlike a text that repeats one line.
QByteArray makeProse(qint64 size, quint32 seed)
{
    static const char *const words[] = {
        "the",       "of",     "and",   "to",      "in",      "is",     "that",    "for",
        "it",        "as",     "was",   "with",    "be",      "by",     "on",      "not",
        "he",        "this",   "are",   "or",      "his",     "from",   "at",      "which",
        "but",       "have",   "an",    "had",     "they",    "you",    "were",    "their",
        "one",       "all",    "we",    "can",     "her",     "has",    "there",   "been",
        "if",        "more",   "when",  "will",    "would",   "who",    "so",      "no",
        "clipboard", "window", "table", "program", "picture", "memory", "format",  "request",
        "owner",     "slot",   "paste", "capture", "number",  "every",  "between", "because"};
    const int count = int(sizeof words / sizeof *words);
    QByteArray text;
    text.reserve(int(size + 16));
    int column = 0;
    while (text.size() < size) {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        text += words[seed % count];
        column += int(std::strlen(words[seed % count])) + 1;
        const char separator = column > 72        ? '\n'
                               : (seed >> 8) % 11 ? ' '
                               : (seed >> 12) % 2 ? ','
                                                  : '.';
        if (separator == '\n')
            column = 0;
        text += separator;
        if (separator != ' ' && separator != '\n')
            text += ' ';
    }
    text.truncate(int(size));
    return text;
}

// Records as a metafile holds them: a small header, coordinates that advance, a slice of the
// picture's pixels and a pen and brush out of a few; zlib's fastest level shrinks that about
// as much as it shrinks the metafiles an office suite copies.
QByteArray makeMetafile(const QByteArray &pixels, qint64 size, quint32 seed)
{
    const int Record = 64;
    const int PixelBytes = 12;
    QByteArray out(int(size), '\0');
    char *at = out.data();
    for (qint64 i = 0; (i + 1) * Record <= size; ++i, at += Record) {
        const quint32 head[4] = {quint32(0x4c + i % 7), Record, quint32(i % 3840),
                                 quint32(i / 3840) ^ seed};
        std::memcpy(at, head, sizeof head);
        std::memcpy(at + 16, pixels.constData() + (i * PixelBytes) % (pixels.size() - PixelBytes),
                    PixelBytes);
        for (int b = 32; b < Record; ++b)
            at[b] = char((i % 5) * 37 + b);
    }
    return out;
}

// The clipboard data of a Qt application that says on stderr what it is asked for.
class LoggedMime : public QMimeData {
protected:
    QVariant retrieveData(const QString &format, QVariant::Type type) const override
    {
        std::fprintf(stderr, "request %s\n", qPrintable(format));
        std::fflush(stderr);
        return QMimeData::retrieveData(format, type);
    }
};

// Owns the clipboard until another client takes it: the PNG in file as a Qt application
// offers an image (kind qt-image), or as an office suite offers a picture (office).
int serve(QGuiApplication &app, const QByteArray &kind, const QString &file)
{
    QFile in(file);
    const QByteArray png = in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    const QImage image = QImage::fromData(png, "PNG");
    if (image.isNull()) {
        std::fprintf(stderr, "bench_footprint --serve: cannot read %s\n", qPrintable(file));
        return 1;
    }
    auto *data = new LoggedMime;
    if (kind == "qt-image") {
        data->setImageData(image);
    } else {
        const QByteArray bmp = encode(image, "BMP");
        data->setData(QStringLiteral("image/png"), png);
        data->setData(QStringLiteral("image/bmp"), bmp);
        for (const OfficeFormat &format : OfficeFormats)
            data->setData(QString::fromLatin1(format.name),
                          makeMetafile(bmp, format.bytes, qHash(png)));
    }
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->setMimeData(data);
    std::fprintf(stderr, "owned\n");
    std::fflush(stderr);
    QObject::connect(clipboard, &QClipboard::dataChanged, &app, [&] {
        if (!clipboard->ownsClipboard())
            app.quit();
    });
    QTimer::singleShot(ServeTimeoutMs, &app, &QCoreApplication::quit);
    return app.exec();
}

// Waits until pid has used no CPU for quietMs; false at the deadline.
bool settle(qint64 pid, int quietMs, int timeoutMs)
{
    QElapsedTimer total;
    total.start();
    QElapsedTimer quiet;
    quiet.start();
    double cpu = cpuMsOf(pid);
    while (quiet.elapsed() < quietMs) {
        if (total.elapsed() > timeoutMs)
            return false;
        QThread::msleep(PollMs * 4);
        const double now = cpuMsOf(pid);
        if (now != cpu) {
            cpu = now;
            quiet.restart();
        }
    }
    return true;
}

struct Capture {
    double cpuMs = 0;
    double wallMs = 0;
    double ownerCpuMs = 0; // the owner's own work: encoding what it is asked for
};

struct Result {
    const Case *c = nullptr;
    int copies = 0;
    std::vector<double> cpu;
    std::vector<double> wall;
    std::vector<double> owner;
    Usage idle;
    Usage after;
};

class FootprintBench {
public:
    FootprintBench(Display *display, QString tesselPath, int limitMb)
        : display(display), tesselPath(std::move(tesselPath)), limitMb(limitMb)
    {
    }

    ~FootprintBench() { stopAll(); }

    // Starts the program with the GL integration Qt picks, or with none; true once its
    // window has shown and it has gone quiet.
    bool startTessel(bool glNone)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        environment.remove(QLatin1String(GlVariable));
        if (glNone)
            environment.insert(QLatin1String(GlVariable), QStringLiteral("none"));
        tessel = std::make_unique<QProcess>();
        tessel->setProcessEnvironment(environment);
        tessel->setStandardOutputFile(QProcess::nullDevice());
        tessel->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // The shell caps the address space and becomes the program, keeping its pid.
        tessel->start(QStringLiteral("sh"),
                      {QStringLiteral("-c"), QStringLiteral("ulimit -v \"$1\" && exec \"$2\""),
                       QStringLiteral("sh"), QString::number(qint64(limitMb) * 1024), tesselPath});
        QElapsedTimer timer;
        timer.start();
        bool up = tessel->waitForStarted();
        while (up && !benchx11::hasWindowNamed(display, DefaultRootWindow(display), TesselTitle)) {
            up = timer.elapsed() < StartTimeoutMs && tessel->state() == QProcess::Running;
            QThread::msleep(20);
        }
        if (!up) {
            std::fprintf(stderr,
                         "bench_footprint: the Tessel window did not appear (%s); are F1 to F10 "
                         "taken by another client?\n",
                         qPrintable(tesselPath));
            return false;
        }
        return settle(tessel->processId(), IdleQuietMs, StartTimeoutMs);
    }

    Usage tesselUsage() const { return treeUsageOf(tessel->processId()); }

    // Starts an owner of file and waits until Tessel has captured it.
    bool capture(Source source, const QString &file, Capture &result)
    {
        auto owner = std::make_unique<QProcess>();
        owner->setStandardOutputFile(QProcess::nullDevice());
        owner->setReadChannel(QProcess::StandardError);
        QByteArray ownedMark;
        if (source == Source::QtImage || source == Source::Office) {
            owner->start(QCoreApplication::applicationFilePath(),
                         {QStringLiteral("--serve"),
                          QLatin1String(source == Source::QtImage ? "qt-image" : "office"), file});
            ownedMark = "owned";
        } else {
            QStringList args{QStringLiteral("-verbose"), QStringLiteral("-selection"),
                             QStringLiteral("clipboard")};
            if (source != Source::ShortText && source != Source::HugeText)
                args << QStringLiteral("-t") << QStringLiteral("image/png");
            args << QStringLiteral("-i") << file;
            owner->start(QStringLiteral("xclip"), args);
            // xclip says this once it owns the selection, then counts on after each request.
            ownedMark = "request number 1";
        }
        QProcess &current = *owner;
        owners.push_back(std::move(owner));
        const qint64 pid = tessel->processId();
        const double cpuBefore = treeCpuMsOf(pid);

        QElapsedTimer timer;
        timer.start();
        QByteArray said;
        while (!said.contains(ownedMark)) {
            if (timer.elapsed() > OwnerTimeoutMs || !current.waitForReadyRead(OwnerTimeoutMs)) {
                std::fprintf(stderr, "bench_footprint: %s never took the clipboard\n",
                             qPrintable(current.program()));
                return false;
            }
            said += current.readAllStandardError();
        }
        // From here the owner only reports requests, and each one is news; the first may
        // have come with the word that it owns the clipboard.
        timer.restart();
        qint64 lastChange = 0;
        bool started = !said.mid(said.indexOf(ownedMark) + ownedMark.size()).trimmed().isEmpty();
        double tesselCpu = cpuBefore;
        double ownerCpu = cpuMsOf(current.processId());
        const double ownerBefore = ownerCpu;
        for (;;) {
            current.waitForReadyRead(PollMs);
            bool moved = !current.readAllStandardError().isEmpty();
            const double nowTessel = treeCpuMsOf(pid);
            const double nowOwner =
                current.state() == QProcess::Running ? cpuMsOf(current.processId()) : ownerCpu;
            moved = moved || nowTessel != tesselCpu || nowOwner != ownerCpu;
            started = started || moved;
            tesselCpu = nowTessel;
            ownerCpu = nowOwner;
            if (moved)
                lastChange = timer.elapsed();
            if (started && timer.elapsed() - lastChange >= QuietMs)
                break;
            if (timer.elapsed() > CaptureTimeoutMs || tessel->state() != QProcess::Running) {
                std::fprintf(stderr, "bench_footprint: the capture did not end (Tessel %s)\n",
                             tessel->state() == QProcess::Running ? "busy" : "exited");
                return false;
            }
        }
        result.cpuMs = tesselCpu - cpuBefore;
        result.wallMs = double(lastChange);
        result.ownerCpuMs = ownerCpu - ownerBefore;
        // The owners before this one lost the clipboard and leave by themselves.
        while (owners.size() > 1) {
            benchx11::stopProcess(*owners.front(), StopWaitMs);
            owners.erase(owners.begin());
        }
        return true;
    }

    void stopAll()
    {
        for (auto &owner : owners)
            benchx11::stopProcess(*owner, StopWaitMs);
        owners.clear();
        if (tessel)
            benchx11::stopProcess(*tessel, StopWaitMs);
        tessel.reset();
    }

private:
    Display *display;
    QString tesselPath;
    int limitMb;
    std::unique_ptr<QProcess> tessel;
    std::vector<std::unique_ptr<QProcess>> owners;
};

// Clipboard contents, distinct for each copy so that nothing can be shared between clips.
// Images are made once into the cache folder; texts into a temporary one.
class Inputs {
public:
    explicit Inputs(QString cache) : cache(std::move(cache)) { QDir().mkpath(this->cache); }

    QString file(Source source, int copy)
    {
        switch (source) {
        case Source::ShortText:
            return text(QByteArray("tessel footprint ") +
                        QByteArray::number(copy).rightJustified(4, '0'));
        case Source::HugeText:
            return text(makeProse(HugeText, quint32(copy + 1) * 2654435761u));
        case Source::Bomb:
        case Source::HugeBomb:
            return bomb(source == Source::Bomb ? BombSide : HugeBombSide, copy);
        default:
            return photo(copy);
        }
    }

    void describe()
    {
        const QString first = photo(0);
        QFile png(first);
        std::printf("4K picture: %s, %lld bytes\n", qPrintable(first), png.size());
        png.open(QIODevice::ReadOnly);
        const QByteArray bmp = encode(QImage::fromData(png.readAll(), "PNG"), "BMP");
        qint64 total = 0;
        for (const OfficeFormat &format : OfficeFormats)
            total += format.bytes;
        const QByteArray sample = makeMetafile(bmp, OfficeFormats[0].bytes, 0);
        std::printf("office-like: image/png, image/bmp (%d bytes) and %lld MiB in metafile "
                    "formats, which zlib level 1 shrinks %.1fx\n",
                    bmp.size(), total >> 20, double(sample.size()) / qCompress(sample, 1).size());
        const QByteArray prose = makeProse(10 << 20, 1);
        std::printf("texts: prose that zlib level 1 shrinks %.1fx\n",
                    double(prose.size()) / qCompress(prose, 1).size());
    }

private:
    QString text(const QByteArray &bytes)
    {
        const QString path = scratch.filePath(QStringLiteral("text"));
        return writeFile(path, bytes) ? path : QString();
    }

    // A photo-like 3840x2160 PNG (ImageMagick's plasma fractal; the bench's own screen-like
    // picture where ImageMagick is missing), with a mark telling the copies apart.
    QString photo(int copy)
    {
        const QString path = cache + QStringLiteral("/photo-%1.png").arg(copy);
        if (QFile::exists(path))
            return path;
        const QString base = cache + QStringLiteral("/plasma.png");
        if (!QFile::exists(base) &&
            !QStandardPaths::findExecutable(QStringLiteral("convert")).isEmpty()) {
            std::printf("making %s with ImageMagick...\n", qPrintable(base));
            std::fflush(stdout);
            QProcess::execute(
                QStringLiteral("convert"),
                {QStringLiteral("-seed"), QStringLiteral("7"), QStringLiteral("-size"),
                 QStringLiteral("%1x%2").arg(benchdata::ImageWidth).arg(benchdata::ImageHeight),
                 QStringLiteral("plasma:fractal"), QStringLiteral("-depth"), QStringLiteral("8"),
                 QStringLiteral("PNG24:") + base});
        }
        QImage image(base);
        if (image.isNull()) {
            std::printf("no ImageMagick: the 4K picture is the bench's screen-like one\n");
            image = QImage::fromData(benchdata::makePng(), "PNG");
        }
        image = image.convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 16; ++x)
                image.setPixel(copy * 16 + x, y, qRgb(copy * 25, 255 - copy * 25, 128));
        }
        std::printf("encoding %s...\n", qPrintable(path));
        std::fflush(stdout);
        return writeFile(path, encode(image, "PNG")) ? path : QString();
    }

    // A 1-bit all-white square PNG of side pixels: 110 KB (30000) or 520 KB (65535) that
    // decode to side²/8 bytes, and to side² * 4 as a pixmap.
    QString bomb(int side, int copy)
    {
        const QString path = cache + QStringLiteral("/bomb-%1-%2.png").arg(side).arg(copy);
        if (QFile::exists(path))
            return path;
        std::printf("encoding %s...\n", qPrintable(path));
        std::fflush(stdout);
        QImage image(side, side, QImage::Format_Mono);
        image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
        image.fill(0);
        image.setPixel(copy, 0, 1);
        return writeFile(path, encode(image, "PNG")) ? path : QString();
    }

    QString cache;
    QTemporaryDir scratch;
};

void printIdle(const char *name, const Usage &usage, const char *target)
{
    std::printf("idle, %-40s RSS %7.1f MiB   %s\n", name, usage.rssMb, target);
    std::fflush(stdout);
}

void printHeader()
{
    std::printf("\ncases run with %s=none; CPU = Tessel's and its capture worker's utime+stime for "
                "one capture; done = "
                "owner took the clipboard ->\nlast request, Tessel and owner quiet; owner = the "
                "owner's CPU in that time; RSS after N "
                "clips; a clip = (after - idle) / N; peak = VmHWM - idle;\nworker = the capture "
                "worker's VmHWM, its idle RSS included (mostly Qt's shared pages); MiB = /proc kB "
                "/ 1024\n",
                GlVariable);
    std::printf("%-16s %5s | %9s %9s | %9s %9s %9s | %8s %7s %8s %8s %8s | %s\n", "case", "clips",
                "CPU ms", "max", "done ms", "max", "owner ms", "idle MiB", "after", "a clip",
                "peak +", "worker", "target");
    std::fflush(stdout);
}

void printRow(const Result &r)
{
    std::printf(
        "%-16s %5d | %9.0f %9.0f | %9.0f %9.0f %9.0f | %8.1f %7.1f %8.1f %8.1f %8.1f | %s\n",
        r.c->name, r.copies, benchdata::median(r.cpu), benchdata::maximum(r.cpu),
        benchdata::median(r.wall), benchdata::maximum(r.wall), benchdata::median(r.owner),
        r.idle.rssMb, r.after.rssMb, (r.after.rssMb - r.idle.rssMb) / r.copies,
        r.after.hwmMb - r.idle.rssMb, r.after.workerHwmMb, r.c->target);
    std::fflush(stdout);
}

void usage()
{
    std::fprintf(stderr, "usage: bench_footprint [--tessel PATH] [--copies N] [--only TEXT] "
                         "[--cache DIR] [--limit-mb N]\n"
                         "       bench_footprint --serve qt-image|office FILE.png\n");
}

} // namespace

int main(int argc, char **argv)
{
    QString tesselPath;
    QString cache = QDir::temp().filePath(QStringLiteral("tessel-bench-footprint"));
    int copies = DefaultCopies;
    int limitMb = DefaultLimitMb;
    QByteArray only;
    QByteArray serveKind;
    QString serveFile;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--tessel") && i + 1 < argc) {
            tesselPath = QString::fromLocal8Bit(argv[++i]);
        } else if (!std::strcmp(argv[i], "--copies") && i + 1 < argc) {
            copies = std::max(1, std::atoi(argv[++i]));
        } else if (!std::strcmp(argv[i], "--only") && i + 1 < argc) {
            only = argv[++i];
        } else if (!std::strcmp(argv[i], "--cache") && i + 1 < argc) {
            cache = QString::fromLocal8Bit(argv[++i]);
        } else if (!std::strcmp(argv[i], "--limit-mb") && i + 1 < argc) {
            limitMb = std::max(64, std::atoi(argv[++i]));
        } else if (!std::strcmp(argv[i], "--serve") && i + 2 < argc) {
            serveKind = argv[++i];
            serveFile = QString::fromLocal8Bit(argv[++i]);
        } else {
            usage();
            return 2;
        }
    }
    if (!serveKind.isEmpty()) {
        qputenv("QT_QPA_PLATFORM", "xcb");
        QGuiApplication app(argc, argv);
        return serve(app, serveKind, serveFile);
    }

    QCoreApplication app(argc, argv);
    if (tesselPath.isEmpty())
        tesselPath = benchx11::besideThisProgram(QStringLiteral("../tessel"));
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "bench_footprint: cannot open the X display (is DISPLAY set?)\n");
        return 1;
    }
    std::printf("tessel: %s\ndisplay %s, window manager: %s; address space capped at %d MB\n",
                qPrintable(tesselPath), DisplayString(display),
                benchx11::windowManagerName(display).constData(), limitMb);
    Inputs inputs(cache);
    inputs.describe();

    int status = 0;
    {
        FootprintBench bench(display, tesselPath, limitMb);
        for (const bool glNone : {false, true}) {
            if (!bench.startTessel(glNone))
                return 1;
            printIdle(glNone ? "QT_XCB_GL_INTEGRATION=none" : "QT_XCB_GL_INTEGRATION unset",
                      bench.tesselUsage(), glNone ? "target ≤ 30 MB" : "");
            bench.stopAll();
        }
        printHeader();
        for (const Case &c : Cases) {
            if (!only.isEmpty() && !QByteArray(c.name).contains(only))
                continue;
            Result result;
            result.c = &c;
            result.copies = c.source == Source::Bomb || c.source == Source::HugeBomb
                                ? std::min(copies, BombCopies)
                                : copies;
            const bool isText = c.source == Source::ShortText || c.source == Source::HugeText;
            // Pictures are made before the program starts; texts share one file, written
            // anew for each copy.
            std::vector<QString> files;
            for (int copy = 0; copy < result.copies && !isText; ++copy)
                files.push_back(inputs.file(c.source, copy));
            if (!bench.startTessel(true))
                return 1;
            result.idle = bench.tesselUsage();
            bool ok = true;
            for (int copy = 0; copy < result.copies && ok; ++copy) {
                const QString file = isText ? inputs.file(c.source, copy) : files[size_t(copy)];
                Capture capture;
                ok = !file.isEmpty() && bench.capture(c.source, file, capture);
                result.cpu.push_back(capture.cpuMs);
                result.wall.push_back(capture.wallMs);
                result.owner.push_back(capture.ownerCpuMs);
            }
            result.after = bench.tesselUsage();
            bench.stopAll();
            if (ok) {
                printRow(result);
            } else {
                std::printf("%-16s failed\n", c.name);
                status = 1;
            }
        }
    }
    XCloseDisplay(display);
    return status;
}
