// The informational commands: version, protection, status, bye, and the
// commands this server refuses outright.
#include "../FSPDaemon.h"
#include "../core/Listing.h"
#include "../core/Policy.h"

namespace {
const unsigned char* VersionText() { return reinterpret_cast<const unsigned char*>(fsp::kVersionText); }

// Text of a refused command, from the access table.
const char* Refusal(uint8_t code) { return fsp::FindPolicy(code)->refusal; }
} // namespace

void FSPDaemon::Version() {
    unsigned char extras[fsp::kMaxVersionExtras];
    int n = fsp::VersionExtras(extras, fsp::ServerFlagByte(logging, uploadOnly, readWrite, revName, privMode, thruOut),
                               thruOut ? uint32_t(thruPut) : 0, 0);
    Reply(unsigned(n), VersionText(), extras, fsp::kVersionTextSize, n, 0);
    LogClient("Get version information");
}

void FSPDaemon::GetProtection() {
    // The protection is the same everywhere, but only a directory has one:
    // clients ask for it to learn whether a directory exists.
    const char* path = fsp::RequestText(*this);
    char local[fsp::kMaxPath];
    DWORD attributes = path && LocalPath(path, local) ? GetFileAttributesA(local)
                                                      : INVALID_FILE_ATTRIBUTES;
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ErrorMsgf("Directory %s does not exist!", ShownPath());
        return;
    }
    unsigned char protection = fsp::ProtectionByte(uploadOnly, readWrite);
    Reply(1, VersionText(), &protection, fsp::kVersionTextSize, 1, 0);
}

void FSPDaemon::Stat() {
    // Time, size and type, laid out like a listing entry without its name.
    // Type 0 answers a path that is missing or refused: clients take an
    // error reply to this command for a server that lacks it.
    unsigned char status[fsp::kEntryHeader] = {};
    const char* path = fsp::RequestText(*this);
    char local[fsp::kMaxPath];
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (path && LocalPath(path, local) && GetFileAttributesExA(local, GetFileExInfoStandard, &info)) {
        fsp::PutU32(status, fsp::FileTimeToUnixTime(info.ftLastWriteTime.dwLowDateTime,
                                                    info.ftLastWriteTime.dwHighDateTime));
        if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            status[8] = fsp::kTypeDir;
        } else {
            fsp::PutU32(status + 4, info.nFileSizeLow);
            status[8] = fsp::kTypeFile;
        }
    }
    Reply(0, status, nullptr, sizeof(status), 0, 0);
    LogClientf("Get status of %s", ShownPath());
}

void FSPDaemon::SetProtection() { ErrorMsg(Refusal(fsp::CC_SET_PRO)); }

void FSPDaemon::Bye() { Reply(0, nullptr, nullptr, 0, 0, 0); }

void FSPDaemon::GrabFile() { ErrorMsg(Refusal(fsp::CC_GRAB_FILE)); }

void FSPDaemon::GrabDone() { ErrorMsg(Refusal(fsp::CC_GRAB_DONE)); }
