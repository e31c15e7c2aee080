// Asks every running vfspd window to close, as the close box does. Exits 0
// when at least one window was found.
//
// closewin --dismiss CAPTION instead presses OK on every message box with
// that caption, as an operator would, and prints each box's text on a line
// of its own; exits 0 when at least one box was found.
// closewin --acl KEY prints the access list of a key below
// HKEY_LOCAL_MACHINE as SDDL; exits 1 when it cannot be read.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <cstring>
#include <string>

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

int AccessList(const char* key) {
    std::string name = std::string("MACHINE\\") + key;
    PSECURITY_DESCRIPTOR sd = nullptr;
    char* text = nullptr;
    return GetNamedSecurityInfoA(name.c_str(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                                 nullptr, &sd) != ERROR_SUCCESS ||
           !ConvertSecurityDescriptorToStringSecurityDescriptorA(sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text,
                                                                 nullptr) ||
           std::printf("%s\n", text) < 0;
}
} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--dismiss") == 0) return Dismiss(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "--acl") == 0) return AccessList(argv[2]);
    int found = 0;
    for (HWND w = FindWindowA("VrelFSPd", nullptr); w; w = FindWindowExA(nullptr, w, "VrelFSPd", nullptr)) {
        PostMessageA(w, WM_CLOSE, 0, 0);
        ++found;
    }
    return found ? 0 : 1;
}
