#include "platform/platform.h"

#include "platform/x11/x11.h"

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

// Capture workers in a row whose X ids all differ; a client has some two million.
const unsigned DistinctWorkers = 4096;

// The worker's view of the clipboard's owner: a connection of its own, whose events no
// toolkit holds back while a read waits for an owner.
struct OwnerWatch {
    xcb_connection_t *connection = nullptr;
    uint8_t fixesEvent = 0;
    quint64 window = 0; // the window process's resource base
    platform::ClipboardStamp latest;
};
OwnerWatch watch;

quint64 refusedClient = 0;

// The window's view of the owner, from the events of its own connection.
platform::ClipboardStamp windowSeen;
// When the window first looked at the owner it found before any event.
xcb_timestamp_t firstLook = 0;
int windowFixesEventBase = -1;

// What the last paste put on the clipboard (Qt deletes it once replaced), and since when.
QPointer<QMimeData> offered;
xcb_timestamp_t offeredSince = XCB_CURRENT_TIME;

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

// Interns names in one round trip.
QVector<xcb_atom_t> atomsNamed(xcb_connection_t *connection, const QVector<QByteArray> &names)
{
    QVector<xcb_intern_atom_cookie_t> cookies;
    for (const QByteArray &name : names)
        cookies << xcb_intern_atom(connection, 0, uint16_t(name.size()), name.constData());
    QVector<xcb_atom_t> atoms;
    for (const xcb_intern_atom_cookie_t &cookie : cookies) {
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(connection, cookie, nullptr);
        atoms << (reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE));
        std::free(reply);
    }
    return atoms;
}

xcb_atom_t clipboardAtom(xcb_connection_t *connection)
{
    // Atoms are the server's: the one the first connection learns serves every other.
    static const xcb_atom_t atom = atomsNamed(connection, {"CLIPBOARD"}).constFirst();
    return atom;
}

// Takes a change of the clipboard's owner in event into seen (emptying it is one too).
void takeOwnerChange(const xcb_generic_event_t *event, uint8_t fixesEvent,
                     xcb_connection_t *connection, platform::ClipboardStamp &seen)
{
    if (!fixesEvent || x11::typeOf(event) != fixesEvent + XCB_XFIXES_SELECTION_NOTIFY)
        return;
    const auto *notify = reinterpret_cast<const xcb_xfixes_selection_notify_event_t *>(event);
    if (notify->selection == clipboardAtom(connection))
        seen = {notify->owner, notify->selection_timestamp};
}

// Takes in every owner change made up to now: the round trip brings all reports before it.
void catchUp()
{
    if (!watch.connection)
        return;
    std::free(xcb_get_input_focus_reply(watch.connection, xcb_get_input_focus(watch.connection),
                                        nullptr));
    while (xcb_generic_event_t *event = xcb_poll_for_queued_event(watch.connection)) {
        takeOwnerChange(event, watch.fixesEvent, watch.connection, watch.latest);
        std::free(event);
    }
}

// The targets offered for formats: each by its own name, in its order, then those of the
// transfer, as Qt lists them. Qt's aliases stay, but for a text/uri-list's text/x-moz-url and
// text/plain, which the source never offered: receivers ask for text and images by them.
QVector<xcb_atom_t> targetsFor(xcb_connection_t *connection, const QStringList &formats)
{
    QVector<QByteArray> names;
    for (const QString &format : formats) {
        names << format.toLatin1();
        if (format == QLatin1String("text/plain"))
            names += {"UTF8_STRING", "STRING", "TEXT"};
        else if (format == QLatin1String("image/ppm"))
            names << "PIXMAP";
        else if (format == QLatin1String("image/pbm"))
            names << "BITMAP";
    }
    names += {"TARGETS", "MULTIPLE", "TIMESTAMP", "SAVE_TARGETS"};
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

// Answers the requests for the window's clipboard that Qt must not. True when it did.
bool answerRequest(xcb_connection_t *connection, const xcb_selection_request_event_t *request)
{
    if (refusedClient &&
        (request->requestor & ~xcb_get_setup(connection)->resource_id_mask) == refusedClient) {
        // No property: the requestor learns at once that there is nothing for it here.
        notify(connection, request, XCB_ATOM_NONE);
        return true;
    }
    static const xcb_atom_t targetsAtom = atomsNamed(connection, {"TARGETS"}).constFirst();
    // A paste's own formats, in their order. A request from before the paste or after
    // another owner took over is Qt's to refuse, as is TARGETS inside MULTIPLE.
    if (!offered || request->selection != clipboardAtom(connection) ||
        request->target != targetsAtom ||
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

} // namespace

namespace x11 {

bool answerClipboardEvent(const xcb_generic_event_t *event)
{
    // Only Qt's xcb connection has events of this kind to show.
    xcb_connection_t *connection = x11::eventConnection();
    if (windowFixesEventBase < 0)
        windowFixesEventBase = fixesEventBase(connection);
    takeOwnerChange(event, uint8_t(windowFixesEventBase), connection, windowSeen);
    return typeOf(event) == XCB_SELECTION_REQUEST &&
           answerRequest(connection,
                         reinterpret_cast<const xcb_selection_request_event_t *>(event));
}

bool putTextOnSelection()
{
    if (!offered || !offered->hasText())
        return false;
    // Only the clipboard is watched for clips: this selection of ours is never captured.
    auto *text = new QMimeData;
    text->setText(offered->text());
    QGuiApplication::clipboard()->setMimeData(text, QClipboard::Selection);
    return true;
}

quint64 clientId()
{
    return x11::isX11() ? xcb_get_setup(QX11Info::connection())->resource_id_base : 0;
}

void watchClipboardOwner(quint64 window)
{
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    const uint8_t fixesEvent =
        xcb_connection_has_error(connection) ? 0 : fixesEventBase(connection);
    if (!fixesEvent) {
        xcb_disconnect(connection);
        return;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_xfixes_select_selection_input(connection, root, clipboardAtom(connection),
                                      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    // Who holds it already; when it took it, no event will tell.
    watch = {connection, fixesEvent, window, {ownerOf(connection, clipboardAtom(connection)), 0}};
    catchUp();
}

platform::ClipboardStamp clipboardStamp()
{
    if (watch.connection) {
        catchUp();
        return watch.latest;
    }
    if (windowSeen.time || !x11::isX11())
        return windowSeen;
    // No event has said when the owner took the clipboard, only that it was no later than our
    // first look. That look's time tells this copy from the owner's next one: the same window
    // copying again as Tessel starts makes a new copy.
    xcb_connection_t *connection = QX11Info::connection();
    const xcb_window_t owner = ownerOf(connection, clipboardAtom(connection));
    if (owner != windowSeen.owner || !firstLook)
        firstLook = xcb_timestamp_t(QX11Info::getTimestamp());
    windowSeen.owner = owner;
    return {owner, firstLook};
}

platform::OwnerChange ownerChangeSince(const platform::ClipboardStamp &stamp)
{
    catchUp();
    if (watch.latest.sameCopyAs(stamp) || (!watch.latest.owner && !stamp.owner))
        return platform::OwnerChange::None;
    if (!watch.latest.owner)
        return platform::OwnerChange::Emptied;
    if ((watch.latest.owner & ~xcb_get_setup(watch.connection)->resource_id_mask) == watch.window)
        return platform::OwnerChange::ToWindow;
    return platform::OwnerChange::ToOther;
}

void refuseClipboardRequestsFrom(quint64 client)
{
    refusedClient = client;
}

bool clipboardIsOurs()
{
    if (!x11::isX11())
        return false;
    xcb_connection_t *connection = QX11Info::connection();
    const xcb_window_t owner = ownerOf(connection, clipboardAtom(connection));
    // Every window this connection makes has an id within its resource range.
    const xcb_setup_t *setup = xcb_get_setup(connection);
    return owner != XCB_WINDOW_NONE &&
           (owner & ~setup->resource_id_mask) == setup->resource_id_base;
}

void putOnClipboard(QMimeData *data)
{
    QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);
    offered = data;
    // Qt took the clipboard at its connection's latest time.
    offeredSince = x11::isX11() ? xcb_timestamp_t(QX11Info::appTime()) : XCB_CURRENT_TIME;
}

void onClipboardChange(std::function<void()> changed)
{
    QObject::connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, changed);
}

const QMimeData *clipboardContent()
{
    return QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
}

} // namespace x11

namespace platform {

void separateFromEarlierWorkers(unsigned generation)
{
    // An owner answers by writing to the requesting window. A new client gets the ids of one
    // just gone, so Qt would take an ended worker's late answer (a PNG, say) for the answer to
    // its own request (the list of targets): each worker's ids start further on.
    if (!x11::isX11())
        return;
    for (unsigned skip = generation % DistinctWorkers; skip > 0; --skip)
        xcb_generate_id(QX11Info::connection());
}

QString pasteFormatName(const QString &format)
{
    // Qt names an X11 target as it is.
    return format;
}

bool readerAddsImageValue(const QStringList &formats)
{
    // The Wayland reader names the image value as Qt's X11 reader does.
    return formats.size() > 1 && formats.last() == QLatin1String("application/x-qt-image");
}

bool readingHoldsClipboard()
{
    return false;
}

} // namespace platform
