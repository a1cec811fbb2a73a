#include "window/tesselgui.h"

#include <QCloseEvent>

void TesselGui::registerHotKeys()
{
    for (int slot = 0; slot < MaxClips; ++slot) {
        if (!platform::registerHotKey(winId(), hotKeyCodes[slot]))
            showError(QString("Can not register F%1.").arg(slot + 1));
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
