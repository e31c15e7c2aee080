// The benchmark's references: a window that receives through WSAAsyncSelect
// and message 1025 and answers every datagram at once, with no file system
// work at all. Each answer has the size vfspd's reply to the same request
// would have (a version reply, a 1 KiB download block, an upload
// acknowledgement), so the network carries the same bytes.
//
//   echo.exe PORT        the bare echo: the fastest a GUI-thread UDP server
//                        can answer
//   echo.exe PORT floor  the floor: the same, plus the window work vfspd
//                        does for every datagram: the same window (class,
//                        menu, size), its caption set to "VrelFSPd active"
//                        while the datagram is served and back to
//                        "VrelFSPd idle", and the band with the request
//                        count invalidated and repainted, background
//                        cleared. vfspd can come close to it, never pass it.
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../ui/WindowPaint.h"

namespace {
SOCKET sock = INVALID_SOCKET;
char buffer[1036];
bool floorMode = false;
unsigned long requestCount = 0;
sockaddr_in lastClient = {};
HBITMAP logo = nullptr;
HFONT font = nullptr;

// The size of vfspd's reply to a request with this command code.
int ReplySize(int n) {
    switch (static_cast<unsigned char>(buffer[0])) {
    case 0x10: return 12 + 38 + 1; // version text and flag byte
    case 0x42: return 12 + 1024;   // a full download block
    case 0x43: return 12;          // an upload acknowledgement
    default: return n;
    }
}

// The datagram: read, answered, counted.
void Serve() {
    sockaddr_in from;
    int len = sizeof(from);
    int n = recvfrom(sock, buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 12) return;
    ++requestCount;
    lastClient = from;
    sendto(sock, buffer, ReplySize(n), 0, reinterpret_cast<sockaddr*>(&from), len);
}

// What vfspd's window paints, with vfspd's own code.
void Paint(HWND hwnd) {
    PAINTSTRUCT ps;
    BeginPaint(hwnd, &ps);
    if (!font) font = MakeWindowFont();
    PaintWindow(hwnd, ps, logo, font, requestCount, lastClient.sin_addr);
    EndPaint(hwnd, &ps);
}

LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_USER + 1:
        if (!floorMode) {
            Serve();
            return 0;
        }
        SetWindowTextA(hwnd, "VrelFSPd active");
        Serve();
        {
            // As vfspd: the band alone, not erased (Paint clears it).
            RECT band = {0, 101, 32767, 32767};
            InvalidateRect(hwnd, &band, FALSE);
        }
        SetWindowTextA(hwnd, "VrelFSPd idle");
        return 0;
    case WM_PAINT:
        if (!floorMode) break;
        Paint(hwnd);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}
} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR cmdLine, int show) {
    floorMode = std::strstr(cmdLine, "floor") != nullptr;
    // vfspd's window class and window, from vfspd's own resources.
    WNDCLASSA wc = {};
    wc.style = CS_VREDRAW | CS_HREDRAW | CS_BYTEALIGNWINDOW;
    wc.lpfnWndProc = Proc;
    wc.cbWndExtra = sizeof(LONG_PTR);
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, "FSPD_ICON");
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_MENU + 1);
    wc.lpszMenuName = floorMode ? "FSPD_MENU" : nullptr;
    wc.lpszClassName = "VfspdEcho";
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowExA(0, "VfspdEcho", floorMode ? "VrelFSPd idle" : "echo",
                                WS_SYSMENU | WS_MINIMIZEBOX, 50, 150, 362, 210, nullptr, nullptr,
                                instance, nullptr);
    if (floorMode) {
        logo = LoadBitmapA(instance, "VRELLOGO");
        ShowWindow(hwnd, show);
        UpdateWindow(hwnd);
    }
    WSADATA wsa;
    WSAStartup(MAKEWORD(1, 1), &wsa);
    sock = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<u_short>(std::atoi(cmdLine)));
    if (bind(sock, reinterpret_cast<sockaddr*>(&local), sizeof(local)) == SOCKET_ERROR) return 1;
    WSAAsyncSelect(sock, hwnd, WM_USER + 1, FD_READ);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    closesocket(sock);
    WSACleanup();
    if (logo) DeleteObject(logo);
    if (font) DeleteObject(font);
    return 0;
}
