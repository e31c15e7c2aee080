// Turning a client's FSP path into a local path under the served root.
// Platform-free.
#pragma once

#include <cstddef>

namespace fsp {

constexpr int kMaxPath = 260; // the platform's path limit, NUL included

// Normalises in place: '/' becomes '\', one trailing and then one leading
// backslash are removed. Returns the path, or null (unchanged) when empty.
char* CleanPath(char* path);

// Builds root + request path, normalised by CleanPath, into out
// (kMaxPath bytes). A root without its final backslash gets one between
// the two, so a request can never reach a sibling of the root. Returns 0,
// leaving out empty, when the result would not fit or holds "..", or
// the request path holds a colon, a device name (CON, NUL, COM1, lpt1.txt
// ...) or a name that ends in a dot or a blank.
int BuildLocalPath(char* out, const char* root, const char* requestPath);

// Whether a request path names an entry below the root: 0 for an empty
// path and for one of separators only, which name the root itself. The
// root may be listed but is never fetched, made, removed or replaced.
int NamesEntry(const char* requestPath);

} // namespace fsp
