#include "Paths.h"

#include <cstring>

namespace fsp {

char* CleanPath(char* path) {
    size_t n = std::strlen(path);
    if (n == 0) return nullptr;
    for (size_t i = 0; i < n; ++i)
        if (path[i] == '/') path[i] = '\\';
    if (path[n - 1] == '\\') path[--n] = '\0';
    if (path[0] == '\\') std::memmove(path, path + 1, n); // moves the NUL too
    return path;
}

namespace {
char Upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

// Whether the name [name, end) is one of the platform's device names,
// which name the device in every directory: CON, PRN, AUX, NUL, COM1 to
// COM9, LPT1 to LPT9, in any case, also with an extension ("nul.txt") and
// with blanks before it.
bool IsDeviceName(const char* name, const char* end) {
    const char* stem = name;
    while (stem < end && *stem != '.') ++stem;
    while (stem > name && stem[-1] == ' ') --stem;
    size_t n = size_t(stem - name);
    if (n != 3 && n != 4) return false;
    char u[4];
    for (size_t i = 0; i < n; ++i) u[i] = Upper(name[i]);
    if (n == 3) {
        static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL"};
        for (const char* d : kDevices)
            if (std::memcmp(u, d, 3) == 0) return true;
        return false;
    }
    return (std::memcmp(u, "COM", 3) == 0 || std::memcmp(u, "LPT", 3) == 0) && u[3] >= '1' &&
           u[3] <= '9';
}

// Whether every name along a request path stands for itself. The
// platform drops dots and blanks at the end of a name ("f." and "f " open
// "f", "sub./x" opens "sub\x"), so such a name would reach another entry
// than the one asked for; a device name reaches a device, not a file.
bool NamesStandForThemselves(const char* path) {
    const char* p = path;
    while (*p) {
        const char* end = p;
        while (*end && *end != '/' && *end != '\\') ++end;
        if (end > p && (end[-1] == '.' || end[-1] == ' ' || IsDeviceName(p, end))) return false;
        p = *end ? end + 1 : end;
    }
    return true;
}
} // namespace

int BuildLocalPath(char* out, const char* root, const char* requestPath) {
    out[0] = '\0';
    size_t r = std::strlen(root);
    size_t q = std::strlen(requestPath);
    // No file name holds a colon; in a request it could only name another
    // drive or a hidden stream of a file.
    if (std::strchr(requestPath, ':')) return 0;
    if (!NamesStandForThemselves(requestPath)) return 0;
    bool sep = r > 0 && root[r - 1] != '\\';
    if (r + (sep ? 1 : 0) + q >= size_t(kMaxPath)) return 0;
    std::memcpy(out, root, r);
    if (sep) out[r++] = '\\';
    std::memcpy(out + r, requestPath, q + 1);
    CleanPath(out);
    if (std::strstr(out, "..")) {
        out[0] = '\0';
        return 0;
    }
    return 1;
}

int NamesEntry(const char* requestPath) {
    for (const char* p = requestPath; *p; ++p)
        if (*p != '/' && *p != '\\') return 1;
    return 0;
}

} // namespace fsp
