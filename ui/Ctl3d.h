// The three-dimensional controls library, loaded at run time when present;
// without it every call does nothing and the plain controls serve.
#pragma once

#include <windows.h>

BOOL Ctl3dRegister(HINSTANCE instance);
BOOL Ctl3dAutoSubclass(HINSTANCE instance);
BOOL Ctl3dUnregister(HINSTANCE instance);
BOOL Ctl3dColorChange();
BOOL Ctl3dSubclassDlgEx(HWND dialog, DWORD flags);
HBRUSH Ctl3dCtlColorEx(UINT msg, WPARAM wParam, LPARAM lParam);
