// Runs the Windows backend's Win32 services for real (under Wine on Linux) and checks what
// the window and hotkey code rely on them for. Prints one PASS or FAIL line per check and
// exits with the number of failures.
//
// "win32selftest hold <tag>" is the second program that holds F5; the first one starts it
// and steps it through its phases with two named events.

#include "platform/win/win32services.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include <windows.h>

namespace {

constexpr UINT FirstKey = VK_F1;
constexpr int KeyCount = 10;
constexpr UINT HeldKey = VK_F5;
constexpr UINT VkControl = 17;
constexpr UINT VkLeftControl = 162;
constexpr UINT VkV = 86;
constexpr int DeleteIconResource = 4;
constexpr int IconSize = 32;

// Generous: Wine on a loaded machine. Every wait ends as soon as its event arrives.
constexpr DWORD EventTimeoutMs = 10000;

int failures = 0;

void check(bool ok, const std::string &what)
{
    std::printf("%s: %s\n", ok ? "PASS" : "FAIL", what.c_str());
    if (!ok)
        ++failures;
}

std::string keyName(UINT vk)
{
    return "F" + std::to_string(vk - FirstKey + 1);
}

HWND createWindow()
{
    static const wchar_t className[] = L"TesselSelfTest";
    static bool registered = false;
    if (!registered) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = className;
        registered = RegisterClassW(&wc) != 0;
    }
    return CreateWindowExW(0, className, L"Tessel self-test", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                           nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

// Drains this thread's queue, handing every WM_HOTKEY to onHotKey and dispatching the rest
// (a low-level keyboard hook is called from here too).
template <typename OnHotKey> void drainMessages(OnHotKey onHotKey)
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_HOTKEY)
            onHotKey(msg);
        else
            DispatchMessageW(&msg);
    }
}

// Waits for one of the handles while keeping the message queue moving. Messages are drained
// once more after a handle is signalled, so everything posted before that has been handled
// when this returns. Returns the index of the signalled handle, or -1 on timeout.
template <typename OnHotKey> int waitPumping(const std::vector<HANDLE> &handles, OnHotKey onHotKey)
{
    const DWORD count = DWORD(handles.size());
    const ULONGLONG deadline = GetTickCount64() + EventTimeoutMs;
    for (;;) {
        drainMessages(onHotKey);
        const ULONGLONG now = GetTickCount64();
        const DWORD left = now >= deadline ? 0 : DWORD(deadline - now);
        // Waiting also resets an auto-reset event, so its result is the only record of it.
        const DWORD ready =
            MsgWaitForMultipleObjects(count, handles.data(), FALSE, left, QS_ALLINPUT);
        if (ready < WAIT_OBJECT_0 + count) {
            drainMessages(onHotKey);
            return int(ready - WAIT_OBJECT_0);
        }
        if (ready != WAIT_OBJECT_0 + count)
            return -1;
    }
}

// Pumps messages until the next WM_HOTKEY, leaving any later one queued; returns its wParam
// (0 on timeout) and the window it was posted to.
WPARAM nextHotKey(HWND *target)
{
    const ULONGLONG deadline = GetTickCount64() + EventTimeoutMs;
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_HOTKEY) {
                *target = msg.hwnd;
                return msg.wParam;
            }
            DispatchMessageW(&msg);
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            return 0;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, DWORD(deadline - now), QS_ALLINPUT);
    }
}

// Presses and releases the keys as one stream of injected input: downs in order, ups in
// reverse, the way a user holds a modifier.
void tap(std::initializer_list<WORD> keys)
{
    std::vector<INPUT> inputs;
    for (const WORD vk : keys) {
        INPUT in = {};
        in.type = INPUT_KEYBOARD;
        in.ki.wVk = vk;
        inputs.push_back(in);
    }
    for (auto it = keys.end(); it != keys.begin();) {
        INPUT in = {};
        in.type = INPUT_KEYBOARD;
        in.ki.wVk = *--it;
        in.ki.dwFlags = KEYEVENTF_KEYUP;
        inputs.push_back(in);
    }
    SendInput(UINT(inputs.size()), inputs.data(), sizeof(INPUT));
}

std::wstring eventName(const std::string &tag, const wchar_t *what)
{
    return L"Local\\TesselSelfTest." + std::wstring(tag.begin(), tag.end()) + L"." + what;
}

struct IconImage {
    int width = 0;
    int height = 0;
    std::vector<DWORD> pixels; // 0x00RRGGBB, top row first, drawn over Backdrop
};

// Not in the 16-colour palette of the icons, so a transparent pixel shows as this.
constexpr DWORD Backdrop = 0x010203;

IconImage readIcon(HICON icon)
{
    IconImage image;
    ICONINFO info = {};
    if (!icon || !GetIconInfo(icon, &info))
        return image;
    BITMAP bm = {};
    if (info.hbmColor && GetObjectW(info.hbmColor, sizeof bm, &bm)) {
        image.width = bm.bmWidth;
        image.height = bm.bmHeight;
    } else if (info.hbmMask && GetObjectW(info.hbmMask, sizeof bm, &bm)) {
        // A monochrome icon stacks its AND and XOR masks in one bitmap.
        image.width = bm.bmWidth;
        image.height = bm.bmHeight / 2;
    }
    if (info.hbmColor)
        DeleteObject(info.hbmColor);
    if (info.hbmMask)
        DeleteObject(info.hbmMask);

    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = IconSize;
    bi.bmiHeader.biHeight = -IconSize;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void *bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP dib = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (dc && dib && bits) {
        HGDIOBJ old = SelectObject(dc, dib);
        HBRUSH backdrop =
            CreateSolidBrush(RGB((Backdrop >> 16) & 0xff, (Backdrop >> 8) & 0xff, Backdrop & 0xff));
        const RECT all = {0, 0, IconSize, IconSize};
        FillRect(dc, &all, backdrop);
        DeleteObject(backdrop);
        DrawIconEx(dc, 0, 0, icon, IconSize, IconSize, 0, nullptr, DI_NORMAL);
        GdiFlush();
        const DWORD *p = static_cast<const DWORD *>(bits);
        image.pixels.assign(p, p + IconSize * IconSize);
        for (DWORD &px : image.pixels)
            px &= 0xffffff;
        SelectObject(dc, old);
    }
    if (dib)
        DeleteObject(dib);
    if (dc)
        DeleteDC(dc);
    return image;
}

bool isRed(DWORD px)
{
    return ((px >> 16) & 0xff) >= 0xc0 && ((px >> 8) & 0xff) < 0x40 && (px & 0xff) < 0x40;
}

int countPixels(const IconImage &image, bool (*match)(DWORD))
{
    int n = 0;
    for (const DWORD px : image.pixels)
        n += match(px) ? 1 : 0;
    return n;
}

std::string sizeText(const IconImage &image)
{
    return std::to_string(image.width) + "x" + std::to_string(image.height);
}

void checkIcons()
{
    const HINSTANCE module = win32::moduleHandle();
    check(module != nullptr, "the module handle is non-null");

    const IconImage deleteIcon = readIcon(win32::loadIcon(module, DeleteIconResource));
    check(deleteIcon.width == IconSize && deleteIcon.height == IconSize,
          "icon 4 loads as 32x32 (got " + sizeText(deleteIcon) + ")");
    if (!deleteIcon.pixels.empty()) {
        const DWORD centre = deleteIcon.pixels[16 * IconSize + 16];
        check(isRed(centre) && deleteIcon.pixels[0] == 0xffffff,
              "icon 4 is the red X on white (centre and corner pixels)");
        check(countPixels(deleteIcon, [](DWORD px) { return px == Backdrop; }) == 0,
              "icon 4 is fully opaque");
    }

    const HICON appIconHandle = LoadIconW(module, L"IDI_ICON1");
    check(appIconHandle != nullptr, "icon group \"IDI_ICON1\" loads");
    const IconImage appIcon = readIcon(appIconHandle);
    check(appIcon.width == IconSize && appIcon.height == IconSize,
          "\"IDI_ICON1\" is 32x32 (got " + sizeText(appIcon) + ")");
    if (!appIcon.pixels.empty()) {
        check(countPixels(appIcon, isRed) == 0 &&
                  countPixels(appIcon, [](DWORD px) { return px == 0; }) > 0 &&
                  appIcon.pixels[0] == 0xffffff,
              "\"IDI_ICON1\" is black lettering on white, not the red X");
        check(countPixels(appIcon, [](DWORD px) { return px == Backdrop; }) == 0,
              "\"IDI_ICON1\" is fully opaque");
    }
}

// The second program: holds F5 until told to take the other nine keys, then gives all ten
// back. Reports through its own lines and its exit status.
int holdKey(const std::string &tag)
{
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, eventName(tag, L"ready").c_str());
    HANDLE go = OpenEventW(SYNCHRONIZE, FALSE, eventName(tag, L"go").c_str());
    const HWND window = createWindow();
    if (!ready || !go || !window) {
        check(false, "holder: set up its window and events");
        return failures;
    }
    int heldPresses = 0;
    const auto countPresses = [&](const MSG &msg) {
        if (msg.hwnd == window && msg.wParam == HeldKey)
            ++heldPresses;
    };

    check(win32::registerHotKey(window, int(HeldKey), 0, HeldKey), "holder: registers F5");
    SetEvent(ready);

    if (waitPumping({go}, countPresses) != 0) {
        check(false, "holder: told to go on");
        return failures;
    }
    check(heldPresses == 1, "holder: the injected F5 reached the program that holds it (" +
                                std::to_string(heldPresses) + " presses)");
    std::string notTaken;
    for (UINT vk = FirstKey; vk < FirstKey + KeyCount; ++vk)
        if (vk != HeldKey && !win32::registerHotKey(window, int(vk), 0, vk))
            notTaken += " " + keyName(vk);
    check(notTaken.empty(), "holder: takes the nine keys the other window released" +
                                (notTaken.empty() ? std::string() : ", failed:" + notTaken));
    SetEvent(ready);

    if (waitPumping({go}, countPresses) != 0) {
        check(false, "holder: told to finish");
        return failures;
    }
    for (UINT vk = FirstKey; vk < FirstKey + KeyCount; ++vk)
        win32::unregisterHotKey(window, int(vk));
    DestroyWindow(window);
    return failures;
}

struct Holder {
    std::string tag = std::to_string(GetCurrentProcessId());
    HANDLE ready = CreateEventW(nullptr, FALSE, FALSE, eventName(tag, L"ready").c_str());
    HANDLE go = CreateEventW(nullptr, FALSE, FALSE, eventName(tag, L"go").c_str());
    PROCESS_INFORMATION process = {};

    bool start()
    {
        wchar_t exe[MAX_PATH];
        if (!ready || !go || !GetModuleFileNameW(nullptr, exe, MAX_PATH))
            return false;
        std::wstring commandLine =
            L"\"" + std::wstring(exe) + L"\" hold " + std::wstring(tag.begin(), tag.end());
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        return CreateProcessW(exe, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &si, &process) != 0;
    }

    // Waits until the holder has finished its current phase; false if it died or hangs.
    bool phaseDone()
    {
        return waitPumping({ready, process.hProcess}, [](const MSG &) {}) == 0;
    }

    int finish()
    {
        SetEvent(go);
        DWORD status = 1;
        if (WaitForSingleObject(process.hProcess, EventTimeoutMs) != WAIT_OBJECT_0)
            TerminateProcess(process.hProcess, 1);
        GetExitCodeProcess(process.hProcess, &status);
        return int(status);
    }

    ~Holder()
    {
        if (process.hProcess) {
            // Only after a failed check: do not leave it waiting for its next phase.
            if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT)
                TerminateProcess(process.hProcess, 1);
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
        CloseHandle(go);
        CloseHandle(ready);
    }
};

std::string registerAll(HWND window)
{
    std::string failed;
    for (UINT vk = FirstKey; vk < FirstKey + KeyCount; ++vk)
        if (!win32::registerHotKey(window, int(vk), 0, vk))
            failed += " " + keyName(vk);
    return failed;
}

void releaseAll(HWND window)
{
    for (UINT vk = FirstKey; vk < FirstKey + KeyCount; ++vk)
        win32::unregisterHotKey(window, int(vk));
}

void checkHotKeys()
{
    Holder holder;
    if (!holder.start() || !holder.phaseDone()) {
        check(false, "a second program starts and holds F5");
        return;
    }

    const HWND window = createWindow();
    const std::string refused = registerAll(window);
    check(refused == " F5",
          "registering F1 to F10 while another program holds F5 fails for F5 alone (failed:" +
              refused + ")");

    // F5 first: it belongs to the other program, so the first hotkey here must be F1.
    tap({WORD(HeldKey)});
    std::string arrived;
    bool allHere = true;
    for (UINT vk = FirstKey; vk < FirstKey + KeyCount; ++vk) {
        if (vk == HeldKey)
            continue;
        tap({WORD(vk)});
        HWND target = nullptr;
        const WPARAM code = nextHotKey(&target);
        arrived += " " + std::to_string(code);
        allHere = code == vk && target == window;
        if (!allHere)
            break; // the rest would only wait out their timeouts
    }
    check(allHere, "each injected F-key posts WM_HOTKEY with wParam = its code to the window, "
                   "F5 does not (got" +
                       arrived + ")");

    // Held modifiers make it another key combination; the bare F2 after them must be next.
    tap({VK_CONTROL, WORD(FirstKey)});
    tap({VK_SHIFT, WORD(FirstKey)});
    tap({WORD(FirstKey + 1)});
    HWND target = nullptr;
    const WPARAM afterModifiers = nextHotKey(&target);
    check(afterModifiers == FirstKey + 1, "Ctrl+F1 and Shift+F1 post no WM_HOTKEY (next was " +
                                              std::to_string(afterModifiers) + ")");

    // Release all ten, the failed F5 included, as the window does on close.
    releaseAll(window);
    SetEvent(holder.go);
    const bool taken = holder.phaseDone();
    check(taken, "the other program takes the nine released keys");
    check(!win32::registerHotKey(window, int(HeldKey), 0, HeldKey),
          "releasing the failed F5 left it with the program that holds it");
    DestroyWindow(window);

    check(holder.finish() == 0, "the holding program reports no failure");

    const HWND another = createWindow();
    const std::string failed = registerAll(another);
    check(failed.empty(), "a new window gets all ten keys once they are released" +
                              (failed.empty() ? std::string() : ", failed:" + failed));
    tap({WORD(HeldKey)});
    const WPARAM f5 = nextHotKey(&target);
    check(f5 == HeldKey && target == another,
          "F5 now reaches the new window (got " + std::to_string(f5) + ")");
    releaseAll(another);
    DestroyWindow(another);
}

struct KeyRecord {
    DWORD vk;
    bool up;
};
std::vector<KeyRecord> hookedKeys;

LRESULT CALLBACK keyboardHook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION) {
        const auto *key = reinterpret_cast<const KBDLLHOOKSTRUCT *>(lParam);
        if (key->vkCode == VkControl || key->vkCode == VkLeftControl || key->vkCode == VkV)
            hookedKeys.push_back({key->vkCode, (key->flags & LLKHF_UP) != 0});
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

std::string describe(const std::vector<KeyRecord> &keys)
{
    std::string text;
    for (const KeyRecord &k : keys)
        text += " " + std::to_string(k.vk) + (k.up ? " up," : " down,");
    return text;
}

void checkKeyEvents()
{
    HHOOK hook = SetWindowsHookExW(WH_KEYBOARD_LL, keyboardHook, GetModuleHandleW(nullptr), 0);
    if (!hook) {
        check(false, "a low-level keyboard hook can be installed");
        return;
    }
    win32::keyEvent(BYTE(VkControl), 0);
    win32::keyEvent(BYTE(VkV), 0);
    win32::keyEvent(BYTE(VkV), KEYEVENTF_KEYUP);
    win32::keyEvent(BYTE(VkControl), KEYEVENTF_KEYUP);

    const ULONGLONG deadline = GetTickCount64() + EventTimeoutMs;
    while (hookedKeys.size() < 4 && GetTickCount64() < deadline) {
        drainMessages([](const MSG &) {});
        MsgWaitForMultipleObjects(0, nullptr, FALSE, DWORD(deadline - GetTickCount64()),
                                  QS_ALLINPUT);
    }
    UnhookWindowsHookEx(hook);

    const auto isControl = [](DWORD vk) { return vk == VkControl || vk == VkLeftControl; };
    const bool inOrder = hookedKeys.size() == 4 && isControl(hookedKeys[0].vk) &&
                         !hookedKeys[0].up && hookedKeys[1].vk == VkV && !hookedKeys[1].up &&
                         hookedKeys[2].vk == VkV && hookedKeys[2].up &&
                         isControl(hookedKeys[3].vk) && hookedKeys[3].up;
    check(inOrder, "Ctrl down, V down, V up, Ctrl up arrive in call order (got" +
                       describe(hookedKeys) + ")");
}

} // namespace

int main(int argc, char **argv)
{
    // Lines of both programs interleave on the same output.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc == 3 && std::strcmp(argv[1], "hold") == 0)
        return holdKey(argv[2]);

    checkIcons();
    checkHotKeys();
    checkKeyEvents();
    std::printf("%d failed\n", failures);
    return failures;
}
