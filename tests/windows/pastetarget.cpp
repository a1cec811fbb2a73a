// A Windows program for the end-to-end test under Wine, which delivers a registered hotkey
// only while one of its own windows has the focus.
//
//   pastetarget record <log> [F5]  A window with one edit control. Appends to <log> (UTF-8)
//                                  "text <whole text>" after every change of the edit and
//                                  "hotkey <id>" for each hotkey press it gets; with F5, it
//                                  first registers F5 as another hotkey program would and
//                                  writes "held F5" or "F5 taken".
//   pastetarget probe <log>        Tries to register F1 to F10, releases them at once and
//                                  appends "refused" and the keys it could not take.
//   pastetarget copy               Puts, in one change, a text and four registered formats
//                                  on the clipboard: three Qt has no converter for, and
//                                  HTML Format, which Qt reads as text/html.
//   pastetarget formats <log>      Appends "format <name>" for each format on the clipboard,
//                                  in its order, then "same <name>" or "differs <name>" for
//                                  each format copy puts there.

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <windows.h>

namespace {

constexpr int KeyCount = 10;
constexpr int EditId = 1;

const wchar_t CopiedText[] = L"formats;";

struct Copied {
    const wchar_t *name;
    std::string bytes;
};

// What copy puts on the clipboard after the text, each under a registered name. The HTML is
// laid out as Qt writes it (Qt reads the page between StartHTML and EndHTML and writes its
// own header on a paste), so that it too can come back byte for byte.
const std::vector<Copied> &copiedFormats()
{
    static const std::vector<Copied> formats = {
        {L"Rich Text Format", "{\\rtf1\\ansi {\\b bold}\\par}"},
        {L"HTML Format", "Version:1.0\r\nStartHTML:0000000107\r\nEndHTML:0000000182\r\n"
                         "StartFragment:0000000139\r\nEndFragment:0000000150\r\n\r\n"
                         "<html><body><!--StartFragment--><b>bold</b><!--EndFragment-->"
                         "</body></html>"},
        // A 1x1 green PNG: Qt reads it as an image too.
        {L"PNG", std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\0\x01\0\0\0\x01\x08\x02\0\0\0"
                             "\x90\x77\x53\xde\0\0\0\x0cIDAT\x78\xda\x63\xf8\xcf\xf0\x1f\0\x04"
                             "\0\x01\xff\x1c\xf7\xe9\x5c\0\0\0\0IEND\xae\x42\x60\x82",
                             69)},
        // A program's own format, with bytes no text codec would keep.
        {L"Tessel Test Private", std::string("\0\x01\xfe\xff private\r\n\0", 15)},
    };
    return formats;
}

HANDLE logFile = INVALID_HANDLE_VALUE;
HWND edit = nullptr;

void writeLine(const std::wstring &line)
{
    const std::wstring text = line + L"\n";
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string bytes(size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &bytes[0], size, nullptr,
                        nullptr);
    DWORD written = 0;
    WriteFile(logFile, bytes.data(), DWORD(bytes.size()), &written, nullptr);
}

bool openLog(const char *path)
{
    logFile = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return logFile != INVALID_HANDLE_VALUE;
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        edit = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 0, 0, 0, 0,
                               window, HMENU(INT_PTR(EditId)), GetModuleHandleW(nullptr), nullptr);
        return edit ? 0 : -1;
    case WM_SIZE:
        MoveWindow(edit, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        return 0;
    case WM_SETFOCUS:
        SetFocus(edit);
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == EditId && HIWORD(wParam) == EN_CHANGE) {
            std::wstring text(size_t(GetWindowTextLengthW(edit)) + 1, L'\0');
            text.resize(size_t(GetWindowTextW(edit, &text[0], int(text.size()))));
            writeLine(L"text " + text);
        }
        return 0;
    case WM_HOTKEY:
        writeLine(L"hotkey " + std::to_wstring(wParam));
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

int record(const char *logPath, bool holdF5)
{
    if (!openLog(logPath))
        return 2;
    WNDCLASSW wc = {};
    wc.lpfnWndProc = windowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
    wc.hbrBackground = HBRUSH(COLOR_WINDOW + 1);
    wc.lpszClassName = L"TesselPasteTarget";
    if (!RegisterClassW(&wc))
        return 2;
    const HWND window = CreateWindowExW(0, wc.lpszClassName, L"pastetarget", WS_OVERLAPPEDWINDOW,
                                        640, 40, 400, 80, nullptr, nullptr, wc.hInstance, nullptr);
    if (!window)
        return 2;
    if (holdF5)
        writeLine(RegisterHotKey(window, VK_F5, 0, VK_F5) ? L"held F5" : L"F5 taken");
    ShowWindow(window, SW_SHOW);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    CloseHandle(logFile);
    return 0;
}

int probe(const char *logPath)
{
    std::wstring refused = L"refused";
    for (int i = 0; i < KeyCount; ++i) {
        const UINT vk = VK_F1 + UINT(i);
        if (RegisterHotKey(nullptr, int(vk), 0, vk))
            UnregisterHotKey(nullptr, int(vk));
        else
            refused += L" F" + std::to_wstring(i + 1);
    }
    if (!openLog(logPath))
        return 2;
    writeLine(refused);
    return 0;
}

HGLOBAL globalCopy(const void *data, size_t size)
{
    const HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
    if (memory) {
        std::memcpy(GlobalLock(memory), data, size);
        GlobalUnlock(memory);
    }
    return memory;
}

int copyFormats()
{
    // SetClipboardData needs an owner window.
    const HWND owner = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                       GetModuleHandleW(nullptr), nullptr);
    if (!owner || !OpenClipboard(owner))
        return 2;
    EmptyClipboard();
    bool set =
        SetClipboardData(CF_UNICODETEXT, globalCopy(CopiedText, sizeof CopiedText)) != nullptr;
    for (const Copied &format : copiedFormats()) {
        set = set &&
              SetClipboardData(RegisterClipboardFormatW(format.name),
                               globalCopy(format.bytes.data(), format.bytes.size())) != nullptr;
    }
    CloseClipboard();
    DestroyWindow(owner);
    return set ? 0 : 2;
}

std::wstring formatName(UINT format)
{
    // The predefined formats have no name of their own.
    static const std::vector<std::pair<UINT, const wchar_t *>> predefined = {
        {CF_TEXT, L"CF_TEXT"},   {CF_BITMAP, L"CF_BITMAP"},           {CF_OEMTEXT, L"CF_OEMTEXT"},
        {CF_DIB, L"CF_DIB"},     {CF_UNICODETEXT, L"CF_UNICODETEXT"}, {CF_LOCALE, L"CF_LOCALE"},
        {CF_DIBV5, L"CF_DIBV5"},
    };
    for (const auto &[id, name] : predefined) {
        if (id == format)
            return name;
    }
    wchar_t name[256];
    const int length = GetClipboardFormatNameW(format, name, 256);
    return length > 0 ? std::wstring(name, size_t(length)) : L"#" + std::to_wstring(format);
}

// Whether the clipboard holds format with exactly bytes; a text up to its end.
bool holds(UINT format, const void *bytes, size_t size, bool text)
{
    const HGLOBAL memory = GetClipboardData(format);
    const void *data = memory ? GlobalLock(memory) : nullptr;
    if (!data)
        return false;
    const bool same = text ? std::wcscmp(static_cast<const wchar_t *>(data), CopiedText) == 0
                           : GlobalSize(memory) == size && std::memcmp(data, bytes, size) == 0;
    GlobalUnlock(memory);
    return same;
}

int listFormats(const char *logPath)
{
    if (!openLog(logPath) || !OpenClipboard(nullptr))
        return 2;
    for (UINT format = EnumClipboardFormats(0); format; format = EnumClipboardFormats(format))
        writeLine(L"format " + formatName(format));
    const auto verdict = [](bool same, const std::wstring &name) {
        writeLine((same ? L"same " : L"differs ") + name);
    };
    verdict(holds(CF_UNICODETEXT, nullptr, 0, true), formatName(CF_UNICODETEXT));
    for (const Copied &format : copiedFormats()) {
        verdict(holds(RegisterClipboardFormatW(format.name), format.bytes.data(),
                      format.bytes.size(), false),
                format.name);
    }
    CloseClipboard();
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "record") == 0)
        return record(argv[2], argc >= 4 && std::strcmp(argv[3], "F5") == 0);
    if (argc == 3 && std::strcmp(argv[1], "probe") == 0)
        return probe(argv[2]);
    if (argc == 2 && std::strcmp(argv[1], "copy") == 0)
        return copyFormats();
    if (argc == 3 && std::strcmp(argv[1], "formats") == 0)
        return listFormats(argv[2]);
    return 2;
}
