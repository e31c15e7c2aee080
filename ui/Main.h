// Application globals and the message loop.
#pragma once

#include <windows.h>

class Main {
public:
    static HWND hMainWindow;
    static HINSTANCE hInstance;
    static HINSTANCE hPrevInstance;
    static int nCmdShow;
    static WPARAM MessageLoop();
};
