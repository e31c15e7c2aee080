// The get-file command: one block of a file, read at the position the
// client names. The file is opened and closed within the request.
#include "../FSPDaemon.h"

namespace {
struct FileHandle {
    HANDLE h = INVALID_HANDLE_VALUE;
    ~FileHandle() { Close(); }
    void Close() {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        h = INVALID_HANDLE_VALUE;
    }
};
} // namespace

void FSPDaemon::GetFile() {
    const char* shown = ShownPath();
    const uint32_t n = fsp::RequestBlockSize(*this);
    const char* path = fsp::RequestText(*this);
    char local[fsp::kMaxPath];
    if (!path || !fsp::NamesEntry(path) || !LocalPath(path, local)) {
        ErrorMsgf("Unable to open file: %s", shown);
        return;
    }

    // Three round trips into the wine server a block, the fewest there
    // are: the open (which refuses a directory, as it is not asked for
    // backup semantics), the seek (the first call that needs the file's
    // descriptor; the read after it stays in the process) and the close.
    // A read at an OVERLAPPED offset would spare the seek but posts its
    // completion through the server, one round trip more.
    FileHandle file;
    file.h = CreateFileA(local, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_FLAG_RANDOM_ACCESS, nullptr);
    if (file.h == INVALID_HANDLE_VALUE) {
        ErrorMsgf("Unable to open file: %s", shown);
        return;
    }
    // The position is unsigned: files up to 4 GiB can be fetched whole.
    LARGE_INTEGER at;
    at.QuadPart = LONGLONG(position);
    if (!SetFilePointerEx(file.h, at, nullptr, FILE_BEGIN)) {
        file.Close();
        ErrorMsgf("Seek error on file: %s", shown);
        return;
    }
    unsigned char buffer[fsp::kMaxPayload];
    DWORD got = 0;
    BOOL read = ReadFile(file.h, buffer, n, &got, nullptr);
    file.Close();
    if (!read) {
        ErrorMsgf("Read error on file: %s", shown);
        return;
    }
    // Clients match a block to their request by its position.
    Reply(position, buffer, nullptr, int(got), 0, 0);
    if (got < n) LogClientf("Downloaded %s", local);
}
