// The informational commands: version, protection, status, bye, and the
// commands this server refuses outright.
#include <cstring>
#include <string>

#include "../FSPDaemon.h"
#include "../FileHandle.h"
#include "../FileSystem.h"
#include "../core/Listing.h"
#include "../core/Policy.h"

namespace {
const unsigned char* VersionText() { return reinterpret_cast<const unsigned char*>(fsp::kVersionText); }

// Text of a refused command, from the access table.
const char* Refusal(uint8_t code) { return fsp::FindPolicy(code)->refusal; }
} // namespace

void FSPDaemon::Version() {
    // The flags, the throughput limit while it is on, and the largest block
    // a client may ask for; the position says how many bytes these are.
    unsigned char extras[fsp::kMaxVersionExtras];
    int n = fsp::VersionExtras(
        extras, fsp::ServerFlagByte(logging, uploadOnly, readWrite, revName, privMode, thruOut),
        thruOut ? uint32_t(thruPut) : 0, uint16_t(ReplyLimit()));
    Reply(static_cast<unsigned long>(n), VersionText(), extras, fsp::kVersionTextSize, n, 0);
    LogClient("Get version information");
}

void FSPDaemon::GetProtection() {
    // Only a directory has a protection: clients ask for it to learn
    // whether a directory exists, and what they may do in it.
    const char* path = fsp::RequestText(*this);
    char local[fsp::kMaxLocalPath];
    DWORD attributes = path && LocalPath(path, local) ? fsys::AttributeBits(local) : INVALID_FILE_ATTRIBUTES;
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ErrorMsgf("Directory %s does not exist!", ShownPath());
        return;
    }
    unsigned char protection = fsp::ProtectionByte(
        fsp::DirectoryRights(uploadOnly, readWrite, accessFiles ? AccessFilesOf(local) : 0));
    // The directory's readme, cut to fit with its NUL and the byte, stands
    // where the version text stands without one.
    unsigned char readme[fsp::kMaxPayload];
    DWORD got = 0;
    bool hasReadme = false;
    std::string name = std::string(local) + (local[std::strlen(local) - 1] == '\\' ? "" : "\\") + fsp::kReadmeName;
    {
        FileHandle f(fsys::Open(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                OPEN_EXISTING, 0));
        hasReadme = f.Ok() && fsys::Read(f.Get(), readme, sizeof(readme) - 2, &got);
    }
    if (hasReadme) {
        const void* nul = std::memchr(readme, 0, got);
        if (nul) got = DWORD(static_cast<unsigned char*>(const_cast<void*>(nul)) - readme);
        readme[got] = '\0';
        Reply(1, readme, &protection, int(got) + 1, 1, 0);
    } else {
        Reply(1, VersionText(), &protection, fsp::kVersionTextSize, 1, 0);
    }
}

void FSPDaemon::Stat() {
    // Time, size and type, laid out like a listing entry without its name.
    // Type 0 answers a path that is missing or refused: clients take an
    // error reply to this command for a server that lacks it.
    unsigned char status[fsp::kEntryHeader] = {};
    const char* path = fsp::RequestText(*this);
    char local[fsp::kMaxLocalPath];
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (path && LocalPath(path, local) && fsys::Attributes(local, &info)) {
        fsp::PutU32(status, fsp::FileTimeToUnixTime(info.ftLastWriteTime.dwLowDateTime,
                                                    info.ftLastWriteTime.dwHighDateTime));
        if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            status[8] = fsp::kTypeDir;
        } else {
            // A size of 4 GiB or more does not fit: shown as the largest.
            fsp::PutU32(status + 4, info.nFileSizeHigh ? 0xFFFFFFFFu : info.nFileSizeLow);
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
