#include "platform/posix/portalshortcuts.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QList>
#include <QString>
#include <QVariantMap>

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

// One entry of the portal's a(sa{sv}): a shortcut's id and what is said of it.
struct ShortcutEntry {
    QString id;
    QVariantMap details;
};
using ShortcutList = QList<ShortcutEntry>;

QDBusArgument &operator<<(QDBusArgument &out, const ShortcutEntry &shortcut)
{
    out.beginStructure();
    out << shortcut.id << shortcut.details;
    out.endStructure();
    return out;
}

const QDBusArgument &operator>>(const QDBusArgument &in, ShortcutEntry &shortcut)
{
    in.beginStructure();
    in >> shortcut.id >> shortcut.details;
    in.endStructure();
    return in;
}

} // namespace

Q_DECLARE_METATYPE(ShortcutEntry)
Q_DECLARE_METATYPE(ShortcutList)

namespace {

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
        if (!bus.isConnected()) {
            decide(false);
            return;
        }
        QDBusMessage version = QDBusMessage::createMethodCall(
            Service, Path, QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("Get"));
        version << QString(Interface) << QStringLiteral("version");
        // An error here is the usual news: no portal, or one without the interface (GNOME's).
        onReply(bus.asyncCall(version), [this] { createSession(); });
    }

private slots:
    void created(uint response, const QVariantMap &results)
    {
        if (response != 0) {
            decide(false);
            return;
        }
        const QVariant handle = results.value(QStringLiteral("session_handle"));
        session = handle.userType() == qMetaTypeId<QDBusObjectPath>()
                      ? handle.value<QDBusObjectPath>().path()
                      : handle.toString();
        // Plasma 5.27 binds the shortcuts it is given at creation, and its BindShortcuts
        // only opens the desktop's shortcut settings: asked only where still needed.
        if (qdbus_cast<ShortcutList>(results.value(QStringLiteral("shortcuts"))).size() == Keys) {
            decide(true);
            return;
        }
        if (!listen(BindToken, SLOT(bound(uint, QVariantMap))))
            return;
        QDBusMessage bind = QDBusMessage::createMethodCall(Service, Path, Interface,
                                                           QStringLiteral("BindShortcuts"));
        bind << QVariant::fromValue(QDBusObjectPath(session)) << QVariant::fromValue(shortcuts())
             << QString() << QVariantMap{{QStringLiteral("handle_token"), BindToken}};
        onReply(bus.asyncCall(bind), [] {});
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
    bool done = false;

    void decide(bool bound)
    {
        if (done)
            return;
        done = true;
        if (decided)
            decided(bound);
    }

    // Calls then once the call succeeded; decides against the portal when it failed.
    template <typename Then> void onReply(const QDBusPendingCall &call, Then then)
    {
        auto *watcher = new QDBusPendingCallWatcher(call, this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this, then](QDBusPendingCallWatcher *finished) {
                    finished->deleteLater();
                    if (finished->isError())
                        decide(false);
                    else
                        then();
                });
    }

    // Hears the Response to the request the next call makes with this token: its path is
    // known before the call, so the answer cannot come first.
    bool listen(const char *token, const char *slot)
    {
        QString sender = bus.baseService().mid(1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        const QString request =
            QStringLiteral("%1/request/%2/%3").arg(Path, sender, QString(token));
        if (bus.connect(Service, request, QStringLiteral("org.freedesktop.portal.Request"),
                        QStringLiteral("Response"), this, slot))
            return true;
        decide(false);
        return false;
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

    void createSession()
    {
        qDBusRegisterMetaType<ShortcutEntry>();
        qDBusRegisterMetaType<ShortcutList>();
        if (!bus.connect(Service, Path, Interface, QStringLiteral("Activated"), this,
                         SLOT(activated(QDBusObjectPath, QString, qulonglong, QVariantMap))) ||
                         !listen(CreateToken, SLOT(created(uint, QVariantMap)))) {
            decide(false);
            return;
        }
        QDBusMessage create = QDBusMessage::createMethodCall(Service, Path, Interface,
                                                             QStringLiteral("CreateSession"));
        create << QVariantMap{{QStringLiteral("handle_token"), CreateToken},
                              {QStringLiteral("session_handle_token"), SessionToken},
                              {QStringLiteral("shortcuts"), QVariant::fromValue(shortcuts())}};
        onReply(bus.asyncCall(create), [] {});
    }
};

} // namespace

namespace portal {

void bindHotKeys(std::function<void(bool bound)> decided)
{
    (new PortalShortcuts(std::move(decided)))->start();
}

void onHotKeyPress(std::function<void(WPARAM code)> pressed)
{
    hotKeyPress = std::move(pressed);
}

} // namespace portal

#include "portalshortcuts.moc"
