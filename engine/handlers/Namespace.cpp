// Deleting files, making and removing directories. Each makes one call to
// the file system on a path under the root; the access table has already
// let the request through.
#include "../FSPDaemon.h"

namespace {
// Builds the local path and hands it to change; answers the empty reply or
// the failure text, then logs the request's path, on success and failure
// alike. What a path may name is settled by FSPDaemon::LocalPath alone;
// these commands never act on the root itself.
template <typename Change>
void ChangeTree(FSPDaemon& d, Change change, const char* failure, const char* logFormat) {
    const char* name = fsp::RequestText(d);
    char local[fsp::kMaxPath];
    if (name && fsp::NamesEntry(name) && d.LocalPath(name, local) && change(local)) {
        d.PathChanged(local);
        d.Reply(0, nullptr, nullptr, 0, 0, 0);
    } else {
        d.ErrorMsg(failure);
    }
    d.LogClientf(logFormat, d.ShownPath());
}
} // namespace

void FSPDaemon::DeleteFileA() {
    ChangeTree(*this, [](const char* p) { return ::DeleteFileA(p) != 0; },
               "DEL_FILE:  Error deleting file!", "Deleted %s");
}

void FSPDaemon::DeleteDirectory() {
    ChangeTree(*this, [](const char* p) { return RemoveDirectoryA(p) != 0; },
               "DEL_DIR:  Error removing directory", "Removed directory %s");
}

void FSPDaemon::MakeDirectory() {
    ChangeTree(*this, [](const char* p) { return CreateDirectoryA(p, nullptr) != 0; },
               "MK_DIR:  Error making directory", "Created directory %s");
}
