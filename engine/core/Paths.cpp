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

int BuildLocalPath(char* out, const char* root, const char* requestPath) {
    out[0] = '\0';
    size_t r = std::strlen(root);
    size_t q = std::strlen(requestPath);
    // No file name holds a colon; in a request it could only name another
    // drive or a hidden stream of a file.
    if (std::strchr(requestPath, ':')) return 0;
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

} // namespace fsp
