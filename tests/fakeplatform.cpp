#include "fakeplatform.h"

#include <QByteArray>
#include <QColor>
#include <QPixmap>

namespace fakeplatform {

State &state()
{
    static State s;
    return s;
}

void reset()
{
    state() = State();
}

} // namespace fakeplatform

namespace platform {

using fakeplatform::state;

bool prepareStart()
{
    return true;
}

void setupApplication(QApplication &) {}

HINSTANCE moduleHandle()
{
    static int module;
    return state().nullModuleHandle ? nullptr : reinterpret_cast<HINSTANCE>(&module);
}

bool registerHotKey(WId, int id, UINT, UINT)
{
    state().registerAttempts.append(id);
    if (state().failingHotKeys.contains(id))
        return false;
    state().registered.append(id);
    return true;
}

bool unregisterHotKey(WId, int id)
{
    state().unregistered.append(id);
    return state().registered.removeOne(id);
}

void keyEvent(unsigned char virtualKey, unsigned long flags)
{
    state().keyEvents.append({virtualKey, flags});
}

QPixmap loadIcon(HINSTANCE module, int resourceId)
{
    if (!module || resourceId != DeleteIconResource)
        return QPixmap();
    QPixmap icon(32, 32);
    icon.fill(Qt::red);
    return icon;
}

bool translateNativeEvent(const QByteArray &, void *, MSG *)
{
    return false;
}

} // namespace platform
