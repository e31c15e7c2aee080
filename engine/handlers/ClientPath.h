// Log lines that quote the path a client sent.
#pragma once

#include <cstdio>

#include "../FSPDaemon.h"

// Logs format (one %s) with the request's path as the client sent it:
// the data up to its NUL, and never past the bytes that arrived, so a
// name without a terminator is quoted as far as it went.
inline void LogClientPath(FSPDaemon& d, const char* format) {
    const char* sent = d.data ? reinterpret_cast<const char*>(d.data) : "";
    char path[fsp::kMaxPayload + 1];
    std::snprintf(path, sizeof(path), "%.*s", int(d.dataLength), sent);
    d.LogClientf(format, path);
}
