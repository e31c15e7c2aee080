#include "MainWindow.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "Ctl3d.h"
#include "Dialogs.h"
#include "Help.h"
#include "Main.h"
#include "resource.h"

// The setup program finds a running server by this class name
// (installer/vfspd.nsi, RefuseWhileRunning), and so does tests/e2e/closewin.
const char MainWindow::szClassName[] = "VrelFSPd";

namespace {
// Full path of one of the system's own programs: in the Windows directory,
// else in the system directory.
void SystemProgram(const char* program, char* path) {
    size_t room = MAX_PATH - std::strlen(program) - 1;
    for (int system = 0; system < 2; ++system) {
        UINT n = system ? GetSystemDirectoryA(path, MAX_PATH) : GetSystemWindowsDirectoryA(path, MAX_PATH);
        if (n == 0 || n >= room) continue;
        std::snprintf(path + n, MAX_PATH - n, "\\%s", program);
        if (system || GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) return;
    }
    path[0] = '\0'; // nowhere to look: starting it fails and says so
}

// Starts a viewer on file, not waiting for it. The viewer is named by its
// full path: a bare name is searched for in the program's folder and the
// working directory first, where a client with upload rights may have put
// a program of its own.
void StartViewer(HWND owner, const char* program, const char* file) {
    char path[MAX_PATH] = "";
    SystemProgram(program, path);
    // Quoted, since either path may hold blanks.
    char commandLine[2 * MAX_PATH + 8];
    std::snprintf(commandLine, sizeof(commandLine), "\"%s\" \"%s\"", path, file);
    STARTUPINFOA startupInfo = {};
    startupInfo.cb = sizeof(startupInfo);
    PROCESS_INFORMATION processInfo = {};
    if (CreateProcessA(path, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startupInfo,
                       &processInfo)) {
        CloseHandle(processInfo.hThread);
        CloseHandle(processInfo.hProcess);
        return;
    }
    char text[80];
    std::snprintf(text, sizeof(text), "CreateProcess failed; error code = %lu", GetLastError());
    MessageBoxA(owner, text, "Error", MB_OK | MB_ICONERROR);
}

// Pixels per inch of a window's monitor, where the system tells it per
// window (Windows 10 and later); else the screen's.
int WindowDpi(HWND hwnd) {
    using GetDpiForWindowProc = UINT(WINAPI*)(HWND);
    static auto getDpi = reinterpret_cast<GetDpiForWindowProc>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
    if (getDpi) {
        if (UINT dpi = getDpi(hwnd)) return static_cast<int>(dpi);
    }
    HDC dc = GetDC(hwnd);
    int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(hwnd, dc);
    return dpi > 0 ? dpi : 96;
}

// Paints, between BeginPaint and EndPaint: the logo above the line (only
// where that part is invalid; after a request only the band below is),
// the line, and the band of texts under it, cleared first. The band is
// invalidated without erasing, so a shorter address would otherwise leave
// the tail of a longer one ("127.0.0.1" after "127.0.0.100").
void PaintWindow(HWND hwnd, const PAINTSTRUCT& ps, HBITMAP logo, HFONT font, int dpi,
                 unsigned long requestCount, const in_addr& lastClient) {
    auto scaled = [dpi](int pixels) { return MulDiv(pixels, dpi, 96); };
    const int line = scaled(100);
    SetBkColor(ps.hdc, GetSysColor(COLOR_MENU));
    if (logo && ps.rcPaint.top < line) {
        BITMAP bm;
        GetObjectA(logo, sizeof(bm), &bm);
        HDC memory = CreateCompatibleDC(ps.hdc);
        HGDIOBJ old = SelectObject(memory, logo);
        if (dpi == 96) {
            BitBlt(ps.hdc, 0, 0, bm.bmWidth, bm.bmHeight, memory, 0, 0, SRCCOPY);
        } else {
            SetStretchBltMode(ps.hdc, HALFTONE);
            StretchBlt(ps.hdc, 0, 0, scaled(bm.bmWidth), scaled(bm.bmHeight), memory, 0, 0, bm.bmWidth,
                       bm.bmHeight, SRCCOPY);
        }
        SelectObject(memory, old);
        DeleteDC(memory);
    }
    SelectObject(ps.hdc, GetStockObject(BLACK_PEN));
    MoveToEx(ps.hdc, 0, line, nullptr);
    LineTo(ps.hdc, scaled(800), line);
    RECT band;
    GetClientRect(hwnd, &band);
    band.top = line + 1;
    FillRect(ps.hdc, &band, GetSysColorBrush(COLOR_MENU));
    HGDIOBJ previous = SelectObject(ps.hdc, font);
    char text[80];
    int n = std::snprintf(text, sizeof(text), "Number of Requests: %lu", requestCount);
    TextOutA(ps.hdc, scaled(10), scaled(120), text, n);
    if (requestCount != 0) {
        n = std::snprintf(text, sizeof(text), "Return Address: %s", inet_ntoa(lastClient));
        TextOutA(ps.hdc, scaled(10), scaled(140), text, n);
    }
    SelectObject(ps.hdc, previous);
}

// The texts' font, made once.
HFONT MakeWindowFont(int dpi) {
    return CreateFontA(-MulDiv(12, dpi, 96), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "Arial");
}
} // namespace

LRESULT CALLBACK Window::StaticWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    // A pointer does not fit in 4 bytes on 64-bit Windows: the class keeps
    // a LONG_PTR for it.
    Window* self = reinterpret_cast<Window*>(GetWindowLongPtrA(hwnd, 0));
    if (self) return self->WndProc(msg, wParam, lParam);
    if (msg == WM_CREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        self = static_cast<Window*>(create->lpCreateParams);
        SetWindowLongPtrA(hwnd, 0, reinterpret_cast<LONG_PTR>(self));
        self->hWnd = hwnd;
        return self->WndProc(msg, wParam, lParam);
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

int MainWindow::RegisterWindowClass(HINSTANCE instance) {
    WNDCLASSA wc = {};
    wc.style = CS_VREDRAW | CS_HREDRAW | CS_BYTEALIGNWINDOW;
    wc.lpfnWndProc = Window::StaticWndProc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = sizeof(LONG_PTR);
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, "FSPD_ICON");
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_MENU + 1);
    wc.lpszMenuName = "FSPD_MENU";
    wc.lpszClassName = szClassName;
    return RegisterClassA(&wc) ? 1 : 0;
}

MainWindow::MainWindow() {
    // The band's repaints must not paint over the status bar.
    HWND created = CreateWindowExA(0, szClassName, "VrelFSPd idle", WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN,
                                   50, 150, 362, 210, nullptr, nullptr, Main::hInstance, this);
    if (!created) ExitProcess(0);
    hWnd = created;
    Main::hMainWindow = hWnd;
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    // Tooltips: a line too wide for the bar shows whole when pointed at.
    statusBar = CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE | SBARS_TOOLTIPS, 0, 0, 0, 0, hWnd,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(kStatusBarId)), Main::hInstance,
                                nullptr);
    dpi = WindowDpi(hWnd);
    FitWindow(nullptr);
    daemon.SetupSockets(Main::hMainWindow);
    ShowStatus();
    // Idle uploads are forgotten, and their files deleted, even when no
    // request comes to do it.
    SetTimer(hWnd, kExpiryTimer, 1000, nullptr);
    ShowWindow(hWnd, Main::nCmdShow);
    UpdateWindow(hWnd);
}

MainWindow::~MainWindow() {
    // A window still standing (E&xit leaves it) must not route messages to
    // an object that is gone: detach first, so its destruction goes to the
    // default procedure and posts no quit message.
    if (hWnd && IsWindow(hWnd)) {
        SetWindowLongPtrA(hWnd, 0, 0);
        DestroyWindow(hWnd);
    }
    if (Main::hMainWindow == hWnd) Main::hMainWindow = nullptr;
    if (logo) DeleteObject(logo);
    if (font) DeleteObject(font);
}

LRESULT MainWindow::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_CREATE:
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_PAINT:
        Paint();
        return 0;
    case WM_SYSCOLORCHANGE:
        Ctl3dColorChange();
        return 1;
    case WM_GETMINMAXINFO:
        reinterpret_cast<MINMAXINFO*>(lParam)->ptMaxSize.x = 368;
        reinterpret_cast<MINMAXINFO*>(lParam)->ptMaxSize.y = 210;
        return 0;
    case WM_COMMAND:
        WMCommand(static_cast<unsigned>(wParam), lParam);
        ShowStatus(); // a setting may have changed
        return 0;
    case WM_FSP_STATUS:
        ShowStatus();
        return 0;
    case 0x02E0: { // WM_DPICHANGED: moved to a monitor of another scale
        dpi = HIWORD(wParam);
        if (font) DeleteObject(font);
        font = nullptr;
        FitWindow(reinterpret_cast<const RECT*>(lParam));
        InvalidateRect(hWnd, nullptr, TRUE);
        return 0;
    }
    case WM_FSP_SOCKET: {
        unsigned long before = daemon.requestCount;
        daemon.IncomingMsg();
        if (daemon.requestCount != before) RequestServed();
        return 0;
    }
    case WM_TIMER:
        if (wParam == kExpiryTimer) {
            daemon.ExpireIdle();
            // A root removed or put back while running shows within a second.
            daemon.CheckRoot();
            ShowStatus();
        }
        if (wParam == kBurstTimer) BurstTick();
        return 0;
    case WM_FSP_DNS:
        daemon.DNSLookup(wParam, lParam);
        return 0;
    default:
        return DefWindowProcA(hWnd, msg, wParam, lParam);
    }
}

void MainWindow::WMCommand(unsigned id, LPARAM) {
    HMENU menu = GetMenu(hWnd);
    switch (id) {
    case IDM_VIEWLOG:
        // The configured log, complete on disk.
        daemon.eventLog.FlushLogFile();
        StartViewer(hWnd, "notepad.exe", daemon.logPath);
        break;
    case IDM_EXIT:
        PostQuitMessage(0);
        break;
    case IDM_LOGGING:
    case IDM_UPLOADONLY:
    case IDM_READWRITE:
    case IDM_REVNAME:
    case IDM_PRIVMODE:
    case IDM_THRUOUT:
    case IDM_ACCEPT: {
        bool wasChecked = (GetMenuState(menu, id, MF_BYCOMMAND) & MF_CHECKED) != 0;
        CheckMenuItem(menu, id, MF_BYCOMMAND | (wasChecked ? MF_UNCHECKED : MF_CHECKED));
        if (id == IDM_READWRITE)
            EnableMenuItem(menu, IDM_UPLOADONLY, MF_BYCOMMAND | (wasChecked ? MF_ENABLED : MF_GRAYED));
        daemon.GetStatus(menu);
        daemon.SaveSettings();
        break;
    }
    case IDM_CONFIG:
        daemon.Configure();
        break;
    case IDM_HOSTS:
        daemon.EditHosts();
        break;
    case IDM_DNS:
        daemon.DNSLookup();
        break;
    case IDM_TEST:
        daemon.TestFunction();
        break;
    case IDM_CONTENTS:
        ShowHelp(hWnd);
        break;
    case IDM_ABOUT:
        DialogBoxParamA(Main::hInstance, "ABOUT_DIALOG", hWnd, AboutDlgProc, 0);
        break;
    default:
        break;
    }
}

void MainWindow::RequestServed() {
    ULONGLONG now = GetTickCount64();
    lastRequest = now;
    bandStale = true;
    if (!busy) {
        busy = true;
        SetWindowTextA(hWnd, "VrelFSPd active");
        SetTimer(hWnd, kBurstTimer, kBurstTick, nullptr);
    }
    // Here as well as on the tick: timer messages wait while datagrams keep
    // coming, and a flood must not freeze the count.
    if (now - lastRepaint >= kBandInterval) RepaintBand(now);
}

void MainWindow::BurstTick() {
    ULONGLONG now = GetTickCount64();
    if (bandStale && now - lastRepaint >= kBandInterval) RepaintBand(now);
    if (now - lastRequest < kQuietTime) return;
    // Quiet for longer than kBandInterval, so the band is already final.
    KillTimer(hWnd, kBurstTimer);
    busy = false;
    SetWindowTextA(hWnd, "VrelFSPd idle");
}

void MainWindow::RepaintBand(ULONGLONG now) {
    lastRepaint = now;
    bandStale = false;
    // The count and the address lie below the logo's line; the logo never
    // changes. At once, not when the queue is empty, which a flood delays.
    RECT texts = {0, 101, 32767, 32767};
    RedrawWindow(hWnd, &texts, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
}

void MainWindow::Paint() {
    PAINTSTRUCT ps;
    BeginPaint(hWnd, &ps);
    if (!logoTried) {
        logo = LoadBitmapA(Main::hInstance, "VRELLOGO");
        logoTried = true;
    }
    if (!font) font = MakeWindowFont(dpi);
    PaintWindow(hWnd, ps, logo, font, dpi, daemon.requestCount, daemon.clientAddr.sin_addr);
    EndPaint(hWnd, &ps);
}

void MainWindow::FitWindow(const RECT* suggested) {
    RECT frame;
    GetWindowRect(hWnd, &frame);
    if (suggested) frame = *suggested;
    // The window's own size at this scale, and the status bar's height
    // below the contents, which it must not cover.
    int height = Scaled(210);
    if (statusBar) {
        SendMessageA(statusBar, WM_SIZE, 0, 0);
        RECT bar;
        GetWindowRect(statusBar, &bar);
        height += bar.bottom - bar.top;
    }
    SetWindowPos(hWnd, nullptr, frame.left, frame.top, Scaled(362), height, SWP_NOZORDER | SWP_NOACTIVATE);
    if (statusBar) SendMessageA(statusBar, WM_SIZE, 0, 0);
}

void MainWindow::ShowStatus() {
    if (!statusBar) return;
    char text[sizeof(statusText)];
    fsp::FormatStatus(daemon.Status(), text, sizeof(text));
    if (std::strcmp(text, statusText) == 0) return;
    std::memcpy(statusText, text, sizeof(text));
    SendMessageA(statusBar, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(statusText));
}
