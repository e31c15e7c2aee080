#include "Ctl3d.h"

namespace {
HMODULE Library() {
    static HMODULE module = LoadLibraryA("ctl3d32.dll");
    return module;
}

template <typename F>
F Entry(const char* name) {
    HMODULE m = Library();
    return m ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(m, name))) : nullptr;
}
} // namespace

BOOL Ctl3dRegister(HINSTANCE instance) {
    static auto f = Entry<BOOL(WINAPI*)(HINSTANCE)>("Ctl3dRegister");
    return f ? f(instance) : FALSE;
}

BOOL Ctl3dAutoSubclass(HINSTANCE instance) {
    static auto f = Entry<BOOL(WINAPI*)(HINSTANCE)>("Ctl3dAutoSubclass");
    return f ? f(instance) : FALSE;
}

BOOL Ctl3dUnregister(HINSTANCE instance) {
    static auto f = Entry<BOOL(WINAPI*)(HINSTANCE)>("Ctl3dUnregister");
    return f ? f(instance) : FALSE;
}

BOOL Ctl3dColorChange() {
    static auto f = Entry<BOOL(WINAPI*)()>("Ctl3dColorChange");
    return f ? f() : FALSE;
}

BOOL Ctl3dSubclassDlgEx(HWND dialog, DWORD flags) {
    static auto f = Entry<BOOL(WINAPI*)(HWND, DWORD)>("Ctl3dSubclassDlgEx");
    return f ? f(dialog, flags) : FALSE;
}

HBRUSH Ctl3dCtlColorEx(UINT msg, WPARAM wParam, LPARAM lParam) {
    static auto f = Entry<HBRUSH(WINAPI*)(UINT, WPARAM, LPARAM)>("Ctl3dCtlColorEx");
    return f ? f(msg, wParam, lParam) : nullptr;
}
