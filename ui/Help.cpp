#include "Help.h"

#include <cstdio>
#include <cstring>

namespace {
const char kHelpFile[] = "VFSPD.CHM";
constexpr UINT kDisplayToc = 0x0001; // HH_DISPLAY_TOC
using HtmlHelpProc = HWND(WINAPI*)(HWND, LPCSTR, UINT, DWORD_PTR);

constexpr UINT kCloseAll = 0x0012;  // HH_CLOSE_ALL
HMODULE viewerModule = nullptr;

// The viewer's entry, loaded when first needed (load), else only when it is.
HtmlHelpProc Viewer(bool load = true) {
    // From the system directory only, as the 3-D controls are: a bare name
    // searches the program's folder and the working directory first.
    if (!viewerModule && load) viewerModule = LoadLibraryExA("hhctrl.ocx", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return viewerModule ? reinterpret_cast<HtmlHelpProc>(
                              reinterpret_cast<void*>(GetProcAddress(viewerModule, "HtmlHelpA")))
                        : nullptr;
}

// The help file beside the program, by full path: a bare name would open
// one in the working directory, which may be a client's upload.
int ProgramHelpFile(char* path) {
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return 0;
    char* slash = std::strrchr(path, '\\');
    size_t folder = slash ? static_cast<size_t>(slash - path + 1) : 0;
    if (folder + sizeof(kHelpFile) > MAX_PATH) return 0;
    std::memcpy(path + folder, kHelpFile, sizeof(kHelpFile));
    return 1;
}
} // namespace

void ShowHelp(HWND owner, const char* path) {
    char own[MAX_PATH] = "";
    if (!path) {
        path = own;
        if (!ProgramHelpFile(own)) std::snprintf(own, sizeof(own), "%s beside the program", kHelpFile);
    }
    char text[MAX_PATH + 160];
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) {
        std::snprintf(text, sizeof(text), "The help file was not found. It was looked for at:\n\n%s", path);
    } else {
        HtmlHelpProc htmlHelp = Viewer();
        if (htmlHelp && htmlHelp(owner, path, kDisplayToc, 0)) return;
        std::snprintf(text, sizeof(text),
                      "The help viewer (hhctrl.ocx in the system directory) could not show\n\n%s", path);
    }
    MessageBoxA(owner, text, "VrelFSPd", MB_OK | MB_ICONEXCLAMATION);
}

void CloseHelp() {
    // A viewer left open would outlive the program, showing help for a
    // server that has ended.
    if (HtmlHelpProc htmlHelp = Viewer(false)) htmlHelp(nullptr, nullptr, kCloseAll, 0);
}
