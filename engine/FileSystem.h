// Every call the server makes on the served tree and on its upload folder
// goes through here, as one table of system calls: the engine works in
// UTF-8 paths, this side turns them into the platform's wide names (with
// the \\?\ form where a path is too long for the plain one), retries what
// another program holds for a moment, and lets tests make any call fail
// with an error of their choosing. The rule of when two spellings name one
// entry lives here too (Identity), so that every table that remembers a
// path compares the way the file system does.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

namespace fsys {

// The calls of the table, by which a test names the one to fail.
enum class Call {
    Open,
    Read,
    Write,
    Seek,
    SetEnd,
    SetTime,
    Attributes,
    SetAttributes,
    Find,
    Move,   // the plain rename (MoveFileExW)
    Delete, // the plain delete (DeleteFileW)
    // Renames and deletes through a handle with POSIX semantics
    // (SetFileInformationByHandle, FileRenameInfoEx and FileDispositionInfoEx),
    // tried first: a test fails a rename or a delete as a whole by failing
    // both ways, and makes a file system without POSIX semantics by failing
    // this one.
    PosixMove,
    PosixDelete,
    MakeDir,
    RemoveDir,
    FreeSpace,
    Security,
    kCount
};

// Makes the next `times` calls of `call` (every one for times < 0) whose
// path holds pathPart (any path when null or empty; calls on a handle have
// no path and match only an empty part) fail with error, as if the system
// had answered so; with `when`, only the calls made while it holds (a test
// makes a call refuse what Windows refuses, such as replacing a file that
// is open). For tests: the program itself never sets a fault.
void InjectFault(Call call, DWORD error, int times = -1, const char* pathPart = nullptr,
                 std::function<bool()> when = nullptr);
void ClearFaults();
// Makes every call of `call` take ms longer (a slow volume), until cleared.
void InjectDelay(Call call, DWORD ms);

// What lets go of the handles the server keeps open at or below a path:
// called before a rename or a delete that has to go the plain way, which
// Windows refuses (or leaves pending) while anyone holds the entry open.
// One at a time: set by the server (owner), and cleared with nullptr by
// the owner that set it. Called only on the thread that set it.
using LetGo = std::function<void(const char* path)>;
void SetLetGo(const void* owner, LetGo letGo);

// How long a sharing or lock violation (a virus scanner, an indexer, a
// backup holding the file for a moment) is retried before it counts.
constexpr DWORD kRetryMs = 100;

// The wide form of a UTF-8 path for the system: false when the bytes are
// not UTF-8. A path of kLongFrom characters or more is made absolute and
// given in the \\?\ form, which has no MAX_PATH limit.
constexpr size_t kLongFrom = 248;
bool Wide(const char* path, std::wstring* out);
// UTF-8 of a wide name; false when it does not fit.
bool Narrow(const wchar_t* name, char* out, size_t size);

HANDLE Open(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags);
bool Read(HANDLE file, void* buffer, DWORD n, DWORD* got);
// The whole of n bytes, or false.
bool Write(HANDLE file, const void* data, DWORD n);
bool Seek(HANDLE file, uint64_t position);
bool SetEnd(HANDLE file);
bool SetWriteTime(HANDLE file, const FILETIME& time);
// The size and attributes of an open file.
bool Information(HANDLE file, BY_HANDLE_FILE_INFORMATION* out);
bool Attributes(const char* path, WIN32_FILE_ATTRIBUTE_DATA* out);
// INVALID_FILE_ATTRIBUTES when the entry cannot be looked at.
DWORD AttributeBits(const char* path);
bool SetAttributes(const char* path, DWORD attributes);
// Deletes a file. With POSIX semantics where the file system has them: the
// name is free at once, and whoever has the file open reads on from it.
// Elsewhere what the server holds open is let go first (SetLetGo), so the
// delete never leaves the name pending. A delete that works leaves the
// last error as it was, so that cleaning up after a failure keeps its cause.
bool Delete(const char* path);
bool MakeDirectory(const char* path);
bool RemoveDir(const char* path);
// Renames from to to, replacing a file there only when replace, in one
// step. With POSIX semantics where the file system has them, so that a file
// open elsewhere is replaced or renamed all the same and its readers read
// on from it; elsewhere what the server holds open at either path (or
// below a folder) is let go first: Windows neither replaces a file that is
// open nor renames a folder with an open file below it. A rename that
// changes only the case of a name goes through a temporary name: some file
// systems report success for it and change nothing.
bool Move(const char* from, const char* to, bool replace);
// Through a handle opened with DELETE access: the entry is renamed (the
// handle follows it wherever it is), or marked to go when its last handle
// is closed. Faults of Move and Delete with no path part apply.
bool RenameOpen(HANDLE file, const char* to, bool replace);
bool DeleteOpen(HANDLE file);
// The path of an open entry with every link resolved, as UTF-8.
bool FinalPath(HANDLE file, char* out, size_t size);
bool FreeSpace(const char* folder, uint64_t* available, uint64_t* total);
// Gives the entry the permissions its folder passes on to new entries,
// in place of any it carried from where it was made.
bool InheritPermissions(const char* path);
// The absolute form of a path relative to the working directory.
bool FullPath(const char* path, char* out, size_t size);

// One entry of a directory being enumerated.
struct Found {
    char name[MAX_PATH * 3 + 1]; // UTF-8 of up to MAX_PATH wide characters
    DWORD attributes;
    uint64_t size;
    FILETIME writeTime;
};

// A find-first/find-next enumeration of a directory's entries, closed on
// every path. Names that cannot be given as UTF-8 are skipped.
class Finder {
public:
    Finder() = default;
    ~Finder();
    Finder(const Finder&) = delete;
    Finder& operator=(const Finder&) = delete;
    // Starts on the directory at dir; false when it cannot be enumerated.
    bool Start(const char* dir);
    // The next entry, or false at the end.
    bool Next(Found* out);

private:
    HANDLE find = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAW data = {};
    bool pending = false;
};

// The name under which the file system knows the entry at path: short
// (8.3) names resolved to long ones and every letter in the case the file
// system ignores, so that two paths have equal identities exactly when
// they name one entry. Computed while the entry exists: a short name of an
// entry that is gone names nothing. Empty when path is not UTF-8.
std::string Identity(const char* path);
// Whether the entry with identity inner is outer itself or lies below it.
bool AtOrBelow(const std::string& inner, const std::string& outer);

} // namespace fsys
