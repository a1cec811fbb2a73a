// A clipboard owner for the end-to-end tests and the benches, well-behaved or not on purpose.
// As a Qt application (it prints "owner" on stdout once it owns the clipboard, then logs
// "asked <format>" on stderr for each request for data, and keeps running until killed):
//   fakeowner hang N                lists N formats and never answers a request for data
//   fakeowner hang-private N        the same without a text: N private formats
//   fakeowner hint TEXT             offers TEXT marked for password managers, refuses the mark
//   fakeowner late MS TEXT          offers TEXT and answers each request MS milliseconds late,
//                                   even once it has lost the clipboard
//   fakeowner qt-text FILE          FILE's text, as a Qt application offers a text
//   fakeowner qt-image FILE         FILE's image, as a Qt application offers one (every
//                                   image format Qt writes, each encoded on request)
//   fakeowner formats N             N small formats of 16 bytes
//   fakeowner offer FORMAT FILE...  each FORMAT with the bytes of the FILE after it
//   fakeowner cut URI               URI as a file cut in pcmanfm: its formats, in its order and
//                                   alone, the cut mark "1" and a NUL; once the files are
//                                   read it empties the clipboard, as pcmanfm does
// With plain Xlib, every answer under the control of the process that drives it through
// stdin and stdout (see selectionowner.h), FILE being the text it offers:
//   fakeowner x11 text|hang|slow|incr [FILE]

#include "selectionowner.h"

#include <QAbstractNativeEventFilter>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QThread>
#include <QVector>
#include <QX11Info>

#include <cstdio>
#include <cstdlib>
#include <map>

#include <xcb/xcb.h>

namespace {

const QString KdeHint = QStringLiteral("x-kde-passwordManagerHint");
const QString GnomeFiles = QStringLiteral("x-special/gnome-copied-files");
const QString KdeCut = QStringLiteral("application/x-kde-cutselection");

class FakeData : public QMimeData {
public:
    bool hang = false;
    int lateMs = 0;
    QString refused;

protected:
    QVariant retrieveData(const QString &format, QVariant::Type type) const override
    {
        std::fprintf(stderr, "asked %s\n", qPrintable(format));
        std::fflush(stderr);
        // Blocks this owner's only thread: the requester hears nothing, ever.
        while (hang)
            QThread::sleep(60);
        QThread::msleep(lateMs);
        const QVariant value =
            format == refused ? QVariant() : QMimeData::retrieveData(format, type);
        if (format == GnomeFiles && value.toByteArray().startsWith("cut"))
            QMetaObject::invokeMethod(
                qApp, [] { QGuiApplication::clipboard()->clear(); }, Qt::QueuedConnection);
        return value;
    }
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

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "fakeowner: cannot read %s\n", qPrintable(path));
        std::exit(1);
    }
    return file.readAll();
}

int usage()
{
    std::fprintf(stderr, "usage: fakeowner hang[-private] N | hint TEXT | late MS TEXT | cut URI | "
                         "qt-text FILE | qt-image FILE | formats N | offer FORMAT FILE... | "
                         "x11 text|hang|slow|incr [FILE]\n");
    return 2;
}

int serveX11(const QStringList &args)
{
    const std::map<QString, SelectionOwner::Mode> modes = {{"text", SelectionOwner::Mode::Text},
                                                           {"hang", SelectionOwner::Mode::Hang},
                                                           {"slow", SelectionOwner::Mode::Slow},
                                                           {"incr", SelectionOwner::Mode::Incr}};
    const auto mode = modes.find(args.value(2));
    if (args.size() > 4 || mode == modes.end())
        return usage();
    SelectionOwner owner(mode->second,
                         args.size() == 4 ? readFile(args[3]) : QByteArray("fake owner text"));
    return owner.run();
}

} // namespace

int main(int argc, char **argv)
{
    // A clipboard owner on X only, whatever platform the program that started it runs on.
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString mode = args.value(1);
    if (mode == QLatin1String("x11"))
        return serveX11(args);

    auto *data = new FakeData;
    const bool pairs = mode == QLatin1String("offer") && args.size() % 2 == 0 && args.size() > 2;
    const bool late = mode == QLatin1String("late") && args.size() == 4;
    if (!pairs && !late && args.size() != 3)
        return usage();
    if (mode == QLatin1String("hang") || mode == QLatin1String("hang-private")) {
        data->hang = true;
        // A bridge such as Wine's tries each of a text's targets in turn, one timeout each.
        const bool text = mode == QLatin1String("hang");
        if (text)
            data->setData(QStringLiteral("text/plain"), QByteArray());
        for (int i = text ? 1 : 0; i < args[2].toInt(); ++i)
            data->setData(QStringLiteral("application/x-hostile-%1").arg(i), QByteArray());
    } else if (mode == QLatin1String("hint")) {
        data->setData(QStringLiteral("text/plain"), args[2].toUtf8());
        data->setData(KdeHint, "secret");
        data->refused = KdeHint;
    } else if (late) {
        data->lateMs = args[2].toInt();
        data->setData(QStringLiteral("text/plain"), args[3].toUtf8());
    } else if (mode == QLatin1String("cut")) {
        const QByteArray uri = args[2].toUtf8();
        data->setData(QStringLiteral("text/uri-list"), uri);
        data->setData(GnomeFiles, "cut\n" + uri);
        data->setData(KdeCut, QByteArray("1", 2));
        app.installNativeEventFilter(new TargetsAnswer(data->formats()));
    } else if (mode == QLatin1String("qt-text")) {
        data->setText(QString::fromUtf8(readFile(args[2])));
    } else if (mode == QLatin1String("qt-image")) {
        data->setImageData(QImage::fromData(readFile(args[2])));
    } else if (mode == QLatin1String("formats")) {
        for (int i = 0; i < args[2].toInt(); ++i)
            data->setData(
                QStringLiteral("application/x-fakeowner-%1").arg(i, 3, 10, QLatin1Char('0')),
                QByteArray::number(i).rightJustified(16, '#'));
    } else if (pairs) {
        for (int i = 2; i < args.size(); i += 2)
            data->setData(args[i], readFile(args[i + 1]));
    } else {
        delete data;
        return usage();
    }
    QGuiApplication::clipboard()->setMimeData(data);
    std::printf("owner\n");
    std::fflush(stdout);
    return app.exec();
}
