// The program's entry point.
#include "Ctl3d.h"
#include "Main.h"
#include "MainWindow.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR, int nCmdShow) {
    Main::hInstance = hInstance;
    Main::hPrevInstance = hPrevInstance;
    Main::nCmdShow = nCmdShow;
    Ctl3dRegister(hInstance);
    Ctl3dAutoSubclass(hInstance);
    if (!MainWindow::RegisterWindowClass(hInstance)) ExitProcess(0);
    int result;
    {
        MainWindow window;
        result = static_cast<int>(Main::MessageLoop());
        Ctl3dUnregister(hInstance);
    }
    return result;
}
