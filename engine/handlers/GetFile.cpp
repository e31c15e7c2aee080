// The get-file command: one block of a file, read at the position the
// client names. A client's blocks of one path form a download run
// (OpenFiles): its file stays open between blocks, so that every block
// comes from the one file the run began with, and the open and close of
// each block, three round trips into the wine server, are spared where the
// kept handle's seek and read cost none.
#include "../FSPDaemon.h"
#include "../FileSystem.h"

void FSPDaemon::GetFile() {
    const char* shown = ShownPath();
    const uint32_t n = fsp::RequestBlockSize(*this, ReplyLimit());
    const char* path = fsp::RequestText(*this);
    char local[fsp::kMaxLocalPath];
    if (!path || !fsp::NamesEntry(path) || !LocalPath(path, local)) {
        ErrorMsgf("Unable to open file: %s", shown);
        return;
    }

    // The open refuses a directory, as it is not asked for backup
    // semantics. A read at an OVERLAPPED offset would spare the seek but
    // posts its completion through the wine server; the seek does not.
    const std::string& identity = IdentityOf(local);
    bool broken = false;
    uint64_t size = 0;
    HANDLE file = openFiles.Download(ClientKey(), local, identity, position, GetTickCount64(), &broken, &size);
    if (file == INVALID_HANDLE_VALUE) {
        // A run whose file was deleted or replaced meanwhile: no block of
        // another file may follow what the client has.
        ErrorMsgf(broken ? "Read error on file: %s" : "Unable to open file: %s", shown, GetLastError());
        return;
    }
    // Positions are 32-bit: of a file of 4 GiB or more a client could
    // fetch only a part, and would take it for the whole. The size is the
    // run's, read when it began: no call a block.
    if (size > 0xFFFFFFFFu) {
        openFiles.Close(local);
        ErrorMsgf("File too large for FSP (4 GiB or more): %s", shown);
        return;
    }
    // The position is unsigned: files up to 4 GiB can be fetched whole.
    if (!fsys::Seek(file, position)) {
        const DWORD error = GetLastError();
        openFiles.Rest(ClientKey(), identity);
        ErrorMsgf("Seek error on file: %s", shown, error);
        return;
    }
    unsigned char buffer[fsp::kMaxReplyPayload];
    DWORD got = 0;
    if (!fsys::Read(file, buffer, n, &got)) {
        const DWORD error = GetLastError();
        openFiles.Rest(ClientKey(), identity);
        ErrorMsgf("Read error on file: %s", shown, error);
        return;
    }
    // Clients match a block to their request by its position.
    Reply(position, buffer, nullptr, int(got), 0, 0);
    if (got < n) {
        // The end: the file is let go, and the run goes on from it should
        // the client ask for a block again.
        openFiles.Rest(ClientKey(), identity);
        LogClientf("Downloaded %s", local);
    }
}
