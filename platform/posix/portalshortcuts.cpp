#include "platform/posix/portalshortcuts.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QList>
#include <QPair>
#include <QString>
#include <QVariantMap>

#include <utility>

namespace {

const char Service[] = "org.freedesktop.portal.Desktop";
const char Path[] = "/org/freedesktop/portal/desktop";
const char Interface[] = "org.freedesktop.portal.GlobalShortcuts";
// The desktop files the shortcuts under a name made from the session's (Plasma: the
// component in its shortcut settings), so it must be the same at every start for what the
// user changed there to be kept.
const char SessionToken[] = "tessel";
const char CreateToken[] = "tessel_create";
const char BindToken[] = "tessel_bind";
const char IdPrefix[] = "paste-";
// The key codes registerHotKey takes: F1 is 112, and F1 to F10 follow on.
const int KeyF1 = 112;
const int Keys = 10;

// The portal's a(sa{sv}): each shortcut's id and what is said of it.
using ShortcutList = QList<QPair<QString, QVariantMap>>;

std::function<void(WPARAM)> hotKeyPress;

// Follows the portal's answers: each call answers at once with a request, whose Response
// signal carries the outcome later.
class PortalShortcuts : public QObject {
    Q_OBJECT

public:
    explicit PortalShortcuts(std::function<void(bool)> decided)
        : QObject(QCoreApplication::instance()), decided(std::move(decided))
    {
    }

    void start()
    {
        qDBusRegisterMetaType<ShortcutList::value_type>();
        qDBusRegisterMetaType<ShortcutList>();
        // A failed call is the usual news: no portal, or one without the interface (GNOME's).
        if (!bus.isConnected() ||
            !bus.connect(Service, Path, Interface, QStringLiteral("Activated"), this,
                         SLOT(activated(QDBusObjectPath, QString, qulonglong, QVariantMap))))
            return decide(false);
        request("CreateSession", {},
                {{QStringLiteral("session_handle_token"), SessionToken},
                 {QStringLiteral("shortcuts"), QVariant::fromValue(shortcuts())}},
                CreateToken, SLOT(created(uint, QVariantMap)));
    }

private slots:
    void created(uint response, const QVariantMap &results)
    {
        if (response != 0)
            return decide(false);
        const QVariant handle = results.value(QStringLiteral("session_handle"));
        session = handle.userType() == qMetaTypeId<QDBusObjectPath>()
                      ? handle.value<QDBusObjectPath>().path()
                      : handle.toString();
        // Plasma 5.27 binds the shortcuts it is given at creation, and its BindShortcuts
        // only opens the desktop's shortcut settings: asked only where still needed.
        if (qdbus_cast<ShortcutList>(results.value(QStringLiteral("shortcuts"))).size() == Keys)
            return decide(true);
        request("BindShortcuts",
                {QVariant::fromValue(QDBusObjectPath(session)), QVariant::fromValue(shortcuts()),
                 QString()},
                {}, BindToken, SLOT(bound(uint, QVariantMap)));
    }

    void bound(uint response, const QVariantMap &) { decide(response == 0); }

    void activated(const QDBusObjectPath &from, const QString &id, qulonglong, const QVariantMap &)
    {
        if (from.path() != session || !id.startsWith(IdPrefix) || !hotKeyPress)
            return;
        bool valid = false;
        const int key = id.mid(int(sizeof IdPrefix) - 1).toInt(&valid);
        if (valid && key >= 1 && key <= Keys)
            hotKeyPress(WPARAM(KeyF1 + key - 1));
    }

private:
    std::function<void(bool)> decided;
    QDBusConnection bus = QDBusConnection::sessionBus();
    QString session;

    // The first outcome is the one the start hears of.
    void decide(bool bound)
    {
        if (decided)
            std::exchange(decided, nullptr)(bound);
    }

    // Calls method with arguments and options, its outcome going to slot. The Response comes
    // on a path made from token, known before the call, so the answer cannot come first.
    void request(const char *method, QVariantList arguments, QVariantMap options, const char *token,
                 const char *slot)
    {
        QString sender = bus.baseService().mid(1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        const QString path = QStringLiteral("%1/request/%2/%3").arg(Path, sender, QString(token));
        if (!bus.connect(Service, path, QStringLiteral("org.freedesktop.portal.Request"),
                         QStringLiteral("Response"), this, slot))
            return decide(false);
        options.insert(QStringLiteral("handle_token"), token);
        QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, method);
        call.setArguments(arguments << options);
        auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this](QDBusPendingCallWatcher *finished) {
                    finished->deleteLater();
                    if (finished->isError())
                        decide(false);
                });
    }

    static ShortcutList shortcuts()
    {
        ShortcutList all;
        for (int key = 1; key <= Keys; ++key)
            all.append({IdPrefix + QString::number(key),
                        {{QStringLiteral("description"), QString("Paste slot %1").arg(key)},
                         {QStringLiteral("preferred_trigger"), QStringLiteral("F%1").arg(key)}}});
        return all;
    }
};

} // namespace

namespace portal {

void bindHotKeys(std::function<void(bool bound)> decided)
{
    (new PortalShortcuts(std::move(decided)))->start();
}

} // namespace portal

namespace platform {

void onHotKeyPress(std::function<void(WPARAM code)> pressed)
{
    // X11 reports its presses as native events; the portal, used on Wayland alone, does not.
    hotKeyPress = std::move(pressed);
}

} // namespace platform

#include "portalshortcuts.moc"
