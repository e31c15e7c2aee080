// The informational commands: version, protection, bye, and the commands
// this server refuses outright.
#include "../FSPDaemon.h"
#include "../core/Policy.h"

namespace {
const unsigned char* VersionText() { return reinterpret_cast<const unsigned char*>(fsp::kVersionText); }

// Text of a refused command, from the access table.
const char* Refusal(uint8_t code) { return fsp::FindPolicy(code)->refusal; }
} // namespace

void FSPDaemon::Version() {
    unsigned char flags = fsp::ServerFlagByte(logging, uploadOnly, readWrite, revName, privMode, thruOut);
    Reply(1, VersionText(), &flags, fsp::kVersionTextSize, 1, 0);
    LogClient("Get version information");
}

void FSPDaemon::GetProtection() {
    unsigned char protection = fsp::ProtectionByte(uploadOnly, readWrite);
    Reply(1, VersionText(), &protection, fsp::kVersionTextSize, 1, 0);
}

void FSPDaemon::SetProtection() { ErrorMsg(Refusal(fsp::CC_SET_PRO)); }

void FSPDaemon::Bye() { Reply(0, nullptr, nullptr, 0, 0, 0); }

void FSPDaemon::GrabFile() { ErrorMsg(Refusal(fsp::CC_GRAB_FILE)); }

void FSPDaemon::GrabDone() { ErrorMsg(Refusal(fsp::CC_GRAB_DONE)); }
