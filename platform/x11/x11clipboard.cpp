#include "platform/x11/x11clipboard.h"

#include "platform/platform.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QPointer>
#include <QString>
#include <QVector>
#include <QX11Info>

#include <cstdlib>

#include <xcb/xfixes.h>

namespace {

// The worker's view of the clipboard's owner: a connection of its own, whose events no
// toolkit holds back while a read waits for an owner.
struct OwnerWatch {
    xcb_connection_t *connection = nullptr;
    xcb_atom_t clipboard = XCB_ATOM_NONE;
    uint8_t fixesEvent = 0;
    uint32_t idMask = 0;
    quint64 window = 0; // the window process's resource base
    platform::ClipboardStamp latest;
};
OwnerWatch watch;

quint64 refusedClient = 0;

// The window's view of the owner, from the events of its own connection.
platform::ClipboardStamp windowSeen;
int windowFixesEventBase = -1;

// What a paste put on the clipboard, while Qt keeps it (it deletes it once replaced), and
// since when.
QPointer<QMimeData> offered;
xcb_timestamp_t offeredSince = XCB_CURRENT_TIME;

bool isX11()
{
    return QX11Info::isPlatformX11() && QX11Info::connection();
}

xcb_atom_t clipboardAtom(xcb_connection_t *connection)
{
    static const xcb_atom_t atom = [connection] {
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 0, 9, "CLIPBOARD"), nullptr);
        const xcb_atom_t found = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return found;
    }();
    return atom;
}

quint64 baseOf(quint32 window, uint32_t mask)
{
    return window & ~mask;
}

// The first event number of XFixes on connection, 0 without it.
uint8_t fixesEventBase(xcb_connection_t *connection)
{
    const xcb_query_extension_reply_t *fixes = xcb_get_extension_data(connection, &xcb_xfixes_id);
    if (!fixes || !fixes->present)
        return 0;
    // The extension answers a client only once it has said which version it speaks.
    std::free(xcb_xfixes_query_version_reply(
        connection, xcb_xfixes_query_version(connection, XCB_XFIXES_MAJOR_VERSION, 0), nullptr));
    return fixes->first_event;
}

const xcb_xfixes_selection_notify_event_t *asOwnerChange(const xcb_generic_event_t *event,
                                                         uint8_t fixesEvent, xcb_atom_t clipboard)
{
    if (!fixesEvent || (event->response_type & ~0x80) != fixesEvent + XCB_XFIXES_SELECTION_NOTIFY)
        return nullptr;
    const auto *notify = reinterpret_cast<const xcb_xfixes_selection_notify_event_t *>(event);
    return notify->selection == clipboard ? notify : nullptr;
}

// Takes in every owner change the server has reported up to now. The round trip makes sure
// that all changes made before it are among them.
void catchUp()
{
    if (!watch.connection)
        return;
    std::free(xcb_get_input_focus_reply(watch.connection, xcb_get_input_focus(watch.connection),
                                        nullptr));
    while (xcb_generic_event_t *event = xcb_poll_for_queued_event(watch.connection)) {
        // An emptied clipboard changes hands too: its time tells it from the one before.
        if (const auto *notify = asOwnerChange(event, watch.fixesEvent, watch.clipboard))
            watch.latest = {notify->owner, notify->selection_timestamp};
        std::free(event);
    }
}

// Interns names in one round trip.
QVector<xcb_atom_t> atomsNamed(xcb_connection_t *connection, const QVector<QByteArray> &names)
{
    QVector<xcb_intern_atom_cookie_t> cookies;
    cookies.reserve(names.size());
    for (const QByteArray &name : names)
        cookies << xcb_intern_atom(connection, 0, uint16_t(name.size()), name.constData());
    QVector<xcb_atom_t> atoms;
    atoms.reserve(names.size());
    for (const xcb_intern_atom_cookie_t &cookie : cookies) {
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(connection, cookie, nullptr);
        atoms << (reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE));
        std::free(reply);
    }
    return atoms;
}

// The targets a clipboard holding formats offers: each format by its own name, in its order,
// then the targets of the transfer itself, as Qt lists them. Qt also offers a text/uri-list
// as text/x-moz-url and text/plain, formats the source never offered; its other aliases stay,
// since receivers ask for text and images by them, and Qt serves them all.
QVector<xcb_atom_t> targetsFor(xcb_connection_t *connection, const QStringList &formats)
{
    static const QVector<QByteArray> textNames = {"UTF8_STRING", "STRING", "TEXT"};
    static const QVector<QByteArray> transferNames = {"TARGETS", "MULTIPLE", "TIMESTAMP",
                                                      "SAVE_TARGETS"};
    QVector<QByteArray> names;
    for (const QString &format : formats) {
        names << format.toLatin1();
        if (format == QLatin1String("text/plain"))
            names << textNames;
        else if (format == QLatin1String("image/ppm"))
            names << "PIXMAP";
        else if (format == QLatin1String("image/pbm"))
            names << "BITMAP";
    }
    names << transferNames;
    QVector<xcb_atom_t> targets;
    for (const xcb_atom_t atom : atomsNamed(connection, names)) {
        if (atom != XCB_ATOM_NONE && !targets.contains(atom))
            targets << atom;
    }
    return targets;
}

// Tells the requestor that the answer to request is in property of its window; none: refused.
void notify(xcb_connection_t *connection, const xcb_selection_request_event_t *request,
            xcb_atom_t property)
{
    xcb_selection_notify_event_t answer = {};
    answer.response_type = XCB_SELECTION_NOTIFY;
    answer.time = request->time;
    answer.requestor = request->requestor;
    answer.selection = request->selection;
    answer.target = request->target;
    answer.property = property;
    xcb_send_event(connection, 0, request->requestor, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char *>(&answer));
    xcb_flush(connection);
}

xcb_window_t ownerOf(xcb_connection_t *connection, xcb_atom_t selection)
{
    xcb_get_selection_owner_reply_t *reply = xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, selection), nullptr);
    const xcb_window_t owner = reply ? reply->owner : xcb_window_t(XCB_WINDOW_NONE);
    std::free(reply);
    return owner;
}

} // namespace

namespace platform {

quint64 clientId()
{
    return isX11() ? xcb_get_setup(QX11Info::connection())->resource_id_base : 0;
}

void watchClipboardOwner(quint64 window)
{
    if (watch.connection)
        return;
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    const uint8_t fixesEvent =
        xcb_connection_has_error(connection) ? 0 : fixesEventBase(connection);
    if (!fixesEvent) {
        xcb_disconnect(connection);
        return;
    }
    watch.connection = connection;
    watch.fixesEvent = fixesEvent;
    watch.clipboard = clipboardAtom(connection);
    watch.idMask = xcb_get_setup(connection)->resource_id_mask;
    watch.window = window;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_xfixes_select_selection_input(connection, root, watch.clipboard,
                                      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    // Who holds it already; when it took it, no event will tell.
    watch.latest = {ownerOf(connection, watch.clipboard), 0};
    catchUp();
}

ClipboardStamp clipboardStamp()
{
    if (watch.connection) {
        catchUp();
        return watch.latest;
    }
    if (!windowSeen.time && isX11())
        windowSeen.owner = ownerOf(QX11Info::connection(), clipboardAtom(QX11Info::connection()));
    return windowSeen;
}

OwnerChange ownerChangeSince(const ClipboardStamp &stamp)
{
    catchUp();
    if (watch.latest.sameCopyAs(stamp) || (!watch.latest.owner && !stamp.owner))
        return OwnerChange::None;
    if (!watch.latest.owner)
        return OwnerChange::Emptied;
    if (baseOf(watch.latest.owner, watch.idMask) == watch.window)
        return OwnerChange::ToWindow;
    return OwnerChange::ToOther;
}

void refuseClipboardRequestsFrom(quint64 client)
{
    refusedClient = client;
}

QString pasteFormatName(const QString &format)
{
    // Qt names an X11 target as it is.
    return format;
}

bool readingHoldsClipboard()
{
    return false;
}

bool readerAddsImageValue(const QStringList &formats)
{
    return formats.size() > 1 && formats.last() == QLatin1String("application/x-qt-image");
}

bool clipboardIsOurs()
{
    if (!isX11())
        return false;
    xcb_connection_t *connection = QX11Info::connection();
    const xcb_window_t owner = ownerOf(connection, clipboardAtom(connection));
    // Every window this connection makes has an id within its resource range.
    const xcb_setup_t *setup = xcb_get_setup(connection);
    return owner != XCB_WINDOW_NONE &&
           baseOf(owner, setup->resource_id_mask) == setup->resource_id_base;
}

} // namespace platform

namespace x11 {

void noteOwnerChange(const xcb_generic_event_t *event)
{
    if (windowFixesEventBase < 0)
        windowFixesEventBase = isX11() ? fixesEventBase(QX11Info::connection()) : 0;
    xcb_connection_t *connection = QX11Info::connection();
    if (const auto *notify = asOwnerChange(event, uint8_t(windowFixesEventBase),
                                           windowFixesEventBase ? clipboardAtom(connection)
                                                                : xcb_atom_t(XCB_ATOM_NONE)))
        windowSeen = {notify->owner, notify->selection_timestamp};
}

bool refuseWorkerRequest(const xcb_generic_event_t *event)
{
    if ((event->response_type & ~0x80) != XCB_SELECTION_REQUEST || !refusedClient || !isX11())
        return false;
    const auto *request = reinterpret_cast<const xcb_selection_request_event_t *>(event);
    xcb_connection_t *connection = QX11Info::connection();
    if (baseOf(request->requestor, xcb_get_setup(connection)->resource_id_mask) != refusedClient)
        return false;
    // No property: the requestor learns at once that there is nothing for it here.
    notify(connection, request, XCB_ATOM_NONE);
    return true;
}

bool answerTargets(const xcb_generic_event_t *event)
{
    if ((event->response_type & ~0x80) != XCB_SELECTION_REQUEST || !offered || !isX11())
        return false;
    const auto *request = reinterpret_cast<const xcb_selection_request_event_t *>(event);
    xcb_connection_t *connection = QX11Info::connection();
    static const xcb_atom_t targetsAtom = atomsNamed(connection, {"TARGETS"}).constFirst();
    // A request made before the paste, or once another owner took over, is Qt's to refuse.
    // TARGETS inside a MULTIPLE request is left to Qt as well: receivers ask for it alone.
    if (request->selection != clipboardAtom(connection) || request->target != targetsAtom ||
        (request->time != XCB_CURRENT_TIME && request->time < offeredSince) ||
        !QGuiApplication::clipboard()->ownsClipboard())
        return false;
    const QVector<xcb_atom_t> targets = targetsFor(connection, offered->formats());
    // A requestor of before ICCCM names no property: the target is the property then.
    const xcb_atom_t property = request->property ? request->property : request->target;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, request->requestor, property,
                        XCB_ATOM_ATOM, 32, uint32_t(targets.size()), targets.constData());
    notify(connection, request, property);
    return true;
}

} // namespace x11

namespace platform {

void putOnClipboard(QMimeData *data)
{
    QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);
    offered = data;
    // Qt took the clipboard at its connection's latest time.
    offeredSince = isX11() ? xcb_timestamp_t(QX11Info::appTime()) : XCB_CURRENT_TIME;
}

} // namespace platform
