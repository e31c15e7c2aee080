// Stands in for netsh, which keeps no firewall rules under Wine: appends its
// command line, as a line, to the file VFSPD_RECORD names; exits 0.
#include <windows.h>

#include <cstdio>

int main() {
    char file[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("VFSPD_RECORD", file, sizeof(file));
    FILE* f = n && n < sizeof(file) ? std::fopen(file, "ab") : nullptr;
    if (!f) return 1;
    std::fprintf(f, "%s\n", GetCommandLineA());
    return std::fclose(f) == 0 ? 0 : 1;
}
