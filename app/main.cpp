#include "app/singleinstance.h"
#include "capture/captureworker.h"
#include "hotkeys/nativeeventfilter.h"
#include "platform/platform.h"
#include "window/tesselgui.h"

#include <QApplication>
#include <QClipboard>

#include <cstdio>

namespace {
const char PasteArgument[] = "--paste";

// tessel --paste N: the running Tessel pastes slot N, for desktops that keep the keys.
int askToPaste(int argc, char **argv)
{
    bool valid = false;
    const int key = argc == 3 ? QByteArray(argv[2]).toInt(&valid) : 0;
    if (!valid || key < 1 || key > MaxClips) {
        std::fprintf(stderr, "usage: tessel --paste N   (N from 1 to %d: paste slot N)\n",
                     MaxClips);
        return 2;
    }
    QCoreApplication app(argc, argv);
    SingleInstance instance;
    switch (instance.start(key - 1)) {
    case SingleInstance::Role::Handed:
        return 0;
    case SingleInstance::Role::Alone:
        std::fprintf(stderr, "tessel: no Tessel runs in this session; nothing to paste.\n");
        return 1;
    default:
        std::fprintf(stderr, "tessel: the running Tessel does not answer.\n");
        return 1;
    }
}
} // namespace

int main(int argc, char **argv)
{
    if (argc >= 2 && qstrcmp(argv[1], PasteArgument) == 0)
        return askToPaste(argc, argv);
    if (!platform::prepareStart())
        return 1;
    // Qt 5 scales for the screen's DPI only when asked before the application exists;
    // pass-through keeps 125% and 150% as they are instead of rounding them.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    if (argc == 4 && qstrcmp(argv[1], CaptureClient::WorkerArgument) == 0)
        return runCaptureWorker(argc, argv, QByteArray(argv[2]).toUInt(),
                                QByteArray(argv[3]).toULongLong());
    QApplication app(argc, argv);
    SingleInstance instance;
    const SingleInstance::Role role = instance.start();
    if (role == SingleInstance::Role::Handed)
        return 0;
    if (role != SingleInstance::Role::First) {
        std::fprintf(stderr, "tessel: another Tessel runs in this session but does not "
                             "answer; not starting a second one.\n");
        return 1;
    }
    platform::setupApplication(app);
    NativeEventFilter filter;
    app.installNativeEventFilter(&filter);
    TesselGui window;
    window.show();
    QObject::connect(&instance, &SingleInstance::startedAgain, &window,
                     [&window] { platform::bringToFront(window); });
    QClipboard *clipboard = QGuiApplication::clipboard();
    QObject::connect(clipboard, SIGNAL(dataChanged()), &window, SLOT(clipboardDataChanged()));
    // WPARAM is no registered meta type: these connections can only be direct calls.
    QObject::connect(&filter, SIGNAL(hotKeySignal(WPARAM)), &window, SLOT(getHotKey(WPARAM)));
    QObject::connect(&instance, SIGNAL(pasteRequested(WPARAM)), &window, SLOT(getHotKey(WPARAM)));
    window.startCaptureWorker();
    // Ended from outside as by its close button: keys and keyboard mapping given back.
    platform::onEndRequest([&window] {
        window.close();
        QCoreApplication::quit();
    });
    return app.exec();
}
