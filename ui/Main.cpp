#include "Ctl3d.h"
#include "Main.h"
#include "MainWindow.h"

HWND Main::hMainWindow = nullptr;
HINSTANCE Main::hInstance = nullptr;
HINSTANCE Main::hPrevInstance = nullptr;
int Main::nCmdShow = SW_SHOWNORMAL;

WPARAM Main::MessageLoop() {
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return msg.wParam;
}
