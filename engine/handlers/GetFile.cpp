// The get-file command: one block of a file, read at the position the
// client names. The file stays open between blocks (OpenFiles): a client
// fetches a file block after block, and the open and close of each block
// cost three round trips into the wine server where the kept handle's
// seek and read cost none.
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
    HANDLE file = openFiles.Open(local, GENERIC_READ, GetTickCount64());
    if (file == INVALID_HANDLE_VALUE) {
        ErrorMsgf("Unable to open file: %s", shown);
        return;
    }
    // Positions are 32-bit: of a file of 4 GiB or more a client could
    // fetch only a part, and would take it for the whole.
    uint64_t size = 0;
    if (fsys::Size(file, &size) && size > 0xFFFFFFFFu) {
        openFiles.Close(local);
        ErrorMsgf("File too large for FSP (4 GiB or more): %s", shown);
        return;
    }
    // The position is unsigned: files up to 4 GiB can be fetched whole.
    if (!fsys::Seek(file, position)) {
        openFiles.Close(local);
        ErrorMsgf("Seek error on file: %s", shown);
        return;
    }
    unsigned char buffer[fsp::kMaxReplyPayload];
    DWORD got = 0;
    if (!fsys::Read(file, buffer, n, &got)) {
        openFiles.Close(local);
        ErrorMsgf("Read error on file: %s", shown);
        return;
    }
    // Clients match a block to their request by its position.
    Reply(position, buffer, nullptr, int(got), 0, 0);
    if (got < n) {
        // The end: the file's place is free for the next download.
        openFiles.Close(local);
        LogClientf("Downloaded %s", local);
    }
}
