#include "fakeplatform.h"

#include "clips/clip.h"

#include <QIcon>
#include <QByteArray>
#include <QClipboard>
#include <QGuiApplication>
#include <QColor>
#include <QPixmap>
#include <QString>

namespace fakeplatform {

const char KeyPressEvent[] = "tessel_fake_key_press";
const char LateKeyPressEvent[] = "tessel_fake_late_key_press";

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

QString sessionKey()
{
    return QStringLiteral("test");
}

void bringToFront(QWidget &) {}

WorkerChannel openWorkerChannel()
{
    return WorkerChannel();
}

void separateFromEarlierWorkers(unsigned) {}

quint64 clientId()
{
    return 0;
}

void watchClipboardOwner(quint64) {}

ClipboardStamp clipboardStamp()
{
    return state().stamp;
}

OwnerChange ownerChangeSince(const ClipboardStamp &)
{
    return OwnerChange::None;
}

void onClipboardChange(std::function<void()> changed)
{
    QObject::connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, changed);
}

const QMimeData *clipboardContent()
{
    return QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
}

void refuseClipboardRequestsFrom(quint64) {}

bool readingHoldsClipboard()
{
    return false;
}

bool readerAddsImageValue(const QStringList &)
{
    return state().readerAddsImageValue;
}

void yieldFront() {}

void onEndRequest(std::function<void()>) {}

bool openResources()
{
    return !state().noResources;
}

QIcon deleteIcon()
{
    if (state().noResources)
        return QIcon();
    QPixmap icon(32, 32);
    icon.fill(Qt::red);
    return QIcon(icon);
}

bool registerHotKey(WId, int keyCode)
{
    if (state().failingHotKeys.contains(keyCode))
        return false;
    state().registered.append(keyCode);
    return true;
}

void unregisterHotKey(WId, int keyCode)
{
    state().unregistered.append(keyCode);
    state().registered.removeOne(keyCode);
}

void onHotKeyPress(std::function<void(WPARAM)> pressed)
{
    state().desktopPress = std::move(pressed);
}

HotKeyPress hotKeyPressed(const QByteArray &eventType, void *message)
{
    const bool late = eventType == fakeplatform::LateKeyPressEvent;
    if (eventType != fakeplatform::KeyPressEvent && !late)
        return {};
    return {*static_cast<const WPARAM *>(message), late};
}

void putOnClipboard(QMimeData *data)
{
    QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);
}

void paste()
{
    ++state().pastes;
}

QString pasteFormatName(const QString &format)
{
    return format;
}

bool clipboardIsOurs()
{
    // The test clipboard names no owner; what the program puts there is always a clip.
    return dynamic_cast<const Clip *>(QGuiApplication::clipboard()->mimeData()) != nullptr;
}

} // namespace platform
