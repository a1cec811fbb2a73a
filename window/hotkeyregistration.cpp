#include "window/tesselgui.h"

#include <QCloseEvent>

void TesselGui::registerHotKeys()
{
    int n = 1;
    for (const qint32 code : hotKeyCodes) {
        if (!platform::registerHotKey(winId(), code, 0, UINT(code)))
            showError(QString("Can not register F%1.").arg(n));
        ++n;
    }
}

void TesselGui::unregisterHotKeys()
{
    for (const qint32 code : hotKeyCodes)
        platform::unregisterHotKey(winId(), code);
}

void TesselGui::closeEvent(QCloseEvent *event)
{
    unregisterHotKeys();
    event->accept();
}
