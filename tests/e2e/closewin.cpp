// Asks every running vfspd window to close, as the close box does. Exits 0
// when at least one window was found.
//
// closewin --dismiss CAPTION instead presses OK on every message box with
// that caption, as an operator would, and prints each box's text on a line
// of its own; exits 0 when at least one box was found.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {
// The message text of a box: its static control with the most text (the
// icon is a static control without any).
BOOL CALLBACK FindText(HWND child, LPARAM out) {
    char cls[32] = {};
    GetClassNameA(child, cls, sizeof(cls));
    if (lstrcmpiA(cls, "Static") != 0) return TRUE;
    char text[512] = {};
    GetWindowTextA(child, text, sizeof(text));
    char* best = reinterpret_cast<char*>(out);
    if (std::strlen(text) > std::strlen(best)) std::memcpy(best, text, sizeof(text));
    return TRUE;
}

int Dismiss(const char* caption) {
    int found = 0;
    // A dismissed box may linger for a moment; never count one twice.
    HWND seen[64];
    for (HWND w = FindWindowA("#32770", caption); w && found < 64;
         w = FindWindowExA(nullptr, w, "#32770", caption)) {
        bool again = false;
        for (int i = 0; i < found; ++i) again = again || seen[i] == w;
        if (again) break;
        char text[512] = {};
        EnumChildWindows(w, FindText, reinterpret_cast<LPARAM>(text));
        std::printf("%s\n", text);
        PostMessageA(w, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        seen[found++] = w;
    }
    std::fflush(stdout);
    return found ? 0 : 1;
}
} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--dismiss") == 0) return Dismiss(argv[2]);
    int found = 0;
    for (HWND w = FindWindowA("VrelFSPd", nullptr); w; w = FindWindowExA(nullptr, w, "VrelFSPd", nullptr)) {
        PostMessageA(w, WM_CLOSE, 0, 0);
        ++found;
    }
    return found ? 0 : 1;
}
