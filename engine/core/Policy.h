// Who may do what: the one access table every command passes through, and
// the flag and protection bytes that advertise it to clients.
// Platform-free.
#pragma once

#include <cstdint>

#include "Packet.h"

namespace fsp {

enum class Access {
    Always,    // served at every access level
    Upload,    // needs uploadOnly or readWrite
    ReadWrite, // needs readWrite
    Never,     // refused whatever the settings
};

struct CommandPolicy {
    uint8_t code;
    Access access;
    const char* refusal; // error text when refused; null for Always
    // 1 for a command that changes the tree or an upload: running it twice
    // is not running it once, so a resent request is answered with the
    // reply kept from its first run instead of running it again.
    int remembered;
};

// Three levels: read-only (neither flag), uploads (uploadOnly), and full
// read/write (readWrite, which includes everything uploadOnly allows).
inline constexpr CommandPolicy kPolicy[] = {
    {CC_VERSION, Access::Always, nullptr, 0},
    {CC_GET_DIR, Access::Always, nullptr, 0},
    {CC_GET_FILE, Access::Always, nullptr, 0},
    {CC_UP_LOAD, Access::Upload, "Upload Access Denied", 1},
    {CC_INSTALL, Access::Upload, "Install Access Denied", 1},
    {CC_DEL_FILE, Access::ReadWrite, "DEL_FILE: Access Denied", 1},
    {CC_DEL_DIR, Access::ReadWrite, "RMDIR:  Access Denied", 1},
    {CC_GET_PRO, Access::Always, nullptr, 0},
    {CC_SET_PRO, Access::Never, "SET_PRO:  Access Denied", 0},
    {CC_MAKE_DIR, Access::Upload, "MKDIR:  Access Denied", 1},
    {CC_BYE, Access::Always, nullptr, 0},
    {CC_GRAB_FILE, Access::Never, "GRAB_FILE:  Not Implemented on this Server", 0},
    {CC_GRAB_DONE, Access::Never, "GRAB_DONE:  Not Implemented on this Server", 0},
    // Current clients ask for it before anything else, and take an error
    // reply for an old server: it is answered at every level, never with
    // an error.
    {CC_STAT, Access::Always, nullptr, 0},
    // Takes a name away from where it was, as a delete does.
    {CC_RENAME, Access::ReadWrite, "RENAME:  Access Denied", 1},
};

// The policy of a served command code (a row of kPolicy), or null for an
// unsupported one.
const CommandPolicy* FindPolicy(uint8_t code);

// 1 when the access level lets the command through.
int Allowed(Access access, int uploadOnly, int readWrite);

// The server-flag byte of the version reply.
uint8_t ServerFlagByte(int logging, int uploadOnly, int readWrite, int revName, int privMode,
                       int thruOut);

// The version reply's extra data, laid out in out (at most
// kMaxVersionExtras bytes): the flag byte; then the throughput limit in 4
// bytes when thruput is not 0 (throughput control on); then the packet
// size in 2 bytes when packetSize is not 0. Returns its length, which the
// reply's position carries.
constexpr int kMaxVersionExtras = 7;
int VersionExtras(unsigned char* out, uint8_t flags, uint32_t thruput, uint16_t packetSize);

// The directory-protection byte of the protection reply.
uint8_t ProtectionByte(int uploadOnly, int readWrite);

extern const char kVersionText[]; // sent with its NUL: 38 bytes
constexpr int kVersionTextSize = 38;

} // namespace fsp
