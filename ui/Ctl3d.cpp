#include "Ctl3d.h"

namespace {
HMODULE Library() {
    // From the system directory only: a bare name searches the program's
    // own folder first, where anyone who may write there (a client with
    // upload rights, when the root holds it) could put a DLL of their own.
    // Without that search mode (an unpatched Windows 7) the plain controls
    // serve.
    static HMODULE module = LoadLibraryExA("ctl3d32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
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
