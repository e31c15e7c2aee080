// The benchmark's reference, the bare echo: a hidden window that receives
// through WSAAsyncSelect and message 1025 and answers every datagram at
// once, with no file system or window work at all: the fastest a
// GUI-thread UDP server can answer. Each answer has the size vfspd's reply
// to the same request would have (a version reply, a 1 KiB download block,
// an upload acknowledgement), so the network carries the same bytes. A
// download block is as large as the client asks in its extra data, up to
// vfspd's default packet size.
//   echo.exe PORT
#include <winsock2.h>
#include <windows.h>

#include <cstdlib>

namespace {
SOCKET sock = INVALID_SOCKET;
char buffer[12 + 4380];

// The size of vfspd's reply to a request with this command code.
int ReplySize(int n) {
    switch (static_cast<unsigned char>(buffer[0])) {
    case 0x10: return 12 + 38 + 1; // version text and flag byte
    case 0x42: {                   // a full download block
        int dataLength = (static_cast<unsigned char>(buffer[6]) << 8) | static_cast<unsigned char>(buffer[7]);
        int asked = n - 12 - dataLength >= 2
                        ? (static_cast<unsigned char>(buffer[12 + dataLength]) << 8) |
                              static_cast<unsigned char>(buffer[13 + dataLength])
                        : 0;
        return 12 + (asked == 0 ? 1024 : asked > 1452 ? 1452 : asked);
    }
    case 0x43: return 12;          // an upload acknowledgement
    default: return n;
    }
}

LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_USER + 1) {
        sockaddr_in from;
        int len = sizeof(from);
        int n = recvfrom(sock, buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n >= 12) sendto(sock, buffer, ReplySize(n), 0, reinterpret_cast<sockaddr*>(&from), len);
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
    HWND hwnd = CreateWindowExA(0, "VfspdEcho", "echo", WS_SYSMENU | WS_MINIMIZEBOX, 50, 150, 362, 210,
                                nullptr, nullptr, instance, nullptr);
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
    return 0;
}
