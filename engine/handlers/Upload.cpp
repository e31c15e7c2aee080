// Upload pieces and the install that names the finished file. Whether
// either may run at all is settled by the access table before these run,
// and a resent piece or install is answered from the kept reply.
#include <cstdint>

#include "../FSPDaemon.h"

void FSPDaemon::Upload() {
    // Without a usable root no upload could be installed: keep nothing.
    // A refusal leaves no system error; a write that failed, its own.
    SetLastError(0);
    if (!rootUsable ||
        !uploadCache.Upload(ClientKey(), position, data, int(dataLength), GetTickCount64())) {
        ErrorMsg("UPLOAD:  Error Uploading", rootUsable ? GetLastError() : 0);
        return;
    }
    // The reply carries the piece's own position: FSP clients match the
    // acknowledgement of a piece by its position, and take a reply at any
    // other position for a stale one.
    Reply(position, nullptr, nullptr, 0, 0, 0);
    if (position == 0) LogClient("Begin Upload");
}

void FSPDaemon::Install() {
    // A client repeating its install while its copy to another volume runs
    // is answered once the copy has ended, at the cost of this look-up.
    if (uploadCache.Copying(ClientKey())) return;
    const char* name = fsp::RequestText(*this);
    char target[fsp::kMaxLocalPath];
    // Clients may send the file's time (seconds since 1970) as four bytes
    // of extra data; the position then gives the extra data's length.
    uint32_t stamp = 0;
    bool stamped = extraData && extraLength >= 4;
    if (stamped) stamp = fsp::GetU32(extraData);
    UploadCache::Installed installed = UploadCache::Installed::No;
    DWORD error = 0;
    // The root itself is never replaced by an upload.
    if (name && fsp::NamesEntry(name) && LocalPath(name, target)) {
        // A file is replaced only where the client may delete it (the
        // rights the access check found for the target's directory), and
        // whoever downloads it meanwhile lets go of it (fsys::Move).
        IdentityOf(target);
        SetLastError(0);
        installed = uploadCache.Install(ClientKey(), target, stamped ? &stamp : nullptr,
                                        (dirRights & fsp::kDirDelete) != 0, GetTickCount64());
        error = GetLastError();
    } else {
        // No usable name: the upload ends here, as after a failed move.
        uploadCache.Discard(ClientKey());
    }
    // A copy to another volume still running: no answer yet. The client
    // sends the install again, and that is answered once the copy is done.
    if (installed == UploadCache::Installed::Copying) return;
    if (installed == UploadCache::Installed::Yes) {
        PathChanged(target);
        Reply(0, nullptr, nullptr, 0, 0, 0);
        LogClientf("Uploaded %s", ShownPath());
    } else {
        ErrorMsg("INSTALL:  Error Installing New File", error);
        LogClientf("Not installed: %s", ShownPath());
    }
}
