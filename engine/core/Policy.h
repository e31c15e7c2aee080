// Who may do what: the one access table every command passes through, and
// the flag and protection bytes that advertise it to clients.
// Platform-free.
#pragma once

#include <cstdint>

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

// The policy of a served command code, or null for an unsupported one.
const CommandPolicy* FindPolicy(uint8_t code);

// 1 when the access level lets the command through.
int Allowed(Access access, int uploadOnly, int readWrite);

// The server-flag byte of the version reply.
uint8_t ServerFlagByte(int logging, int uploadOnly, int readWrite, int revName, int privMode,
                       int thruOut);

// The directory-protection byte of the protection reply.
uint8_t ProtectionByte(int uploadOnly, int readWrite);

extern const char kVersionText[]; // sent with its NUL: 38 bytes
constexpr int kVersionTextSize = 38;

} // namespace fsp
