// Files kept open between requests: a download reads block after block of
// one file, an upload writes piece after piece, and an open and a close per
// block cost more than the read or write itself.
//
// A download is one client's run of reads of one path (by its identity,
// fsys::Identity, so any spelling), begun by a read at position 0 or by one
// after kIdleMs without a read of it. Every block of a run is read from the
// file the path named when the run began: a run keeps its file's handle
// and what makes the file itself (volume, file index, size, time), so that
// a block read after its handle was closed (at the end of the file, to
// make room, or to let a change go through) is read again only from that
// same file, and is refused once another file, or none, has the name. A new
// run, and every other client's, opens what the path names now.
//
// What Windows does with a file open here: every handle shares reading,
// writing and deletion, so outside programs can write, rename and delete
// it; but a plain delete then leaves the name pending (taken) until the
// last handle closes, and a plain rename cannot replace it nor move a
// folder above it. The server's own changes therefore use POSIX semantics,
// which free the name at once while a run reads on from its file, and
// where the file system has none the handles are let go first (LetGo,
// through fsys::SetLetGo). A handle left idle is closed within kIdleMs,
// and one is closed at the end of its file, so that no kept handle holds
// a name against another program for long.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "FileHandle.h"
#include "core/ClientTable.h"
#include "core/Paths.h"

class OpenFiles {
public:
    static constexpr size_t kMaxOpen = 16;  // handles kept at once
    static constexpr size_t kMaxRuns = 64;  // downloads remembered at once
    static constexpr uint64_t kIdleMs = 1000;

    // The open handle of an existing file at path with the access asked
    // for (GENERIC_READ or GENERIC_WRITE), opening it when it is not open;
    // INVALID_HANDLE_VALUE when it cannot be opened. The handle stays this
    // table's: use it within the request. For uploads, by their own path.
    HANDLE Open(const char* path, DWORD access, uint64_t now);
    // Closes the file opened under exactly this path.
    void Close(const char* path);

    // The handle a client's download reads the block at position from:
    // the run's file, the run begun anew when position is 0 or the run is
    // idle. INVALID_HANDLE_VALUE when it cannot be had, with *broken true
    // when a run under way has lost its file (the system's error then is
    // ERROR_FILE_INVALID) and false when the path cannot be opened. *size
    // is the size the run's file had when the run began.
    HANDLE Download(const unsigned char* client, const char* path, const std::string& identity,
                    uint32_t position, uint64_t now, bool* broken, uint64_t* size);
    // Closes the handle of the client's run of identity and keeps the run,
    // which reads on, from the same file, should the client ask again.
    void Rest(const unsigned char* client, const std::string& identity);
    // Closes every handle at or below identity, whatever the spelling it
    // was opened under; the runs stay (see above).
    void LetGo(const std::string& identity);
    // Closes what was unused for kIdleMs, and forgets the runs.
    void Expire(uint64_t now);
    // The handles kept open.
    size_t Count() const;

private:
    // What makes a file itself, from its open handle.
    struct FileId {
        DWORD volume = 0, indexHigh = 0, indexLow = 0, sizeHigh = 0, sizeLow = 0;
        FILETIME written = {};
        bool operator==(const FileId& o) const;
        uint64_t Size() const { return (uint64_t(sizeHigh) << 32) | sizeLow; }
    };
    struct Slot {
        bool used = false;
        bool run = false;       // a download's; else an upload's by path
        bool broken = false;    // a run whose file is gone
        unsigned char client[fsp::kClientKeySize] = {};
        std::string path, identity;
        DWORD access = 0;
        uint64_t lastUsed = 0;
        FileId id;
        FileHandle file;
    };
    // A slot for a new entry: a free one, else the least recently used.
    Slot& Free();
    // Opens path into s, closing the least recently used other handle when
    // kMaxOpen are open; false when it cannot be opened.
    bool OpenInto(Slot& s, DWORD access);
    Slot* FindRun(const unsigned char* client, const std::string& identity);

    Slot slots[kMaxRuns];
};
