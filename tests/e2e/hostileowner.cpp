// A clipboard owner that misbehaves on purpose. It takes the clipboard and logs each request
// it gets ("asked <format>") on stderr, then:
//   hostileowner hang N       lists N formats and never answers a request for data
//   hostileowner hint TEXT    offers TEXT marked for password managers, and refuses the mark
//   hostileowner late MS TEXT offers TEXT and answers each request MS milliseconds late,
//                             even once it has lost the clipboard
//   hostileowner cut URI      offers URI as a file cut in a file manager, in pcmanfm's formats
//                             and order, the cut mark "1" and a NUL as pcmanfm gives it;
//                             once the files are read it empties the clipboard, as pcmanfm does
// It prints "owner" on stdout once it owns the clipboard.

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QClipboard>
#include <QHash>
#include <QMimeData>
#include <QThread>
#include <QVector>
#include <QX11Info>

#include <cstdio>
#include <cstdlib>

#include <xcb/xcb.h>

namespace {

const QString KdeHint = QStringLiteral("x-kde-passwordManagerHint");
const QString GnomeFiles = QStringLiteral("x-special/gnome-copied-files");
const QString KdeCut = QStringLiteral("application/x-kde-cutselection");

class HostileData : public QMimeData {
public:
    HostileData(const QStringList &formats, bool hang, const QByteArray &text, int lateMs = 0)
        : listed(formats), hang(hang), text(text), lateMs(lateMs)
    {
    }
    QStringList formats() const override { return listed; }
    bool hasFormat(const QString &format) const override { return listed.contains(format); }

    QHash<QString, QByteArray> values; // a format's own value instead of text

protected:
    QVariant retrieveData(const QString &format, QVariant::Type) const override
    {
        std::fprintf(stderr, "asked %s\n", qPrintable(format));
        std::fflush(stderr);
        // Blocks this owner's only thread: the requester hears nothing, ever.
        while (hang)
            QThread::sleep(60);
        QThread::msleep(lateMs);
        // As pcmanfm does: once a cut's files are read, the cut is taken off the clipboard.
        if (format == GnomeFiles && values.value(format).startsWith("cut"))
            QMetaObject::invokeMethod(
                qApp, [] { QGuiApplication::clipboard()->clear(); }, Qt::QueuedConnection);
        if (values.contains(format))
            return values.value(format);
        return format == KdeHint ? QVariant() : QVariant(text);
    }

private:
    QStringList listed;
    bool hang;
    QByteArray text;
    int lateMs;
};

xcb_atom_t atomNamed(const QByteArray &name)
{
    xcb_connection_t *connection = QX11Info::connection();
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, uint16_t(name.size()), name.constData()),
        nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

// Lists the formats alone, as a GTK owner such as pcmanfm does: Qt's own list adds
// text/x-moz-url and text/plain to text/uri-list. Data requests are left to Qt.
class TargetsAnswer final : public QAbstractNativeEventFilter {
public:
    explicit TargetsAnswer(const QStringList &formats) : targets(atomNamed("TARGETS"))
    {
        for (const QString &format : formats)
            listed << atomNamed(format.toLatin1());
        listed << targets;
    }
    bool nativeEventFilter(const QByteArray &type, void *message, long *) override
    {
        const auto *event = static_cast<const xcb_generic_event_t *>(message);
        if (type != "xcb_generic_event_t" ||
            (event->response_type & ~0x80) != XCB_SELECTION_REQUEST)
            return false;
        const auto *request = reinterpret_cast<const xcb_selection_request_event_t *>(event);
        if (request->target != targets)
            return false;
        xcb_connection_t *connection = QX11Info::connection();
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, request->requestor,
                            request->property, XCB_ATOM_ATOM, 32, uint32_t(listed.size()),
                            listed.constData());
        xcb_selection_notify_event_t notify = {};
        notify.response_type = XCB_SELECTION_NOTIFY;
        notify.time = request->time;
        notify.requestor = request->requestor;
        notify.selection = request->selection;
        notify.target = request->target;
        notify.property = request->property;
        xcb_send_event(connection, 0, request->requestor, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char *>(&notify));
        xcb_flush(connection);
        return true;
    }

private:
    xcb_atom_t targets;
    QVector<xcb_atom_t> listed;
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool late = args.size() == 4 && args[1] == "late";
    if (!late &&
        (args.size() != 3 || (args[1] != "hang" && args[1] != "hint" && args[1] != "cut"))) {
        std::fprintf(stderr, "usage: hostileowner hang N | hint TEXT | late MS TEXT | cut URI\n");
        return 2;
    }
    HostileData *data;
    if (late) {
        data = new HostileData({QStringLiteral("text/plain")}, false, args[3].toUtf8(),
                               args[2].toInt());
    } else if (args[1] == "hang") {
        QStringList formats = {QStringLiteral("text/plain")};
        for (int i = 1; i < args[2].toInt(); ++i)
            formats << QStringLiteral("application/x-hostile-%1").arg(i);
        data = new HostileData(formats, true, QByteArray());
    } else if (args[1] == "cut") {
        const QByteArray uri = args[2].toUtf8();
        data = new HostileData({QStringLiteral("text/uri-list"), GnomeFiles, KdeCut}, false, uri);
        data->values = {{GnomeFiles, "cut\n" + uri}, {KdeCut, QByteArray("1", 2)}};
        app.installNativeEventFilter(new TargetsAnswer(data->formats()));
    } else {
        data = new HostileData({QStringLiteral("text/plain"), KdeHint}, false, args[2].toUtf8());
    }
    QGuiApplication::clipboard()->setMimeData(data);
    std::printf("owner\n");
    std::fflush(stdout);
    return app.exec();
}
