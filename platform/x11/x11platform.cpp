#include "platform/platform.h"

#include "platform/x11/x11clipboard.h"

#include <QApplication>
#include <QByteArray>
#include <QCoreApplication>
#include <QIcon>
#include <QPixmap>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <QX11Info>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include <X11/Xlib.h>
#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace {

const char AppIconPath[] = ":/icons/tessel.ico";
const char DeleteIconPath[] = ":/icons/delete.ico";

// The function keys by the virtual-key codes the program names them with.
const int VkF1 = 112;
const int VkF10 = 121;
const int KeyCount = VkF10 - VkF1 + 1;

// How long a keycode borrowed for V stays mapped: the focused application reads the
// mapping when it handles the key, after our injection has returned.
const int BorrowedKeyRestoreMs = 1000;

const uint16_t ModifierBits = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_LOCK | XCB_MOD_MASK_CONTROL |
                              XCB_MOD_MASK_1 | XCB_MOD_MASK_2 | XCB_MOD_MASK_3 | XCB_MOD_MASK_4 |
                              XCB_MOD_MASK_5;

const char XcbEventType[] = "xcb_generic_event_t";

// Linux lets any process grow a pipe to this size.
const int WorkerPipeBytes = 1024 * 1024;

// Capture workers in a row whose X ids all differ; a client has some two million.
const unsigned DistinctWorkers = 4096;

// What the program is run on when the platform asked for has no X11 in it.
const char XcbPlatform[] = "xcb";

struct HotKeyState {
    // Per function key, F1 first.
    std::array<bool, KeyCount> wanted{};         // registered and not released since
    std::array<xcb_keycode_t, KeyCount> held{};  // the keycode grabbed for it, or 0
    std::array<xcb_keycode_t, KeyCount> tried{}; // where it was last looked for (0: nowhere)
    std::array<bool, KeyCount> told{};           // the user knows it is not ours
    int codeByKeycode[256] = {};                 // the virtual-key code grabbed on each keycode
    xcb_window_t root = XCB_WINDOW_NONE;
    uint16_t numLock = 0; // the NumLock mask the grabs were made with
    uint16_t lockBits = XCB_MOD_MASK_LOCK;
    int xkbEventBase = -1; // where the XKB extension's events start, -1 without it
    bool retakePending = false;
    xcb_keycode_t lastKeycode = 0;
    xcb_timestamp_t lastTime = 0;
};
HotKeyState hotKeys;

struct InjectionState {
    KeyCode control = 0;
    KeyCode v = 0;
    KeyCode borrowed = 0; // a spare keycode currently mapped to XK_v, or 0
    int restoreGeneration = 0;
    bool restoreAtQuit = false;
};
InjectionState injection;

// Carries a termination signal from its handler into the event loop.
int endSignalPipe[2] = {-1, -1};
std::function<void()> endRequested;

bool isX11()
{
    return QX11Info::isPlatformX11() && QX11Info::display() && QX11Info::connection();
}

// The server's keyboard mapping, read afresh: Xlib's own cache never hears of a change,
// since Qt owns the event queue.
class KeyboardMap {
public:
    explicit KeyboardMap(Display *display)
    {
        XDisplayKeycodes(display, &minKeycode, &maxKeycode);
        syms = XGetKeyboardMapping(display, KeyCode(minKeycode), maxKeycode - minKeycode + 1,
                                   &perKeycode);
    }
    ~KeyboardMap()
    {
        if (syms)
            XFree(syms);
    }
    KeyboardMap(const KeyboardMap &) = delete;
    KeyboardMap &operator=(const KeyboardMap &) = delete;

    // The first keycode with sym unshifted or shifted, or 0. Only the first group is
    // searched, which is the one a Ctrl shortcut is matched against.
    KeyCode find(KeySym sym) const
    {
        for (int code = minKeycode; syms && code <= maxKeycode; ++code) {
            for (int i = 0; i < perKeycode && i < 2; ++i) {
                if (at(code)[i] == sym)
                    return KeyCode(code);
            }
        }
        return 0;
    }

    // The last keycode without any symbol, or 0.
    KeyCode spare() const
    {
        for (int code = maxKeycode; syms && code >= minKeycode; --code) {
            bool empty = true;
            for (int i = 0; i < perKeycode; ++i)
                empty = empty && at(code)[i] == NoSymbol;
            if (empty)
                return KeyCode(code);
        }
        return 0;
    }

private:
    const KeySym *at(int code) const { return syms + (code - minKeycode) * perKeycode; }

    int minKeycode = 0;
    int maxKeycode = 0;
    int perKeycode = 0;
    KeySym *syms = nullptr;
};

uint16_t numLockMask(Display *display, const KeyboardMap &map)
{
    const KeyCode numLock = map.find(XK_Num_Lock);
    XModifierKeymap *modifiers = XGetModifierMapping(display);
    uint16_t mask = 0;
    if (modifiers && numLock) {
        for (int mod = 0; mod < 8 && !mask; ++mod) {
            for (int k = 0; k < modifiers->max_keypermod; ++k) {
                if (modifiers->modifiermap[mod * modifiers->max_keypermod + k] == numLock) {
                    mask = uint16_t(1u << mod);
                    break;
                }
            }
        }
    }
    if (modifiers)
        XFreeModifiermap(modifiers);
    return mask;
}

void setNumLock(uint16_t mask)
{
    hotKeys.numLock = mask;
    hotKeys.lockBits = uint16_t(XCB_MOD_MASK_LOCK | mask);
}

// The lock states under which a bare key must still be ours: none, CapsLock, NumLock, both.
int lockVariants(uint16_t numLock, std::array<uint16_t, 4> &variants)
{
    int count = 0;
    const uint16_t candidates[4] = {0, XCB_MOD_MASK_LOCK, numLock,
                                    uint16_t(numLock | XCB_MOD_MASK_LOCK)};
    for (const uint16_t mask : candidates) {
        bool seen = false;
        for (int i = 0; i < count; ++i)
            seen = seen || variants[i] == mask;
        if (!seen)
            variants[count++] = mask;
    }
    return count;
}

enum class Grab { Taken, NoKey, HeldElsewhere };

// Grabs function key `index` on keycode with every lock variant, or none of them.
Grab grabKey(xcb_connection_t *connection, int index, xcb_keycode_t keycode)
{
    hotKeys.tried[index] = keycode;
    if (!keycode)
        return Grab::NoKey;
    std::array<uint16_t, 4> variants{};
    const int count = lockVariants(hotKeys.numLock, variants);
    std::array<xcb_void_cookie_t, 4> cookies{};
    for (int i = 0; i < count; ++i)
        cookies[i] = xcb_grab_key_checked(connection, 0, hotKeys.root, variants[i], keycode,
                                          XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    // Checked requests report a key held by another client here, not later as a stray error.
    std::array<bool, 4> grabbed{};
    bool all = true;
    for (int i = 0; i < count; ++i) {
        xcb_generic_error_t *error = xcb_request_check(connection, cookies[i]);
        grabbed[i] = !error;
        all = all && !error;
        std::free(error);
    }
    if (!all) {
        for (int i = 0; i < count; ++i) {
            if (grabbed[i])
                xcb_ungrab_key(connection, keycode, hotKeys.root, variants[i]);
        }
        xcb_flush(connection);
        return Grab::HeldElsewhere;
    }
    hotKeys.held[index] = keycode;
    hotKeys.codeByKeycode[keycode] = VkF1 + index;
    return Grab::Taken;
}

// Releases exactly what was grabbed for function key `index`: the keymap or the NumLock
// modifier may have changed since.
void releaseKey(xcb_connection_t *connection, int index)
{
    const xcb_keycode_t keycode = hotKeys.held[index];
    if (!keycode)
        return;
    std::array<uint16_t, 4> variants{};
    const int count = lockVariants(hotKeys.numLock, variants);
    for (int i = 0; i < count; ++i)
        xcb_ungrab_key(connection, keycode, hotKeys.root, variants[i]);
    hotKeys.codeByKeycode[keycode] = 0;
    hotKeys.held[index] = 0;
}

bool anyKeyHeld()
{
    for (const xcb_keycode_t keycode : hotKeys.held) {
        if (keycode)
            return true;
    }
    return false;
}

// After a keyboard mapping change: a key whose keycode moved, or every key when NumLock
// moved to another modifier, is released and taken again where it is now. A key lost on
// the way is told on stderr once; the window is long up, and a box would only get in the
// way of whatever the user is doing.
void retakeKeys()
{
    hotKeys.retakePending = false;
    bool anyWanted = false;
    for (const bool wanted : hotKeys.wanted)
        anyWanted = anyWanted || wanted;
    if (!anyWanted || !isX11())
        return;
    Display *display = QX11Info::display();
    xcb_connection_t *connection = QX11Info::connection();
    const KeyboardMap map(display);
    const uint16_t numLock = numLockMask(display, map);
    const bool locksMoved = numLock != hotKeys.numLock;
    std::array<xcb_keycode_t, KeyCount> now{};
    std::array<bool, KeyCount> retake{};
    // All moved keys are let go before any is taken again: two keys may have swapped.
    for (int i = 0; i < KeyCount; ++i) {
        if (!hotKeys.wanted[i])
            continue;
        now[i] = map.find(XK_F1 + KeySym(i));
        retake[i] = locksMoved || now[i] != hotKeys.tried[i];
        if (retake[i])
            releaseKey(connection, i);
    }
    setNumLock(numLock);
    for (int i = 0; i < KeyCount; ++i) {
        if (!retake[i])
            continue;
        const Grab result = grabKey(connection, i, now[i]);
        if (result == Grab::Taken) {
            hotKeys.told[i] = false;
        } else if (!hotKeys.told[i]) {
            hotKeys.told[i] = true;
            if (result == Grab::NoKey)
                std::fprintf(stderr, "tessel: no key gives F%d any more; it will not paste.\n",
                             i + 1);
            else
                std::fprintf(stderr, "tessel: F%d is held by another program; it will not paste.\n",
                             i + 1);
        }
    }
    xcb_flush(connection);
}

bool isMappingChange(const xcb_generic_event_t *event, uint8_t type)
{
    if (type == XCB_MAPPING_NOTIFY)
        return reinterpret_cast<const xcb_mapping_notify_event_t *>(event)->request !=
               XCB_MAPPING_POINTER;
    // An XKB event carries its own kind in the byte after the event code.
    return type == hotKeys.xkbEventBase &&
           (event->pad0 == XkbNewKeyboardNotify || event->pad0 == XkbMapNotify);
}

// True when a press made at pressTime is too old to paste. The server's time now takes a
// round trip, made only for a press of ours; the last time Qt saw would be as old as the
// press when the event loop was held up.
bool isLate(xcb_timestamp_t pressTime)
{
    const xcb_timestamp_t now = QX11Info::getTimestamp();
    // Server time is milliseconds in 32 bits that wrap around; 0 means no answer came.
    return now != XCB_CURRENT_TIME && int32_t(now - pressTime) > platform::LatePressMs;
}

void restoreBorrowedKey(int generation)
{
    if (generation != injection.restoreGeneration || !injection.borrowed || !isX11())
        return;
    KeySym none = NoSymbol;
    XChangeKeyboardMapping(QX11Info::display(), injection.borrowed, 1, &none, 1);
    XFlush(QX11Info::display());
    injection.borrowed = 0;
}

// Finds the keycodes for a paste. A layout without a Latin v (Russian alone, say) gets a
// spare keycode mapped to v for a while, so that Ctrl+V still means paste.
void prepareInjection(Display *display)
{
    const KeyboardMap map(display);
    injection.control = map.find(XK_Control_L);
    if (!injection.control)
        return;
    injection.v = map.find(XK_v);
    const KeyCode spare = map.spare();
    if (!injection.v && injection.borrowed) {
        injection.v = injection.borrowed;
    } else if (!injection.v && spare) {
        KeySym v = XK_v;
        XChangeKeyboardMapping(display, spare, 1, &v, 1);
        XSync(display, False);
        injection.borrowed = spare;
        injection.v = spare;
        // The timer cannot fire once the event loop has ended: give the key back on the
        // way out too, or the user's layout would keep the extra v after we exit.
        if (!injection.restoreAtQuit) {
            injection.restoreAtQuit = true;
            QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit,
                             [] { restoreBorrowedKey(injection.restoreGeneration); });
        }
    }
    if (injection.borrowed) {
        const int generation = ++injection.restoreGeneration;
        QTimer::singleShot(BorrowedKeyRestoreMs, [generation] { restoreBorrowedKey(generation); });
    }
}

void onEndSignal(int)
{
    // Nothing but write() is safe here. A full socket already holds a wake-up.
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(endSignalPipe[1], &byte, 1);
    errno = saved;
}

// True when the platform list (Qt's QT_QPA_PLATFORM, entries separated by ';', each a name
// with optional ':' arguments) names xcb.
bool namesXcb(const QByteArray &platforms)
{
    for (const QByteArray &entry : platforms.split(';')) {
        if (entry.split(':').first().trimmed() == XcbPlatform)
            return true;
    }
    return false;
}

} // namespace

namespace platform {

bool prepareStart()
{
    // Nothing here draws with OpenGL, and Qt's GLX integration alone loads some 50 MB of
    // Mesa; whoever sets the variable still decides.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    // Hotkeys and key injection are X11 services: in a Wayland session run through XWayland.
    const QByteArray chosen = qgetenv("QT_QPA_PLATFORM");
    const bool switching = !chosen.isEmpty() && !namesXcb(chosen);
    if (chosen.isEmpty() || switching) {
        qputenv("QT_QPA_PLATFORM", XcbPlatform);
    } else if (chosen.split(';').first().split(':').first() != XcbPlatform) {
        // xcb is only a fallback here: Qt decides.
        return true;
    }
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        const char *name = std::getenv("DISPLAY");
        if (name && *name)
            std::fprintf(stderr, "tessel: cannot open the X display \"%s\".\n", name);
        else
            std::fprintf(stderr, "tessel: no X display: DISPLAY is not set. Tessel needs an X11 "
                                 "desktop session (or Xvfb).\n");
        return false;
    }
    XCloseDisplay(display);
    if (switching)
        std::fprintf(stderr,
                     "tessel: QT_QPA_PLATFORM is \"%s\", but the hotkeys need X11: running on "
                     "xcb instead.\n",
                     chosen.constData());
    return true;
}

void setupApplication(QApplication &app)
{
    app.setWindowIcon(QIcon(QString::fromLatin1(AppIconPath)));
}

QString sessionKey()
{
    // ":0", ":0.0" (its first screen) and "unix:0" all name the same display.
    const QByteArray name =
        isX11() ? QByteArray(DisplayString(QX11Info::display())) : qgetenv("DISPLAY");
    const int colon = name.lastIndexOf(':');
    QByteArray host = colon > 0 ? name.left(colon) : QByteArray();
    if (host == "unix")
        host.clear();
    QByteArray number = name.mid(colon + 1);
    const int dot = number.indexOf('.');
    if (dot >= 0)
        number.truncate(dot);
    return QStringLiteral("%1-%2:%3")
        .arg(getuid())
        .arg(QString::fromLocal8Bit(host), QString::fromLocal8Bit(number));
}

void bringToFront(QWidget &window)
{
    window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.show();
    window.raise();
    // A window manager that guards against focus stealing weighs an activation by its time
    // against the user's last input: the request must carry the server's time now, not
    // that of the last event we saw, which may be long ago.
    if (isX11()) {
        const unsigned long now = QX11Info::getTimestamp();
        QX11Info::setAppTime(now);
        QX11Info::setAppUserTime(now);
    }
    window.activateWindow();
}

WorkerChannel openWorkerChannel()
{
    WorkerChannel channel;
    // A library that prints to standard output must not end up inside a frame.
    const int output = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (output < 0)
        return channel;
    if (dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        close(output);
        return channel;
    }
    channel.output = output;
#ifdef F_SETPIPE_SZ
    // Clips are megabytes: a bigger pipe takes them in fewer turns of both event loops.
    fcntl(output, F_SETPIPE_SZ, WorkerPipeBytes);
#endif
    return channel;
}

void separateFromEarlierWorkers(unsigned generation)
{
    // An owner answers a request by writing to the window that made it. The X server gives a
    // new client the ids of one that has just gone, so a new worker's request window would
    // have the ended worker's id, and Qt would take the late answer (a PNG, say) for the
    // answer to its own request (the list of targets). Each worker's ids start further on.
    if (!isX11())
        return;
    xcb_connection_t *connection = QX11Info::connection();
    for (unsigned skip = generation % DistinctWorkers; skip > 0; --skip)
        xcb_generate_id(connection);
}

void yieldFront()
{
    // X11 window managers go by the time of the activation, which bringToFront sets.
}

void onEndRequest(std::function<void()> requested)
{
    endRequested = std::move(requested);
    if (endSignalPipe[0] >= 0)
        return;
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, endSignalPipe) != 0) {
        std::perror("tessel: no socket pair for signals");
        return;
    }
    auto *notifier =
        new QSocketNotifier(endSignalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char bytes[16];
        while (read(endSignalPipe[0], bytes, sizeof bytes) > 0) {
        }
        if (endRequested)
            endRequested();
    });
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction action = {};
        // A signal we were started with ignored (nohup, a background job) stays ignored.
        if (sigaction(signal, nullptr, &action) == 0 && action.sa_handler == SIG_IGN)
            continue;
        action = {};
        action.sa_handler = onEndSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(signal, &action, nullptr);
    }
}

bool openResources()
{
    // The icons are compiled into the program.
    return true;
}

QPixmap deleteIcon()
{
    return QPixmap(QString::fromLatin1(DeleteIconPath));
}

bool registerHotKey(WId, int keyCode)
{
    if (!isX11() || keyCode < VkF1 || keyCode > VkF10)
        return false;
    Display *display = QX11Info::display();
    xcb_connection_t *connection = QX11Info::connection();
    if (hotKeys.root == XCB_WINDOW_NONE) {
        // Only a grab on the root window is global.
        hotKeys.root = xcb_window_t(QX11Info::appRootWindow());
        int opcode = 0;
        int firstError = 0;
        if (!XQueryExtension(display, "XKEYBOARD", &opcode, &hotKeys.xkbEventBase, &firstError))
            hotKeys.xkbEventBase = -1;
    }
    const int index = keyCode - VkF1;
    releaseKey(connection, index);
    const KeyboardMap map(display);
    if (!anyKeyHeld())
        setNumLock(numLockMask(display, map));
    hotKeys.wanted[index] = true;
    const bool taken = grabKey(connection, index, map.find(XK_F1 + KeySym(index))) == Grab::Taken;
    // The window tells the user about a key it could not have.
    hotKeys.told[index] = !taken;
    return taken;
}

void unregisterHotKey(WId, int keyCode)
{
    if (!isX11() || keyCode < VkF1 || keyCode > VkF10)
        return;
    hotKeys.wanted[keyCode - VkF1] = false;
    releaseKey(QX11Info::connection(), keyCode - VkF1);
    xcb_flush(QX11Info::connection());
}

HotKeyPress hotKeyPressed(const QByteArray &eventType, void *message)
{
    if (eventType != XcbEventType)
        return {};
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    const uint8_t type = event->response_type & ~0x80;
    if (x11::refuseWorkerRequest(event) || x11::answerTargets(event))
        return {0, false, true};
    x11::noteOwnerChange(event);
    if (type != XCB_KEY_PRESS) {
        // Let Qt see the change as well: the caller passes every event on but presses.
        if (!hotKeys.retakePending && isMappingChange(event, type)) {
            hotKeys.retakePending = true;
            // One look for all the changes a single xmodmap or setxkbmap makes.
            QTimer::singleShot(0, retakeKeys);
        }
        return {};
    }
    const auto *key = reinterpret_cast<const xcb_key_press_event_t *>(event);
    const int code = hotKeys.codeByKeycode[key->detail];
    if (!code || key->event != hotKeys.root)
        return {};
    if (key->state & ModifierBits & ~hotKeys.lockBits)
        return {};
    // An auto-repeat arrives as a release and a press with the same time: one press each.
    if (key->detail == hotKeys.lastKeycode && key->time == hotKeys.lastTime)
        return {};
    hotKeys.lastKeycode = key->detail;
    hotKeys.lastTime = key->time;
    return {WPARAM(code), isLate(key->time)};
}

void paste()
{
    if (!isX11())
        return;
    Display *display = QX11Info::display();
    // While the hotkey is still held its grab is an active keyboard grab of ours, and the
    // synthetic keys would come back to us instead of the focused application.
    XUngrabKeyboard(display, CurrentTime);
    prepareInjection(display);
    // Without Ctrl a v alone would type a letter instead of pasting: send neither.
    if (!injection.control || !injection.v)
        return;
    XTestFakeKeyEvent(display, injection.control, True, CurrentTime);
    XTestFakeKeyEvent(display, injection.v, True, CurrentTime);
    XTestFakeKeyEvent(display, injection.v, False, CurrentTime);
    XTestFakeKeyEvent(display, injection.control, False, CurrentTime);
    XFlush(display);
}

} // namespace platform
