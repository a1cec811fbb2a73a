#include "selectionowner.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <set>
#include <vector>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>
#include <unistd.h>

namespace {

const long long SlowAnswerNs = 2000000000LL;
// A large answer whose requestor has taken no chunk for this long is given up.
const long long StalledTransferNs = 10000000000LL;
const int IdlePollMs = 200;

// Ten, counting the protocol's own, as an application that offers a few formats lists them.
const char *const HangTargets[] = {"TARGETS",
                                   "TIMESTAMP",
                                   "UTF8_STRING",
                                   "STRING",
                                   "TEXT",
                                   "text/plain",
                                   "text/plain;charset=utf-8",
                                   "text/html",
                                   "image/png",
                                   "application/x-bench-data"};
const char *const TextTargets[] = {"TARGETS",
                                   "TIMESTAMP",
                                   "UTF8_STRING",
                                   "STRING",
                                   "TEXT",
                                   "text/plain",
                                   "text/plain;charset=utf-8"};

long long nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void say(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

// Requestors that errors showed to be gone: they exited, or were killed mid-answer.
std::set<unsigned long> goneWindows;

int recordError(Display *, XErrorEvent *error)
{
    if (error->error_code == BadWindow)
        goneWindows.insert(error->resourceid);
    return 0;
}

} // namespace

SelectionOwner::SelectionOwner(Mode mode, QByteArray text) : mode(mode), text(std::move(text)) {}

SelectionOwner::~SelectionOwner()
{
    if (display)
        XCloseDisplay(display);
}

int SelectionOwner::run()
{
    display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "fakeowner: cannot open the X display\n");
        return 1;
    }
    XSetErrorHandler(recordError);
    window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    XSelectInput(display, window, PropertyChangeMask);
    XSync(display, False);
    say("ready\n");
    for (;;) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            handleEvent(event);
        }
        const long long now = nowNs();
        while (!late.empty() && late.front().first <= now) {
            answer(late.front().second);
            late.pop_front();
        }
        dropDeadTransfers();
        XFlush(display);
        if (XPending(display))
            continue;
        int timeoutMs = IdlePollMs;
        if (!late.empty())
            timeoutMs = int(std::max(0LL, (late.front().first - nowNs()) / 1000000 + 1));
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {ConnectionNumber(display), POLLIN, 0}};
        poll(fds, 2, timeoutMs);
        if ((fds[0].revents & (POLLIN | POLLHUP)) && !readCommands())
            return 0;
    }
}

bool SelectionOwner::readCommands()
{
    char buffer[4096];
    const ssize_t count = read(STDIN_FILENO, buffer, sizeof buffer);
    if (count <= 0)
        return false;
    stdinBuffer.append(buffer, int(count));
    int end;
    while ((end = stdinBuffer.indexOf('\n')) >= 0) {
        const QByteArray line = stdinBuffer.left(end);
        stdinBuffer.remove(0, end + 1);
        if (line == "own" || line.startsWith("own ")) {
            if (mode == Mode::Text && line.size() > 4)
                text = line.mid(4);
            // Taking the clipboard needs a real server time: a property change gives one.
            ownPending = true;
            XChangeProperty(display, window, XA_WM_NAME, XA_STRING, 8, PropModeAppend, nullptr, 0);
        }
    }
    XFlush(display);
    return true;
}

void SelectionOwner::takeClipboard(unsigned long time)
{
    const Atom clipboard = XInternAtom(display, "CLIPBOARD", False);
    XSetSelectionOwner(display, clipboard, window, time);
    XFlush(display);
    const long long at = nowNs();
    if (XGetSelectionOwner(display, clipboard) != window) {
        say("failed %lld\n", at);
        return;
    }
    ownedSince = time;
    owning = true;
    say("owned %lld\n", at);
}

void SelectionOwner::handleEvent(const XEvent &event)
{
    if (event.type == PropertyNotify) {
        const XPropertyEvent &property = event.xproperty;
        if (property.window == window) {
            if (ownPending && property.atom == XA_WM_NAME) {
                ownPending = false;
                takeClipboard(property.time);
            }
        } else if (property.state == PropertyDelete &&
                   transfers.count({property.window, property.atom})) {
            sendNextChunk(property.window, property.atom);
        }
    } else if (event.type == SelectionClear) {
        owning = false;
        say("lost %lld\n", nowNs());
    } else if (event.type == SelectionRequest) {
        const XSelectionRequestEvent &selection = event.xselectionrequest;
        Request request;
        request.requestor = selection.requestor;
        request.selection = selection.selection;
        request.target = selection.target;
        // Obsolete requestors name no property: the target's name is used.
        request.property = selection.property != None ? selection.property : selection.target;
        request.time = selection.time;
        // A requestor that is gone may have left its id to a new window of a new client.
        goneWindows.erase(request.requestor);
        const QByteArray target = atomName(request.target);
        say("request %s %lld 0x%lx\n", target.constData(), nowNs(), request.requestor);
        if (target == "TARGETS" || target == "TIMESTAMP")
            answer(request);
        else if (mode == Mode::Hang)
            return; // asked, and never answered
        else if (mode == Mode::Slow)
            late.emplace_back(nowNs() + SlowAnswerNs, request);
        else
            answer(request);
    }
}

void SelectionOwner::answer(const Request &request)
{
    const QByteArray target = atomName(request.target);
    if (target == "TARGETS") {
        std::vector<Atom> atoms;
        if (mode == Mode::Hang) {
            for (const char *name : HangTargets)
                atoms.push_back(XInternAtom(display, name, False));
        } else {
            for (const char *name : TextTargets)
                atoms.push_back(XInternAtom(display, name, False));
        }
        XChangeProperty(display, request.requestor, request.property, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char *>(atoms.data()), int(atoms.size()));
        notify(request, request.property);
        XFlush(display);
        say("served TARGETS %lld %d 0x%lx\n", nowNs(), int(atoms.size() * sizeof(Atom)),
            request.requestor);
        return;
    }
    if (target == "TIMESTAMP") {
        const long stamp = long(ownedSince);
        XChangeProperty(display, request.requestor, request.property, XA_INTEGER, 32,
                        PropModeReplace, reinterpret_cast<const unsigned char *>(&stamp), 1);
        notify(request, request.property);
        XFlush(display);
        say("served TIMESTAMP %lld 4 0x%lx\n", nowNs(), request.requestor);
        return;
    }
    const bool isText = target == "UTF8_STRING" || target == "STRING" || target == "TEXT" ||
                        target == "text/plain" || target == "text/plain;charset=utf-8";
    if (!isText) {
        refuse(request);
        return;
    }
    const Atom type = target == "STRING" || target == "TEXT" ? XA_STRING
                      : target == "UTF8_STRING" ? XInternAtom(display, "UTF8_STRING", False)
                                                : Atom(request.target);
    // As large a chunk as one request carries without the BIG-REQUESTS extension.
    const qint64 chunk = std::min<qint64>(XMaxRequestSize(display) * 4 - 64, 256 * 1024);
    if (mode == Mode::Incr && text.size() > chunk) {
        // The requestor deletes the INCR property to start, then each chunk to ask for more.
        XSelectInput(display, request.requestor, PropertyChangeMask);
        const long size = long(text.size());
        XChangeProperty(display, request.requestor, request.property,
                        XInternAtom(display, "INCR", False), 32, PropModeReplace,
                        reinterpret_cast<const unsigned char *>(&size), 1);
        Transfer &transfer = transfers[{request.requestor, request.property}];
        transfer.target = target;
        transfer.type = type;
        transfer.offset = 0;
        transfer.lastProgressNs = nowNs();
        notify(request, request.property);
        XFlush(display);
        say("incr %s %lld 0x%lx\n", target.constData(), nowNs(), request.requestor);
        return;
    }
    XChangeProperty(display, request.requestor, request.property, type, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(text.constData()), text.size());
    notify(request, request.property);
    XFlush(display);
    say("served %s %lld %d 0x%lx\n", target.constData(), nowNs(), int(text.size()),
        request.requestor);
}

void SelectionOwner::refuse(const Request &request)
{
    notify(request, None);
    XFlush(display);
    say("refused %s %lld 0 0x%lx\n", atomName(request.target).constData(), nowNs(),
        request.requestor);
}

void SelectionOwner::notify(const Request &request, unsigned long property)
{
    XEvent event = {};
    event.xselection.type = SelectionNotify;
    event.xselection.display = display;
    event.xselection.requestor = request.requestor;
    event.xselection.selection = request.selection;
    event.xselection.target = request.target;
    event.xselection.property = property;
    event.xselection.time = request.time;
    XSendEvent(display, request.requestor, False, NoEventMask, &event);
}

void SelectionOwner::sendNextChunk(unsigned long requestor, unsigned long property)
{
    const auto found = transfers.find({requestor, property});
    Transfer &transfer = found->second;
    const qint64 chunk = std::min<qint64>(XMaxRequestSize(display) * 4 - 64, 256 * 1024);
    const qint64 count = std::min<qint64>(chunk, text.size() - transfer.offset);
    XChangeProperty(display, requestor, property, transfer.type, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(text.constData() + transfer.offset),
                    int(count));
    transfer.offset += count;
    transfer.lastProgressNs = nowNs();
    if (count > 0)
        return;
    // The empty chunk ends the answer.
    XFlush(display);
    say("served %s %lld %lld 0x%lx\n", transfer.target.constData(), nowNs(),
        static_cast<long long>(transfer.offset), requestor);
    transfers.erase(found);
    const bool more =
        std::any_of(transfers.begin(), transfers.end(),
                    [requestor](const auto &other) { return other.first.first == requestor; });
    if (!more)
        XSelectInput(display, requestor, NoEventMask);
}

void SelectionOwner::dropDeadTransfers()
{
    const long long now = nowNs();
    for (auto it = transfers.begin(); it != transfers.end();) {
        if (goneWindows.count(it->first.first) ||
            now - it->second.lastProgressNs > StalledTransferNs) {
            say("abandoned %s %lld %lld 0x%lx\n", it->second.target.constData(), now,
                static_cast<long long>(it->second.offset), it->first.first);
            it = transfers.erase(it);
        } else {
            ++it;
        }
    }
}

QByteArray SelectionOwner::atomName(unsigned long atom)
{
    char *name = XGetAtomName(display, atom);
    if (!name)
        return QByteArray("?");
    const QByteArray copy(name);
    XFree(name);
    return copy;
}
