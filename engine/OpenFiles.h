// Files kept open between requests: a download reads block after block of
// one file, an upload writes piece after piece, and an open and a close per
// block cost more than the read or write itself. At most kMaxOpen files,
// each closed once unused for kIdleMs, and each opened shared for reading,
// writing and deletion, so that no delete, rename, install or outside
// program is ever kept from the file by the server holding it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "FileHandle.h"
#include "core/Paths.h"

class OpenFiles {
public:
    static constexpr size_t kMaxOpen = 16;
    static constexpr uint64_t kIdleMs = 1000;

    // The open handle of an existing file at path with the access asked
    // for (GENERIC_READ or GENERIC_WRITE), opening it when it is not open;
    // INVALID_HANDLE_VALUE when it cannot be opened. The handle stays this
    // table's: use it within the request.
    HANDLE Open(const char* path, DWORD access, uint64_t now);
    // Closes the entry of identity (fsys::Identity), in whatever spelling
    // it was opened, and whatever lies below it when it is a directory: it
    // was changed, and a handle kept would serve what it was before.
    void Drop(const std::string& identity);
    // Closes the file opened under exactly this path.
    void Close(const char* path);
    // Closes what was unused for kIdleMs.
    void Expire(uint64_t now);
    size_t Count() const;

private:
    struct Slot {
        char path[fsp::kMaxLocalPath] = {};
        std::string identity;
        DWORD access = 0;
        uint64_t lastUsed = 0;
        FileHandle file;
    };
    Slot slots[kMaxOpen];
};
