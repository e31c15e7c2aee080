// Stands in for a system program the setup program runs, whose effect a
// test cannot see under Wine (netsh keeps no firewall rules there): appends
// its command line, as a line, to the file VFSPD_RECORD names, and exits 0.
#include <windows.h>

#include <cstdio>

int main() {
    char file[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("VFSPD_RECORD", file, sizeof(file));
    if (n == 0 || n >= sizeof(file)) return 1;
    FILE* f = std::fopen(file, "ab");
    if (!f) return 1;
    std::fprintf(f, "%s\n", GetCommandLineA());
    return std::fclose(f) == 0 ? 0 : 1;
}
