// Prints the paste latency of the real program on the X display in $DISPLAY: from the press
// of an F-key to the synthetic V press reaching the X server, and to the paste arriving in a
// focused application (bench_paste_receiver), for a short text and a 4K PNG; and what
// encoding that PNG in-process costs, to compare with its transfer. See README.md.

#include "benchsupport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QImage>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>

namespace {

using namespace bench;

const int DefaultPresses = 50;
const long long PressTimeoutNs = 5000 * Ms;
// Before the clip is captured a press pastes nothing: warm-up tries give up on V sooner.
const long long WarmUpPressTimeoutNs = 1500 * Ms;
const long long PasteTimeoutNs = 10000 * Ms;
const int WarmUpTries = 20;
const int PauseBetweenPressesMs = 60;

struct Figures {
    Figure server; // server time of the V press minus that of the F-key press
    Figure seen;   // V press seen by this client, from just before the F-key request
    Figure inApp;  // paste reported by the receiver, from the same start
    Figure fetch;  // image pastes: the receiver's request for the image until its bytes
    Figure decode; // image pastes: the receiver's decode of them
};

bool press(XDriver &x, QProcess &receiver, KeyCode fKey, const QByteArray &expect,
           long long vTimeoutNs, Figures &figures)
{
    // Whatever the receiver said before this press is not about it.
    receiver.waitForReadyRead(0);
    receiver.readAll();
    const XDriver::Measured measured = x.measure(0, fKey, vTimeoutNs, vTimeoutNs);
    QByteArray line;
    if (!measured.pasted || !readLine(receiver, expect, line, nowNs() + PasteTimeoutNs))
        return false;
    const QList<QByteArray> fields = line.split(' ');
    const int fetch = fields.indexOf("fetch");
    figures.server.add(measured.serverMs);
    figures.seen.add(measured.seenMs);
    figures.inApp.add(toMs(fields.value(1).toLongLong() - measured.startNs));
    if (fetch > 0) {
        figures.fetch.add(fields.value(fetch + 1).toDouble());
        figures.decode.add(fields.value(fields.indexOf("decode") + 1).toDouble());
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parseTesselOptions(parser,
                       {{"presses", "Presses per clip.", "n", QString::number(DefaultPresses)},
                        {"only", "Only the clips whose name contains one of the texts.", "texts"}});
    const int presses = intOption(parser, QStringLiteral("presses"));

    XDriver x;
    if (!x.open())
        return 1;

    QTemporaryDir dir;
    const QString textFile = dir.filePath(QStringLiteral("text"));
    const QString pngFile = dir.filePath(QStringLiteral("image.png"));
    const QByteArray png = makePng();
    // What it costs to encode the picture once more, for comparison with the transfer.
    const QImage image = QImage::fromData(png, "PNG");
    const long long encodeStart = nowNs();
    encodeImage(image, "PNG");
    std::printf("PNG %dx%d: %d bytes; encoding it in-process takes %.0f ms\n", image.width(),
                image.height(), int(png.size()), toMs(nowNs() - encodeStart));
    if (!writeFile(textFile, "tessel paste bench") || !writeFile(pngFile, png)) {
        std::fprintf(stderr, "bench_paste: cannot write the clips to %s\n", qPrintable(dir.path()));
        return 1;
    }

    Process tessel;
    Process receiver;
    Owners owners;
    if (!startTessel(tessel, parser.value(QStringLiteral("tessel"))) || !startReceiver(receiver))
        return 1;

    const struct {
        const char *name;
        QString file;
        bool png;
    } clips[] = {{"short text", textFile, false}, {"png 3840x2160", pngFile, true}};

    std::printf("%d presses per clip; F-key held until the synthetic V reaches the server\n",
                presses);
    std::printf("%-14s | %21s | %21s | %21s\n", "clip", "press->V server ms", "press->V seen ms",
                "press->paste in app ms");
    std::printf("%-14s | %10s %10s | %10s %10s | %10s %10s\n", "", "median", "max", "median", "max",
                "median", "max");
    int status = 0;
    for (int slot = 1; slot <= 2; ++slot) {
        const auto &clip = clips[slot - 1];
        const QByteArray report = clip.png ? "image" : "text";
        // Copied in order, so the text lands in slot 1 (F1) and the image in slot 2 (F2).
        owners.start(xclip("-quiet", clip.file, clip.png), QProcess::ForwardedChannels);
        if (!picked(parser, clip.name)) {
            // Read before the next copy takes the clipboard, which then lands in its own slot.
            QThread::msleep(1000);
            continue;
        }

        const KeyCode fKey = x.fKey(slot);
        bool warm = false;
        Figures ignored;
        for (int i = 0; i < WarmUpTries && !warm; ++i)
            warm = press(x, receiver, fKey, report, WarmUpPressTimeoutNs, ignored);
        if (!warm) {
            std::printf("%-14s | no paste arrived: the replay did not reach the receiver\n",
                        clip.name);
            status = 1;
            continue;
        }
        Figures f;
        int failed = 0;
        for (int i = 0; i < presses; ++i) {
            QThread::msleep(PauseBetweenPressesMs);
            failed += press(x, receiver, fKey, report, PressTimeoutNs, f) ? 0 : 1;
        }
        std::printf("%-14s | %s | %s | %s", clip.name, f.server.pair(10, 1).data(),
                    f.seen.pair(10, 2).data(), f.inApp.pair(10, 2).data());
        if (failed)
            std::printf("  (%d of %d presses gave no paste)", failed, presses);
        std::printf("\n");
        if (f.fetch.size())
            std::printf(
                "%-14s   of which in the receiver: image transfer %.1f ms median, %.1f max; "
                "decode %.1f ms median, %.1f max\n",
                "", f.fetch.median(), f.fetch.maximum(), f.decode.median(), f.decode.maximum());
    }
    return status;
}
