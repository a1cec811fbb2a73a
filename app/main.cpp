#include "hotkeys/nativeeventfilter.h"
#include "platform/platform.h"
#include "window/tesselgui.h"

#include <QApplication>
#include <QClipboard>

int main(int argc, char **argv)
{
    if (!platform::prepareStart())
        return 1;
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
    // Ended from outside, the program ends as when its window is closed: keys released and
    // the keyboard mapping given back.
    platform::onEndRequest([&window] {
        window.close();
        QCoreApplication::quit();
    });
    return app.exec();
}
