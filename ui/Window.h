// A window object: the class's static procedure finds the object through
// the window's pointer-sized extra bytes and forwards every message to it.
#pragma once

#include <windows.h>

class Window {
public:
    virtual ~Window() = default;
    virtual LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) = 0;

    HWND hWnd = nullptr;

    static LRESULT CALLBACK StaticWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
};
