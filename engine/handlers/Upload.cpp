// Upload pieces and the install that names the finished file. Whether
// either may run at all is settled by the access table before these run.
#include <cstdint>

#include "../FSPDaemon.h"
#include "ClientPath.h"

void FSPDaemon::Upload() {
    sockaddr* client = reinterpret_cast<sockaddr*>(&clientAddr);
    // Positions of 2^31 and beyond cannot be reached with a 32-bit signed
    // seek; the cache refuses a negative one.
    long at = position > 0x7FFFFFFFu ? -1L : long(position);
    // Without a usable root no upload could be installed: keep nothing.
    if (!rootUsable || !uploadCache.Upload(client, at, data, int(dataLength))) {
        ErrorMsg("UPLOAD:  Error Uploading");
        return;
    }
    // The reply carries the piece's own position: FSP clients match the
    // acknowledgement of a piece by its position, and take a reply at any
    // other position for a stale one.
    Reply(position, nullptr, nullptr, 0, 0, 0);
    if (position == 0) LogClient("Begin Upload");
}

void FSPDaemon::Install() {
    sockaddr* client = reinterpret_cast<sockaddr*>(&clientAddr);
    // Extra data (some clients send a time stamp there) is ignored.
    const char* name = fsp::RequestText(*this);
    char target[MAX_PATH];
    int installed = 0;
    // The root itself is never replaced by an upload.
    if (name && fsp::NamesEntry(name) && LocalPath(name, target)) {
        installed = uploadCache.Install(client, target);
    } else {
        // No usable name: the upload ends here, as after a failed move.
        uploadCache.Discard(client);
    }
    if (installed) Reply(0, nullptr, nullptr, 0, 0, 0);
    else ErrorMsg("INSTALL:  Error Installing New File");
    LogClientPath(*this, "Uploaded %s");
}
