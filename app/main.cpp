#include "capture/captureworker.h"
#include "hotkeys/nativeeventfilter.h"
#include "platform/platform.h"
#include "window/tesselgui.h"

#include <QApplication>
#include <QClipboard>

int main(int argc, char **argv)
{
    if (!platform::prepareStart())
        return 1;
    if (argc == 3 && qstrcmp(argv[1], CaptureClient::WorkerArgument) == 0)
        return runCaptureWorker(argc, argv, QString::fromLocal8Bit(argv[2]));
    QApplication app(argc, argv);
    platform::setupApplication(app);
    NativeEventFilter filter;
    app.installNativeEventFilter(&filter);
    TesselGui window;
    window.show();
    QObject::connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, &window,
                     &TesselGui::clipboardDataChanged);
    // WPARAM is no registered meta type: this connection can only be a direct call.
    QObject::connect(&filter, SIGNAL(hotKeySignal(WPARAM)), &window, SLOT(getHotKey(WPARAM)));
    window.startCaptureWorker();
    return app.exec();
}
