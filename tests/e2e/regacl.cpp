// Prints the access list of a key below HKEY_LOCAL_MACHINE in the system's
// text form (SDDL), so a test can see who may change it. Exits 1 when the
// key cannot be read.
//   regacl SOFTWARE\Quorvane\VrelFSPd
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    std::string name = std::string("MACHINE\\") + argv[1];
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (GetNamedSecurityInfoA(name.c_str(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                              nullptr, &sd) != ERROR_SUCCESS)
        return 1;
    char* text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text,
                                                              nullptr))
        return 1;
    std::printf("%s\n", text);
    LocalFree(text);
    LocalFree(sd);
    return 0;
}
