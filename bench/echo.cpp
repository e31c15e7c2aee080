// The platform's limit for a request-reply server on the GUI thread: a
// window that receives through WSAAsyncSelect and message 1025 and sends
// every datagram straight back, with no file system work at all.
// Usage: echo.exe PORT
#include <winsock2.h>
#include <windows.h>

#include <cstdlib>

namespace {
SOCKET sock = INVALID_SOCKET;
char buffer[1036];

LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_USER + 1) {
        sockaddr_in from;
        int len = sizeof(from);
        int n = recvfrom(sock, buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n > 0) sendto(sock, buffer, n, 0, reinterpret_cast<sockaddr*>(&from), len);
        return 0;
    }
    if (msg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}
} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR cmdLine, int) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = Proc;
    wc.hInstance = instance;
    wc.lpszClassName = "VfspdEcho";
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowA("VfspdEcho", "echo", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                              nullptr, instance, nullptr);
    WSADATA wsa;
    WSAStartup(MAKEWORD(1, 1), &wsa);
    sock = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<u_short>(std::atoi(cmdLine)));
    bind(sock, reinterpret_cast<sockaddr*>(&local), sizeof(local));
    WSAAsyncSelect(sock, hwnd, WM_USER + 1, FD_READ);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    closesocket(sock);
    WSACleanup();
    return 0;
}
