// Holds a file open with no sharing, as another program can, so that the
// server meets a file it may not open, replace or delete.
//
// holdfile FILE MARKER: opens FILE for reading and writing with share mode
// 0, then creates MARKER to say it holds it, and keeps the file open until
// MARKER is deleted (or two minutes pass). Exits 0 after holding it, 2 when
// FILE could not be opened, 3 when MARKER could not be made.
// holdfile --short FILE: prints the short (8.3) form of FILE's last name.
#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    char name[MAX_PATH];
    if (argc == 3 && !std::strcmp(argv[1], "--short")) return GetShortPathNameA(argv[2], name, MAX_PATH) ? !std::printf("%s", std::strrchr(name, '\\') + 1) : 4;
    if (argc != 3) return 1;
    HANDLE held = CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) return 2;
    HANDLE marker = CreateFileA(argv[2], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker == INVALID_HANDLE_VALUE) {
        CloseHandle(held);
        return 3;
    }
    CloseHandle(marker);
    for (DWORD start = GetTickCount(); GetTickCount() - start < 120000;) {
        if (GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES) break;
        Sleep(20);
    }
    CloseHandle(held);
    return 0;
}
