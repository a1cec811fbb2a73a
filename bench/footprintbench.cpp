// Prints what the real program (any build of it) costs in memory and CPU on the X display in
// $DISPLAY: its RSS when idle, and for each kind of clip the CPU and wall time of a capture
// and the RSS after ten of them, from /proc; and what the data it copies is like. See README.md.

#include "benchsupport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>

namespace {

using namespace bench;

const char GlVariable[] = "QT_XCB_GL_INTEGRATION";
const int DefaultCopies = 10;
// A bomb that gets decoded costs gigabytes: a few copies tell as much.
const int BombCopies = 3;
// Nothing moved for this long: the capture is over. /proc counts CPU in 10 ms ticks.
const int QuietMs = 300;
const int IdleQuietMs = 1000;
const int PollMs = 5;
const int StartTimeoutMs = 20000; // the program's, an owner's
const int CaptureTimeoutMs = 300000;
const int DefaultLimitMb = 8192;

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

enum class Source { Text, Png, Jpeg, QtImage, Office, Bomb };

struct Case {
    const char *name;
    Source source;
    qint64 size;        // a text's bytes, a bomb's side
    const char *target; // what the issue set, printed beside the figures
};

const Case Cases[] = {
    {"text 16 B", Source::Text, 16, ""},
    {"png 4K (xclip)", Source::Png, 0, "≤ 150 ms CPU"},
    {"jpeg 4K (owner)", Source::Jpeg, 0, ""},
    {"image 4K (Qt)", Source::QtImage, 0, "done ≤ 400 ms, ≤ 15 MB a clip, ≤ 200 MB after"},
    {"office-like", Source::Office, 0, "≤ 60 MB a clip"},
    {"text 100 MiB", Source::Text, 100LL << 20, ""},
    {"bomb 30000x30000", Source::Bomb, 30000, "no decode, peak and kept +< 20 MB"},
    {"bomb 65535x65535", Source::Bomb, 65535, "no decode, peak and kept +< 20 MB"},
};

// Asks moved() until it has said no for quietMs since it first said yes (or since the start,
// when started): the time from the start until its last yes, or -1 after timeoutMs.
qint64 untilQuiet(const std::function<bool()> &moved, bool started, int quietMs, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    qint64 last = 0;
    while (!started || timer.elapsed() - last < quietMs) {
        if (timer.elapsed() > timeoutMs)
            return -1;
        if (moved()) {
            started = true;
            last = timer.elapsed();
        }
    }
    return last;
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

// A fresh program and the owners it captured from, with the figures of its captures.
class Run {
public:
    // Starts the program, without GL integration (which would cost memory for nothing) unless
    // glNone is false; started once its window has shown and it has gone quiet.
    Run(const QString &tesselPath, int limitMb, bool glNone = true)
    {
        QProcessEnvironment environment = tesselEnvironment();
        environment.remove(QLatin1String(GlVariable));
        if (glNone)
            environment.insert(QLatin1String(GlVariable), QStringLiteral("none"));
        // The shell caps the address space and becomes the program, keeping its pid.
        started =
            startTessel(tessel, QStringLiteral("sh"),
                        {QStringLiteral("-c"), QStringLiteral("ulimit -v \"$1\" && exec \"$2\""),
                         QStringLiteral("sh"), QString::number(qint64(limitMb) * 1024), tesselPath},
                        environment) &&
            untilQuiet(
                [this, cpu = 0.0]() mutable {
                    QThread::msleep(PollMs * 4);
                    const double before = cpu;
                    cpu = cpuMs(pid());
                    return cpu != before;
                },
                true, IdleQuietMs, StartTimeoutMs) >= 0;
        idle = memoryOf(pid());
    }

    qint64 pid() const { return tessel.processId(); }

    // Starts an owner and waits until Tessel has captured what it offers.
    bool capture(const QStringList &command)
    {
        QProcess &current = owners.start(command, QProcess::MergedChannels);
        const double cpuBefore = cpuMs(pid(), true);
        // xclip says this once it owns the selection, then counts on after each request.
        const QByteArray mark = command.first() == QLatin1String("xclip")
                                    ? "Waiting for selection request number 1"
                                    : "owner";
        QByteArray line;
        if (!current.waitForStarted() ||
            !readLine(current, mark, line, nowNs() + StartTimeoutMs * Ms)) {
            std::fprintf(stderr, "bench_footprint: %s never took the clipboard\n",
                         qPrintable(current.program()));
            return false;
        }
        // From here the owner only reports requests, and each one is news; the first may
        // have come with the word that it owns the clipboard.
        const bool started = current.bytesAvailable() > 0;
        double tesselCpu = cpuBefore;
        double ownerCpu = cpuMs(current.processId());
        const double ownerBefore = ownerCpu;
        const auto moved = [&] {
            current.waitForReadyRead(PollMs);
            const double before = tesselCpu + ownerCpu;
            tesselCpu = cpuMs(pid(), true);
            if (current.state() == QProcess::Running)
                ownerCpu = cpuMs(current.processId());
            return !current.readAll().isEmpty() || tesselCpu + ownerCpu != before;
        };
        const qint64 wallMs = untilQuiet(moved, started, QuietMs, CaptureTimeoutMs);
        if (wallMs < 0 || tessel.state() != QProcess::Running) {
            std::fprintf(stderr, "bench_footprint: the capture did not end (Tessel %s)\n",
                         tessel.state() == QProcess::Running ? "busy" : "exited");
            return false;
        }
        cpu.add(tesselCpu - cpuBefore);
        wall.add(double(wallMs));
        owner.add(ownerCpu - ownerBefore);
        owners.endOlder();
        return true;
    }

    bool started = false;
    Memory idle;
    Figure cpu;   // Tessel's and its capture worker's
    Figure wall;  // from the owner taking the clipboard until all was quiet
    Figure owner; // the owner's own work: encoding what it is asked for

private:
    Process tessel;
    Owners owners;
};

// Clipboard owners, of contents distinct for each copy so that nothing can be shared between
// clips. Pictures are made once into the cache folder; the rest into a temporary one.
class Inputs {
public:
    explicit Inputs(QString cache) : cache(std::move(cache)) { QDir().mkpath(this->cache); }

    // The picture of a copy, made before the program starts; empty when it failed.
    QString picture(const Case &c, int copy)
    {
        return c.source == Source::Bomb ? bomb(int(c.size), copy) : photo(copy);
    }

    // An argument is empty where its data could not be made.
    QStringList owner(const Case &c, int copy)
    {
        switch (c.source) {
        case Source::Text:
            return xclip("-verbose",
                         scratchFile("text", makeText(c.size, quint32(copy + 1) * 2654435761u)));
        case Source::Png:
        case Source::Bomb:
            return xclip("-verbose", picture(c, copy), true);
        case Source::Jpeg:
            return {fakeOwner(), QStringLiteral("offer"), QStringLiteral("image/jpeg"),
                    scratchFile("jpeg", encodeImage(QImage(photo(copy)), "JPEG"))};
        case Source::QtImage:
            return {fakeOwner(), QStringLiteral("qt-image"), photo(copy)};
        case Source::Office:
            break;
        }
        // What an office suite offers: the picture, its BMP and its own metafile formats.
        const QString png = photo(copy);
        const QByteArray bmp = encodeImage(QImage(png), "BMP");
        QStringList command = {
            fakeOwner(), QStringLiteral("offer"),     QStringLiteral("image/png"),
            png,         QStringLiteral("image/bmp"), scratchFile("bmp", bmp)};
        int i = 0;
        for (const OfficeFormat &format : OfficeFormats) {
            command << QLatin1String(format.name)
                    << scratchFile("metafile" + QByteArray::number(++i),
                                   makeMetafile(bmp, format.bytes, quint32(copy)));
        }
        return command;
    }

    void describe()
    {
        const QString png = photo(0);
        const QByteArray bmp = encodeImage(QImage(png), "BMP");
        qint64 total = 0;
        for (const OfficeFormat &format : OfficeFormats)
            total += format.bytes;
        const QByteArray sample = makeMetafile(bmp, OfficeFormats[0].bytes, 0);
        const QByteArray prose = makeText(10 << 20);
        std::printf("4K picture: %s, %lld bytes\noffice-like: image/png, image/bmp (%d bytes) and "
                    "%lld MiB in metafile formats, which zlib level 1 shrinks %.1fx\ntexts: prose "
                    "that zlib level 1 shrinks %.1fx\n",
                    qPrintable(png), QFileInfo(png).size(), int(bmp.size()), total >> 20,
                    double(sample.size()) / qCompress(sample, 1).size(),
                    double(prose.size()) / qCompress(prose, 1).size());
    }

private:
    QString scratchFile(const QByteArray &name, const QByteArray &bytes)
    {
        const QString path = scratch.filePath(QString::fromLatin1(name));
        return writeFile(path, bytes) ? path : QString();
    }

    // A photo-like 3840x2160 PNG (ImageMagick's plasma fractal) with a mark telling the copies
    // apart.
    QString photo(int copy)
    {
        const QString path = cache + QStringLiteral("/photo-%1.png").arg(copy);
        if (QFile::exists(path))
            return path;
        const QString base = cache + QStringLiteral("/plasma.png");
        if (!QFile::exists(base)) {
            std::printf("making %s with ImageMagick...\n", qPrintable(base));
            const QString size = QStringLiteral("%1x%2").arg(ImageWidth).arg(ImageHeight);
            QProcess::execute(QStringLiteral("convert"),
                              {"-seed", "7", "-size", size, "plasma:fractal", "-depth", "8",
                               QStringLiteral("PNG24:") + base});
        }
        QImage image = QImage(base).convertToFormat(QImage::Format_RGB32);
        if (image.isNull())
            return QString();
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 16; ++x)
                image.setPixel(copy * 16 + x, y, qRgb(copy * 25, 255 - copy * 25, 128));
        }
        std::printf("encoding %s...\n", qPrintable(path));
        return writeFile(path, encodeImage(image, "PNG")) ? path : QString();
    }

    // A 1-bit all-white square PNG of side pixels: 110 KB (30000) or 520 KB (65535) that
    // decode to side²/8 bytes, and to side² * 4 as a pixmap.
    QString bomb(int side, int copy)
    {
        const QString path = cache + QStringLiteral("/bomb-%1-%2.png").arg(side).arg(copy);
        if (QFile::exists(path))
            return path;
        std::printf("encoding %s...\n", qPrintable(path));
        QImage image(side, side, QImage::Format_Mono);
        image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
        image.fill(0);
        image.setPixel(copy, 0, 1);
        return writeFile(path, encodeImage(image, "PNG")) ? path : QString();
    }

    QString cache;
    QTemporaryDir scratch;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parseTesselOptions(
        parser,
        {{"copies", "Copies per case.", "n", QString::number(DefaultCopies)},
         {"only", "Only the cases whose name contains one of the texts.", "texts"},
         {"cache", "Where the pictures are made once.", "dir",
          QDir::temp().filePath(QStringLiteral("tessel-bench-footprint"))},
         {"limit-mb", "The program's address space.", "n", QString::number(DefaultLimitMb)}});
    const int copies = intOption(parser, QStringLiteral("copies"));
    const int limitMb = intOption(parser, QStringLiteral("limit-mb"), 64);
    const QString tesselPath = parser.value(QStringLiteral("tessel"));
    XDriver x;
    if (!x.open())
        return 1;
    std::printf("tessel: %s; address space capped at %d MB\n", qPrintable(tesselPath), limitMb);
    Inputs inputs(parser.value(QStringLiteral("cache")));
    inputs.describe();

    for (const bool glNone : {false, true}) {
        const Run run(tesselPath, limitMb, glNone);
        if (!run.started)
            return 1;
        std::printf("idle, %s%s: RSS %.1f MiB%s\n", GlVariable, glNone ? "=none" : " unset",
                    run.idle.rss, glNone ? " (target ≤ 30 MB)" : "");
    }
    std::printf("\ncases run with %s=none; CPU = Tessel's and its capture worker's utime+stime "
                "for one capture; done = owner took the clipboard ->\nlast request, Tessel and "
                "owner quiet; owner = the owner's CPU in that time; RSS after N clips; a clip = "
                "(after - idle) / N; peak = VmHWM - idle;\nworker = the capture worker's VmHWM, "
                "its idle RSS included (mostly Qt's shared pages); MiB = /proc kB / 1024\n",
                GlVariable);
    std::printf("%-16s %5s | %9s %9s | %9s %9s %9s | %8s %7s %8s %8s %8s | %s\n", "case", "clips",
                "CPU ms", "max", "done ms", "max", "owner ms", "idle MiB", "after", "a clip",
                "peak +", "worker", "target");
    int status = 0;
    for (const Case &c : Cases) {
        if (!picked(parser, c.name))
            continue;
        const int n = c.source == Source::Bomb ? std::min(copies, BombCopies) : copies;
        bool ok = true;
        for (int copy = 0; copy < n && ok && c.source != Source::Text; ++copy)
            ok = !inputs.picture(c, copy).isEmpty();
        if (!ok)
            return 1;
        Run run(tesselPath, limitMb);
        if (!run.started)
            return 1;
        for (int copy = 0; copy < n && ok; ++copy) {
            const QStringList owner = inputs.owner(c, copy);
            ok = !owner.contains(QString()) && run.capture(owner);
        }
        const Memory after = memoryOf(run.pid());
        if (ok)
            std::printf("%-16s %5d | %s | %s %9.0f | %8.1f %7.1f %8.1f %8.1f %8.1f | %s\n", c.name,
                        n, run.cpu.pair(9, 0).data(), run.wall.pair(9, 0).data(),
                        run.owner.median(), run.idle.rss, after.rss, (after.rss - run.idle.rss) / n,
                        after.peak - run.idle.rss, memoryOf(workerOf(run.pid())).peak, c.target);
        else
            std::printf("%-16s failed\n", c.name);
        status |= !ok;
    }
    return status;
}
