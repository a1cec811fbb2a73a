#include "nativeeventfilter.h"

#include "hotkeys/hotkeycodes.h"

#include <QByteArray>

namespace {
const char WindowsEventType[] = "windows_generic_MSG";
}

NativeEventFilter::NativeEventFilter() : QObject(nullptr) {}

NativeEventFilter::~NativeEventFilter() = default;

bool NativeEventFilter::nativeEventFilter(const QByteArray &eventType, void *message, long *)
{
    // Other window systems report a registered key differently; the backend turns such a
    // press into the Windows message so that one code path decides on every platform.
    MSG translated;
    if (platform::translateNativeEvent(eventType, message, &translated))
        return filterWindowsMessage(
            QByteArray::fromRawData(WindowsEventType, sizeof(WindowsEventType) - 1), &translated);
    return filterWindowsMessage(eventType, message);
}

bool NativeEventFilter::filterWindowsMessage(const QByteArray &eventType, void *message)
{
    if (qstrcmp(eventType.constData(), WindowsEventType) != 0)
        return false;
    const MSG *msg = static_cast<const MSG *>(message);
    if (msg->message != platform::HotKeyMessage)
        return false;
    for (const qint32 code : hotKeyCodes) {
        if (msg->wParam == WPARAM(code)) {
            emit hotKeySignal(msg->wParam);
            return true;
        }
    }
    return false;
}
