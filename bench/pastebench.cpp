// Prints the paste latency of the real program on the X display in $DISPLAY: from the press
// of an F-key to the synthetic V press reaching the X server, and to the paste arriving in a
// focused application (bench_paste_receiver), for a short text and a 3840x2160 PNG clip.
// The keys are pressed with XTest; XInput2 raw key events on the root window give the
// server's own timestamps of both presses. See README.md.

#include "benchdata.h"
#include "benchx11.h"

#include <QBuffer>
#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <poll.h>

namespace {

using benchx11::focus;
using benchx11::nowNs;
using benchx11::readLine;
using benchx11::stopProcess;

const char TesselTitle[] = "Tessel V" TESSEL_VERSION;
const char ShortText[] = "tessel paste bench";
const int DefaultPresses = 50;
const int StartTimeoutMs = 15000;
const int PressTimeoutMs = 5000;
// Before the clip is captured a press pastes nothing: warm-up tries give up on V sooner.
const int WarmUpPressTimeoutMs = 1500;
const int PasteTimeoutMs = 10000;
const int WarmUpTries = 20;
const int PauseBetweenPressesMs = 60;

struct RawPress {
    unsigned keycode = 0;
    Time serverTime = 0;
    long long receivedNs = 0;
};

// Raw key presses of the master keyboard, which the server reports with its own timestamp
// whoever holds a grab.
class RawKeys {
public:
    explicit RawKeys(Display *display) : display(display) {}

    bool select() { return benchx11::selectRawKeyPresses(display, opcode); }

    bool next(RawPress &press, long long deadlineNs)
    {
        for (;;) {
            while (XPending(display)) {
                XEvent event;
                XNextEvent(display, &event);
                XGenericEventCookie *cookie = &event.xcookie;
                if (cookie->type != GenericEvent || cookie->extension != opcode ||
                    !XGetEventData(display, cookie))
                    continue;
                const bool isPress = cookie->evtype == XI_RawKeyPress;
                if (isPress) {
                    const auto *raw = static_cast<const XIRawEvent *>(cookie->data);
                    press.keycode = unsigned(raw->detail);
                    press.serverTime = raw->time;
                    press.receivedNs = nowNs();
                }
                XFreeEventData(display, cookie);
                if (isPress)
                    return true;
            }
            const long long left = deadlineNs - nowNs();
            if (left <= 0)
                return false;
            pollfd fd{ConnectionNumber(display), POLLIN, 0};
            poll(&fd, 1, int(left / 1000000) + 1);
        }
    }

    void drain()
    {
        RawPress ignored;
        while (XPending(display) && next(ignored, nowNs()))
            ;
    }

private:
    Display *display;
    int opcode = 0;
};

struct Figures {
    double serverMs = 0;  // server time of the V press minus that of the F-key press
    double seenMs = 0;    // V press seen by this client, from just before the F-key request
    double appMs = 0;     // paste reported by the receiver, from the same start
    double fetchMs = -1;  // image pastes: the receiver's request for the image until its bytes
    double decodeMs = -1; // image pastes: the receiver's decode of them
};

class PasteBench {
public:
    PasteBench(Display *display, QProcess &receiver)
        : display(display), receiver(receiver), raw(display)
    {
    }

    bool start() { return raw.select(); }

    // One press of the F-key held until the synthetic V has reached the server.
    bool press(KeyCode fKey, const QByteArray &expect, Figures &figures, int vTimeoutMs)
    {
        raw.drain();
        // Whatever the receiver said before this press is not about it.
        receiver.waitForReadyRead(0);
        receiver.readAll();
        const long long start = nowNs();
        const long long deadline = start + (long long)vTimeoutMs * 1000000;
        XTestFakeKeyEvent(display, fKey, True, CurrentTime);
        XFlush(display);
        RawPress event;
        RawPress fPress;
        bool sawF = false;
        bool sawV = false;
        while (!sawV && raw.next(event, deadline)) {
            if (!sawF && event.keycode == fKey) {
                fPress = event;
                sawF = true;
            } else if (sawF && event.keycode == vKey) {
                sawV = true;
            }
        }
        XTestFakeKeyEvent(display, fKey, False, CurrentTime);
        XFlush(display);
        if (!sawV)
            return false;
        figures.serverMs = double(event.serverTime - fPress.serverTime);
        figures.seenMs = double(event.receivedNs - start) / 1e6;
        QByteArray line;
        if (!readLine(receiver, expect, line, nowNs() + (long long)PasteTimeoutMs * 1000000))
            return false;
        const QList<QByteArray> fields = line.split(' ');
        figures.appMs = fields.size() > 1 ? double(fields[1].toLongLong() - start) / 1e6 : 0;
        const int fetch = fields.indexOf("fetch");
        const int decode = fields.indexOf("decode");
        if (fetch > 0 && fetch + 1 < fields.size())
            figures.fetchMs = fields[fetch + 1].toDouble();
        if (decode > 0 && decode + 1 < fields.size())
            figures.decodeMs = fields[decode + 1].toDouble();
        return true;
    }

    KeyCode vKey = 0;

private:
    Display *display;
    QProcess &receiver;
    RawKeys raw;
};

void usage()
{
    std::fprintf(stderr, "usage: bench_paste [--tessel PATH] [--receiver PATH] [--presses N] "
                         "[--only text|image]\n");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QString tesselPath = benchx11::besideThisProgram(QStringLiteral("../tessel"));
    QString receiverPath = benchx11::besideThisProgram(QStringLiteral("bench_paste_receiver"));
    int presses = DefaultPresses;
    QByteArray only;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--tessel") && i + 1 < argc) {
            tesselPath = QString::fromLocal8Bit(argv[++i]);
        } else if (!std::strcmp(argv[i], "--receiver") && i + 1 < argc) {
            receiverPath = QString::fromLocal8Bit(argv[++i]);
        } else if (!std::strcmp(argv[i], "--presses") && i + 1 < argc) {
            presses = std::max(1, std::atoi(argv[++i]));
        } else if (!std::strcmp(argv[i], "--only") && i + 1 < argc) {
            only = argv[++i];
        } else {
            usage();
            return 2;
        }
    }

    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "bench_paste: cannot open the X display (is DISPLAY set?)\n");
        return 1;
    }
    std::printf("display %s, window manager: %s\n", DisplayString(display),
                benchx11::windowManagerName(display).constData());

    QTemporaryDir dir;
    const QString textFile = dir.filePath(QStringLiteral("text"));
    const QString pngFile = dir.filePath(QStringLiteral("image.png"));
    {
        QFile text(textFile);
        QFile png(pngFile);
        const QByteArray encoded = benchdata::makePng();
        // What it costs to encode the picture once more, for comparison with the transfer.
        const QImage image = QImage::fromData(encoded, "PNG");
        QByteArray again;
        QBuffer buffer(&again);
        buffer.open(QIODevice::WriteOnly);
        const long long encodeStart = nowNs();
        image.save(&buffer, "PNG");
        std::printf("PNG %dx%d: %d bytes; encoding it in-process takes %.0f ms\n", image.width(),
                    image.height(), int(encoded.size()), double(nowNs() - encodeStart) / 1e6);
        if (!text.open(QIODevice::WriteOnly) || !png.open(QIODevice::WriteOnly) ||
            text.write(ShortText) < 0 || png.write(encoded) < 0) {
            std::fprintf(stderr, "bench_paste: cannot write the clips to %s\n",
                         qPrintable(dir.path()));
            return 1;
        }
    }

    QProcess tessel;
    QProcess receiver;
    std::vector<std::unique_ptr<QProcess>> owners;
    int status = 0;
    const auto cleanUp = [&] {
        stopProcess(receiver);
        stopProcess(tessel);
        for (auto &owner : owners)
            stopProcess(*owner);
        XCloseDisplay(display);
    };

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    tessel.setProcessEnvironment(environment);
    tessel.setProcessChannelMode(QProcess::ForwardedChannels);
    tessel.start(tesselPath, QStringList());
    receiver.setProcessEnvironment(environment);
    receiver.setProcessChannelMode(QProcess::SeparateChannels);
    receiver.setReadChannel(QProcess::StandardOutput);

    const long long startDeadline = nowNs() + (long long)StartTimeoutMs * 1000000;
    bool tesselUp = tessel.waitForStarted();
    while (tesselUp &&
           !benchx11::hasWindowNamed(display, DefaultRootWindow(display), TesselTitle)) {
        if (nowNs() > startDeadline || tessel.state() != QProcess::Running) {
            tesselUp = false;
            break;
        }
        QThread::msleep(20);
    }
    if (!tesselUp) {
        std::fprintf(stderr,
                     "bench_paste: the Tessel window did not appear (%s); are F1 to F10 "
                     "taken by another client?\n",
                     qPrintable(tesselPath));
        cleanUp();
        return 1;
    }

    receiver.start(receiverPath, QStringList());
    QByteArray line;
    if (!receiver.waitForStarted() || !readLine(receiver, "ready", line, startDeadline)) {
        std::fprintf(stderr, "bench_paste: the receiver did not start (%s)\n",
                     qPrintable(receiverPath));
        cleanUp();
        return 1;
    }
    const Window receiverWindow = Window(line.mid(6).toULongLong());
    if (!focus(display, receiver, receiverWindow, startDeadline)) {
        std::fprintf(stderr, "bench_paste: the receiver never got the keyboard focus\n");
        cleanUp();
        return 1;
    }

    PasteBench bench(display, receiver);
    bench.vKey = XKeysymToKeycode(display, XK_v);
    if (!bench.start() || !bench.vKey) {
        std::fprintf(stderr, "bench_paste: XInput2 2.2 or a keycode for v is missing\n");
        cleanUp();
        return 1;
    }

    struct Clip {
        const char *name;
        QStringList xclipArgs;
        QByteArray report;
        KeySym key;
    };
    const Clip clips[] = {
        {"short text", {QStringLiteral("-i"), textFile}, "text", XK_F1},
        {"png 3840x2160",
         {QStringLiteral("-t"), QStringLiteral("image/png"), QStringLiteral("-i"), pngFile},
         "image",
         XK_F2},
    };

    std::printf("%d presses per clip; F-key held until the synthetic V reaches the server\n",
                presses);
    std::printf("%-14s | %21s | %21s | %21s\n", "clip", "press->V server ms", "press->V seen ms",
                "press->paste in app ms");
    std::printf("%-14s | %10s %10s | %10s %10s | %10s %10s\n", "", "median", "max", "median", "max",
                "median", "max");
    for (const Clip &clip : clips) {
        // Copied in order, so the text lands in slot 1 (F1) and the image in slot 2 (F2).
        auto owner = std::make_unique<QProcess>();
        owner->setProcessChannelMode(QProcess::ForwardedChannels);
        owner->start(QStringLiteral("xclip"),
                     QStringList{QStringLiteral("-quiet"), QStringLiteral("-selection"),
                                 QStringLiteral("clipboard")} +
                         clip.xclipArgs);
        owners.push_back(std::move(owner));
        if (!only.isEmpty() && !QByteArray(clip.name).contains(only))
            continue;

        const KeyCode fKey = XKeysymToKeycode(display, clip.key);
        Figures figures;
        bool warm = false;
        for (int i = 0; i < WarmUpTries && !warm; ++i)
            warm = bench.press(fKey, clip.report, figures, WarmUpPressTimeoutMs);
        if (!warm) {
            std::printf("%-14s | no paste arrived: the replay did not reach the receiver\n",
                        clip.name);
            status = 1;
            continue;
        }
        std::vector<double> server;
        std::vector<double> seen;
        std::vector<double> inApp;
        std::vector<double> fetch;
        std::vector<double> decode;
        int failed = 0;
        for (int i = 0; i < presses; ++i) {
            QThread::msleep(PauseBetweenPressesMs);
            if (!bench.press(fKey, clip.report, figures, PressTimeoutMs)) {
                ++failed;
                continue;
            }
            server.push_back(figures.serverMs);
            seen.push_back(figures.seenMs);
            inApp.push_back(figures.appMs);
            if (figures.fetchMs >= 0) {
                fetch.push_back(figures.fetchMs);
                decode.push_back(figures.decodeMs);
            }
        }
        std::printf("%-14s | %10.1f %10.1f | %10.2f %10.2f | %10.2f %10.2f", clip.name,
                    benchdata::median(server), benchdata::maximum(server), benchdata::median(seen),
                    benchdata::maximum(seen), benchdata::median(inApp), benchdata::maximum(inApp));
        if (failed)
            std::printf("  (%d of %d presses gave no paste)", failed, presses);
        std::printf("\n");
        if (!fetch.empty())
            std::printf(
                "%-14s   of which in the receiver: image transfer %.1f ms median, %.1f max; "
                "decode %.1f ms median, %.1f max\n",
                "", benchdata::median(fetch), benchdata::maximum(fetch), benchdata::median(decode),
                benchdata::maximum(decode));
        std::fflush(stdout);
    }
    cleanUp();
    return status;
}
