// A DLL as a client with upload rights might plant beside vfspd.exe: when
// a process loads it, it leaves the file "planted-ran" in the process's
// working directory.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH)
        CloseHandle(CreateFileA("planted-ran", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    return TRUE;
}
