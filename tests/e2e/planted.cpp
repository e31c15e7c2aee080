// A DLL as a client with upload rights might plant beside vfspd.exe: when
// any process loads it, it leaves the file "planted-ran" beside itself.
#include <windows.h>

#include <cstring>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
    while (n > 0 && path[n - 1] != '\\') --n;
    if (n == 0 || n + sizeof("planted-ran") > sizeof(path)) return TRUE;
    std::memcpy(path + n, "planted-ran", sizeof("planted-ran"));
    HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    return TRUE;
}
