#include "nativeeventfilter.h"

#include "hotkeys/hotkeycodes.h"

NativeEventFilter::NativeEventFilter() : QObject(nullptr)
{
    // A press the desktop reports as its shortcut is the key's press all the same.
    platform::onHotKeyPress([this](WPARAM code) {
        if (slotOfKey(code) >= 0)
            emit hotKeySignal(code);
    });
}

NativeEventFilter::~NativeEventFilter()
{
    platform::onHotKeyPress({});
}

bool NativeEventFilter::nativeEventFilter(const QByteArray &eventType, void *message, long *)
{
    const platform::HotKeyPress press = platform::hotKeyPressed(eventType, message);
    if (press.handled)
        return true;
    if (slotOfKey(press.code) < 0)
        return false;
    // A late press is still our key: letting it through would hand it to whatever window
    // has the focus now.
    if (!press.late)
        emit hotKeySignal(press.code);
    return true;
}
