// Deleting files, making and removing directories, renaming. Each makes
// one call to the file system on paths under the root; the access table
// has already let the request through.
#include <cstdio>

#include "../FSPDaemon.h"
#include "../FileSystem.h"
#include "../core/LogText.h"

namespace {
// Builds the local path and hands it to change; answers the empty reply or
// the failure text (logged with the system's error), then logs the
// request's path, on success and failure alike. What a path may name is
// settled by FSPDaemon::LocalPath alone; these commands never act on the
// root itself. Nothing the server holds open keeps a change from being
// made (fsys::Delete, fsys::Move).
template <typename Change>
void ChangeTree(FSPDaemon& d, Change change, const char* failure, const char* logFormat) {
    const char* name = fsp::RequestText(d);
    char local[fsp::kMaxLocalPath];
    if (!name || !fsp::NamesEntry(name) || !d.LocalPath(name, local)) {
        d.ErrorMsg(failure);
    } else if (change(local)) {
        d.PathChanged(local);
        d.Reply(0, nullptr, nullptr, 0, 0, 0);
    } else {
        d.ErrorMsg(failure, GetLastError());
    }
    d.LogClientf(logFormat, d.ShownPath());
}
} // namespace

void FSPDaemon::DeleteFileA() {
    ChangeTree(*this, [](const char* p) { return fsys::Delete(p); },
               "DEL_FILE:  Error deleting file!", "Deleted %s");
}

void FSPDaemon::DeleteDirectory() {
    ChangeTree(*this, [](const char* p) { return fsys::RemoveDir(p); },
               "DEL_DIR:  Error removing directory", "Removed directory %s");
}

void FSPDaemon::MakeDirectory() {
    // A directory takes room and an entry of the volume as a file does: none
    // below the uploads' reserve, and no more than kDirectoriesPerSecond
    // from one address, so no client can use up the disk or its entries.
    ChangeTree(*this,
               [this](const char* p) {
                   return UploadCache::RoomFor(p, kDirectoryBytes) &&
                          directoryRate.Take(ClientKey(), GetTickCount64()) && fsys::MakeDirectory(p);
               },
               "MK_DIR:  Error making directory", "Created directory %s");
}

void FSPDaemon::Rename() {
    // The source is the data, the target the extra data. Neither may be the
    // root, and an existing target is never replaced: a client that may
    // delete still deletes only by asking to.
    const char* from = fsp::RequestText(*this);
    const char* to = fsp::RequestExtraText(*this);
    char source[fsp::kMaxLocalPath], target[fsp::kMaxLocalPath];
    // Nothing is renamed into a folder whose volume is below the reserve:
    // a directory that takes a new name may need room.
    const bool room = to && rootUsable && fsp::BuildLocalPath(target, rootPath, to) &&
                      UploadCache::RoomFor(target, kDirectoryBytes);
    if (room && from && to && fsp::NamesEntry(from) && fsp::NamesEntry(to) && LocalPath(from, source) &&
        LocalPath(to, target)) {
        // The identities before the move, while a short name still names
        // the entry.
        IdentityOf(source);
        IdentityOf(target);
        if (fsys::Move(source, target, false)) {
            PathChanged(source);
            PathChanged(target);
            Reply(0, nullptr, nullptr, 0, 0, 0);
        } else {
            DWORD error = GetLastError();
            ErrorMsg(error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS
                         ? "RENAME:  Target exists"
                         : "RENAME:  Error renaming",
                     error);
        }
    } else {
        ErrorMsg("RENAME:  Error renaming");
    }
    char text[fsp::kAddressLineSize];
    std::snprintf(text, sizeof(text), "Renamed %s to %s", ShownPath(), ShownExtraPath());
    LogClient(text);
}
