#include "Paths.h"

#include <cstring>

#include "Utf8.h"

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

bool SameNameIgnoringCase(const char* name, size_t n, const char* other) {
    if (std::strlen(other) != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (Upper(name[i]) != Upper(other[i])) return false;
    return true;
}

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

bool StartsIgnoringCase(const char* name, size_t n, const char* part) {
    size_t m = std::strlen(part);
    return m <= n && SameNameIgnoringCase(name, m, part);
}

// A name an install uses for its copy across volumes, in any case.
bool IsHiddenCopy(const char* name, size_t n) {
    size_t suffix = std::strlen(kHiddenCopySuffix);
    return n >= std::strlen(kHiddenCopyPrefix) + suffix &&
           StartsIgnoringCase(name, n, kHiddenCopyPrefix) &&
           SameNameIgnoringCase(name + n - suffix, suffix, kHiddenCopySuffix);
}

bool Reserved(const char* name, size_t n) {
    return SameNameIgnoringCase(name, n, kUploadFolder) || IsHiddenCopy(name, n) ||
           StartsIgnoringCase(name, n, kAccessFilePrefix) || SameNameIgnoringCase(name, n, kReadmeName);
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// A name that stands for the directory it is in: "" (between two
// separators) or ".".
bool IsHere(const char* name, size_t n) { return n == 0 || (n == 1 && name[0] == '.'); }

// Whether a name may be handed to the file system as itself. ".." would
// climb out; the platform drops dots and blanks at the end of a name ("f."
// and "f " open "f", "sub./x" opens "sub\x"), so such a name would reach
// another entry than the one asked for; a device name reaches a device; no
// file name holds a colon (another drive, or a stream of a file), a
// wildcard or a control character.
bool NameAllowed(const char* name, size_t n) {
    if (n == 2 && name[0] == '.' && name[1] == '.') return false;
    if (name[n - 1] == '.' || name[n - 1] == ' ') return false;
    for (size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || std::strchr(":*?\"<>|", c)) return false;
    }
    if (IsDeviceName(name, name + n)) return false;
    return !Reserved(name, n);
}
} // namespace

int ReservedName(const char* name) { return Reserved(name, std::strlen(name)) ? 1 : 0; }

int BuildLocalPath(char* out, const char* root, const char* requestPath) {
    out[0] = '\0';
    size_t r = std::strlen(root);
    if (r == 0 || r >= size_t(kMaxPath)) return 0;
    if (!IsUtf8(reinterpret_cast<const unsigned char*>(requestPath), std::strlen(requestPath)))
        return 0;
    std::memcpy(out, root, r + 1);
    size_t w = r;
    for (const char* p = requestPath; *p;) {
        const char* end = p;
        while (*end && !IsSeparator(*end)) ++end;
        size_t n = size_t(end - p);
        if (!IsHere(p, n)) {
            // A separator between root and name, and between names.
            bool sep = w > 0 && !IsSeparator(out[w - 1]);
            if (!NameAllowed(p, n) || w + (sep ? 1 : 0) + n >= size_t(kMaxLocalPath)) {
                out[0] = '\0';
                return 0;
            }
            if (sep) out[w++] = '\\';
            std::memcpy(out + w, p, n);
            w += n;
            out[w] = '\0';
        }
        p = *end ? end + 1 : end;
    }
    return 1;
}

int NamesEntry(const char* requestPath) {
    for (const char* p = requestPath; *p;) {
        const char* end = p;
        while (*end && !IsSeparator(*end)) ++end;
        if (!IsHere(p, size_t(end - p))) return 1;
        p = *end ? end + 1 : end;
    }
    return 0;
}

const char kRootRule[] =
    "a full path, a drive letter and a backslash (C:\\files) or a UNC share "
    "(\\\\server\\share), without a \"..\" name and of at most 258 characters besides a "
    "final backslash";

int UsableRoot(const char* root) {
    size_t n = std::strlen(root);
    // Start-up puts a backslash on, and it must fit.
    if (n == 0 || n + (root[n - 1] == '\\' ? 0 : 1) > size_t(kMaxPath) - 1) return 0;
    // A ".." name would climb out of the folder the root seems to name.
    for (const char* p = root; *p;) {
        size_t name = std::strcspn(p, "\\/");
        if (name == 2 && p[0] == '.' && p[1] == '.') return 0;
        p += name + (p[name] ? 1 : 0);
    }
    char drive = char(root[0] & ~0x20);
    if (drive >= 'A' && drive <= 'Z' && root[1] == ':' && root[2] == '\\')
        return std::strchr(root + 2, ':') ? 0 : 1; // a later colon names a stream
    // \\server\share, but not the device namespaces \\.\ and \\?\.
    if (root[0] != '\\' || root[1] != '\\' || std::strchr(root, ':')) return 0;
    const char* server = root + 2;
    size_t s = std::strcspn(server, "\\");
    if (s == 0 || server[s] != '\\' || (s == 1 && (server[0] == '.' || server[0] == '?'))) return 0;
    const char* share = server + s + 1;
    return share[0] && share[0] != '\\' ? 1 : 0;
}

} // namespace fsp
