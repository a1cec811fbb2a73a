#include "nativeeventfilter.h"

#include "hotkeys/hotkeycodes.h"

NativeEventFilter::NativeEventFilter() : QObject(nullptr) {}

NativeEventFilter::~NativeEventFilter() = default;

bool NativeEventFilter::nativeEventFilter(const QByteArray &eventType, void *message, long *)
{
    const WPARAM code = platform::hotKeyPressed(eventType, message);
    if (slotOfKey(code) < 0)
        return false;
    emit hotKeySignal(code);
    return true;
}
