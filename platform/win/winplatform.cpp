#include "platform/platform.h"

#include <QIcon>
#include <QByteArray>
#include <QClipboard>
#include <QGuiApplication>
#include <QPixmap>
#include <QString>
#include <QWidget>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

// QtGui's own HICON conversion, which the Windows Extras module only forwards to.
Q_GUI_EXPORT QPixmap qt_pixmapFromWinHICON(HICON icon);

namespace {
const int DeleteIconResource = 4;
const BYTE VkV = 'V';

HINSTANCE module = nullptr;
// The window's process, for a capture worker.
DWORD windowProcess = 0;
} // namespace

namespace platform {

bool prepareStart()
{
    return true;
}

// Windows gives every window the executable's IDI_ICON1 by itself.
void setupApplication(QApplication &) {}

QString sessionKey()
{
    // Named pipes are seen machine-wide: the session id tells one logon from another.
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return QStringLiteral("%1-%2").arg(qEnvironmentVariable("USERNAME")).arg(session);
}

void bringToFront(QWidget &window)
{
    window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.show();
    window.raise();
    window.activateWindow();
}

WorkerChannel openWorkerChannel()
{
    // The C runtime opens them in text mode, which would turn every LF of a clip into CR LF.
    _setmode(0, _O_BINARY);
    _setmode(1, _O_BINARY);
    return WorkerChannel();
}

quint64 clientId()
{
    return GetCurrentProcessId();
}

void watchClipboardOwner(quint64 window)
{
    windowProcess = DWORD(window);
}

ClipboardStamp clipboardStamp()
{
    // Windows numbers every change of the clipboard.
    return {0, quint32(GetClipboardSequenceNumber())};
}

OwnerChange ownerChangeSince(const ClipboardStamp &stamp)
{
    if (clipboardStamp().time == stamp.time)
        return OwnerChange::None;
    DWORD process = 0;
    const HWND owner = GetClipboardOwner();
    return owner && GetWindowThreadProcessId(owner, &process) && process == windowProcess
               ? OwnerChange::ToWindow
               : OwnerChange::ToOther;
}

void onClipboardChange(std::function<void()> changed)
{
    QObject::connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, changed);
}

const QMimeData *clipboardContent()
{
    return QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
}

// A paste ends the worker's read before it sets the clipboard (readingHoldsClipboard).
void refuseClipboardRequestsFrom(quint64) {}

bool readingHoldsClipboard()
{
    return true;
}

bool readerAddsImageValue(const QStringList &)
{
    // Windows makes each of CF_DIB, CF_DIBV5 and CF_BITMAP from another one an owner offers.
    return !IsClipboardFormatAvailable(CF_DIB);
}

// Windows answers a clipboard read within the call that made it.
void separateFromEarlierWorkers(unsigned) {}

void yieldFront()
{
    // The second start is what the user just launched: it may give the foreground away, which
    // otherwise only flashes the first one's taskbar button.
    AllowSetForegroundWindow(ASFW_ANY);
}

// Windows reports every press of a registered key as a native event.
void onHotKeyPress(std::function<void(WPARAM)>) {}

// Windows frees a program's hotkeys when it ends, and nothing else needs giving back.
void onEndRequest(std::function<void()>) {}

bool openResources()
{
    module = GetModuleHandleW(nullptr);
    return module != nullptr;
}

QIcon deleteIcon()
{
    // A shared icon from the module's resources: never destroyed.
    const HICON icon = module ? LoadIconW(module, MAKEINTRESOURCEW(DeleteIconResource)) : nullptr;
    // Windows loads it at the screen's icon size: 64 pixels at 200%.
    return icon ? QIcon(qt_pixmapFromWinHICON(icon)) : QIcon();
}

bool registerHotKey(WId window, int keyCode)
{
    return RegisterHotKey(reinterpret_cast<HWND>(window), keyCode, 0, UINT(keyCode)) != 0;
}

void unregisterHotKey(WId window, int keyCode)
{
    UnregisterHotKey(reinterpret_cast<HWND>(window), keyCode);
}

HotKeyPress hotKeyPressed(const QByteArray &eventType, void *message)
{
    if (qstrcmp(eventType.constData(), "windows_generic_MSG") != 0)
        return {};
    const MSG *msg = static_cast<const MSG *>(message);
    if (msg->message != WM_HOTKEY)
        return {};
    // Both are milliseconds since boot in a DWORD that wraps around after 49.7 days.
    const LONG age = LONG(GetTickCount() - msg->time);
    return {msg->wParam, age > LatePressMs};
}

void putOnClipboard(QMimeData *data)
{
    QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);
}

void paste()
{
    keybd_event(VK_CONTROL, 0, 0, 0);
    keybd_event(VkV, 0, 0, 0);
    keybd_event(VkV, 0, KEYEVENTF_KEYUP, 0);
    keybd_event(VK_CONTROL, 0, KEYEVENTF_KEYUP, 0);
}

QString pasteFormatName(const QString &format)
{
    // Qt reads a format it has no converter for (RTF, PNG, any program's own) under
    // application/x-qt-windows-mime;value="<name>", but would register that name as it is.
    static const QString wrapper = QStringLiteral("application/x-qt-windows-mime;value=\"");
    if (format.size() <= wrapper.size() + 1 || !format.startsWith(wrapper, Qt::CaseInsensitive) ||
        !format.endsWith(QLatin1Char('"')))
        return format;
    return format.mid(wrapper.size(), format.size() - wrapper.size() - 1);
}

bool clipboardIsOurs()
{
    DWORD process = 0;
    const HWND owner = GetClipboardOwner();
    return owner && GetWindowThreadProcessId(owner, &process) && process == GetCurrentProcessId();
}

} // namespace platform
