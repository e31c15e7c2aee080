// Turning a client's FSP path into a local path under the served root.
// Platform-free.
#pragma once

#include <cstddef>

namespace fsp {

constexpr int kMaxPath = 260; // the platform's plain path limit, NUL included: roots, the log
// A local path built from a request: the root and up to a whole request's
// worth of names (the file system layer gives long ones in the \\?\ form).
constexpr int kMaxLocalPath = 2048;

// The folder, below the server's working directory, that holds unfinished
// uploads. Its name is a plain 8.3 name, so the platform knows it by no
// other (short) name, and no request path may hold it as a component:
// whatever the root, no client can list, fetch or replace what lies there.
// The uninstaller removes it by this name (installer/vfspd.nsi).
constexpr char kUploadFolder[] = "UPLOADS.FSP";

// The hidden names an install that copies across volumes writes first
// (prefix, 16 hexadecimal digits, suffix) beside its target. No request path
// may name one, in any case.
constexpr char kHiddenCopyPrefix[] = ".vfspd-";
constexpr char kHiddenCopySuffix[] = ".part";

// The access files of a directory all begin so (core/Policy.h), and its
// readme has this name. No request path may name either, in any case:
// they are the operator's, as the server reads them.
constexpr char kAccessFilePrefix[] = ".FSP_";
constexpr char kReadmeName[] = ".README";

// Whether a root can be served: a drive letter, a colon and a backslash,
// or a UNC share \\server\share; no ".." name; and room for its final
// backslash within kMaxPath. kRootRule says so to the operator.
int UsableRoot(const char* root);
extern const char kRootRule[];

// Normalises in place: '/' becomes '\', one trailing and then one leading
// backslash are removed. Returns the path, or null (unchanged) when empty.
char* CleanPath(char* path);

// Builds the local path of a request path into out (kMaxLocalPath bytes): the
// root, then the path's names joined by '\'. Either slash separates names;
// empty names and "." stand for the directory they are in, so "", "/" and
// "./" name the root itself, which is then given as it stands. Returns 0,
// leaving out empty, when there is no root, when the result would not fit,
// or when the request path is not valid UTF-8 or holds a ".." name, a
// character no file name may hold (a colon, a wildcard, a control
// character), a device name (CON, NUL, COM1, lpt1.txt ...), a name that
// ends in a dot or a blank, or a name the server keeps for itself
// (ReservedName). The root itself is the operator's and is not judged.
int BuildLocalPath(char* out, const char* root, const char* requestPath);

// Whether a name is one the server keeps for itself, in any case: the
// upload folder's, a hidden copy's (kHiddenCopyPrefix ... kHiddenCopySuffix),
// an access file's (kAccessFilePrefix ...) or the readme's.
int ReservedName(const char* name);

// Whether a request path names an entry below the root: 0 for a path of
// separators and "." names only, which name the root itself. The root may
// be listed but is never fetched, made, removed or replaced.
int NamesEntry(const char* requestPath);

} // namespace fsp
