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

#include <cstring>
#include <string>

#include <windows.h>

namespace {

constexpr int KeyCount = 10;
constexpr int EditId = 1;

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

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "record") == 0)
        return record(argv[2], argc >= 4 && std::strcmp(argv[3], "F5") == 0);
    if (argc == 3 && std::strcmp(argv[1], "probe") == 0)
        return probe(argv[2]);
    return 2;
}
