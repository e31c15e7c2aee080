// Asks every running vfspd window to close, as the close box does. Exits 0
// when at least one window was found.
#include <windows.h>

int main() {
    int found = 0;
    for (HWND w = FindWindowA("VrelFSPd", nullptr); w; w = FindWindowExA(nullptr, w, "VrelFSPd", nullptr)) {
        PostMessageA(w, WM_CLOSE, 0, 0);
        ++found;
    }
    return found ? 0 : 1;
}
