// End-to-end harness: starts vfspd.exe under Wine with a registry made for
// the test, talks FSP to it over loopback, and stops it as an operator
// would, by closing its window.
#pragma once

#include <sys/types.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

using Bytes = std::vector<uint8_t>;

// A temporary directory, removed with its content.
struct TempDir {
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path;
};

// The Windows name of a Linux path, through drive Z:.
std::string WinPath(const std::string& linuxPath);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
bool Exists(const std::string& path);

// The Wine prefix of this run: WINEPREFIX when set, else one made once.
const std::string& Prefix();
// Runs a Windows program under Wine in the prefix and returns its status.
int RunWine(const std::vector<std::string>& args, const std::string& cwd = "",
            std::string* output = nullptr);
// Starts a Windows program under Wine in the prefix without waiting;
// its output goes to outputFile (or nowhere).
pid_t StartWine(const std::vector<std::string>& args, const std::string& cwd = "",
                const std::string& outputFile = "");
// Values of one registry key below HKEY_LOCAL_MACHINE: name to data as
// `reg query` prints it (DWORDs as 0x...).
std::map<std::string, std::string> RegQuery(const std::string& key);

// Registry values a server is started with. Every field that is set is
// written; the key is emptied first.
struct Settings {
    std::optional<uint32_t> port;           // default: a free UDP port
    std::optional<std::string> rootPath;    // default: WinPath(root dir)
    std::optional<std::string> logPath;     // default: VFSPD.LOG (in the working dir)
    std::map<std::string, uint32_t> flags{{"Logging", 1}, {"UploadOnly", 1}, {"ReadWrite", 0},
                                          {"RevName", 0},  {"PrivMode", 0},   {"ThruOut", 0}};
    bool firstRun = false; // write nothing: the server finds no settings
    std::string program;   // a Linux or Windows path; default: the build's vfspd.exe
    std::string workDir;   // default: a fresh folder; Log() reads its VFSPD.LOG
    // Values of types the fields above do not write, added last:
    // {key below VrelFSPd, name, type, data} as `reg add` takes them.
    std::vector<std::array<std::string, 4>> values;
    bool awaitAnswer = true; // false: not waited for on its port
};

uint16_t FreeUdpPort();

class Server {
public:
    explicit Server(Settings settings = {});
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Closes the window and waits for the process; returns its exit status.
    int Stop();
    // Ends the process at once, as a crash would.
    void Kill();
    bool Running();
    // The log file, as the server has written it so far.
    std::string Log() const;
    // The Linux process that runs the server under Wine.
    pid_t Pid() const { return pid; }

    uint16_t port = 0;
    TempDir dir;
    std::string root;    // Linux path of the served root
    std::string workDir; // the server's current directory
    std::string logFile; // Linux path of the log (default location)

private:
    pid_t pid = -1;
    int status = -1;
};

// A stop-and-wait datagram client bound to one local port.
class Client {
public:
    // Sends from localAddress (127.0.0.1 unless given) on a port of its own.
    explicit Client(uint16_t serverPort, const char* localAddress = nullptr);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;
    void Send(const Bytes& datagram);
    // The next datagram, or nothing within the timeout.
    std::optional<Bytes> Receive(std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
    // Sends and waits for the reply with the same sequence, resending on
    // timeout a few times as FSP clients do.
    std::optional<Bytes> Transact(const Bytes& datagram);

private:
    int fd = -1;
};

struct Reply;

// A stop-and-wait client as FSP clients are: it numbers its requests and
// sends the key of the last reply it got, so that a request the server
// sees twice with the same key is a resend. Ask returns an empty Reply
// (checksumOk false) when nothing came back.
struct Raw {
    explicit Raw(uint16_t port, const char* localAddress = nullptr) : c(port, localAddress) {}
    Reply Ask(uint8_t command, const std::vector<uint8_t>& data = {}, uint32_t position = 0,
              const std::vector<uint8_t>& extra = {});
    Client c;
    uint16_t sequence = 0;
    uint16_t key = 0;
};

// A request datagram with a correct checksum.
Bytes Request(uint8_t command, uint16_t key, uint16_t sequence, uint32_t position,
              const Bytes& data = {}, const Bytes& extra = {});
Bytes Text(const std::string& s, bool withNul = true);

// A decoded reply.
struct Reply {
    uint8_t command = 0;
    uint8_t checksum = 0;
    uint16_t key = 0, sequence = 0, dataLength = 0;
    uint32_t position = 0;
    Bytes data, extra;
    bool checksumOk = false;
    std::string DataText() const; // the data up to its first NUL
};
Reply Decode(const Bytes& datagram);

Bytes B(const std::string& s); // a text without its NUL
void ExpectError(const Reply& r, const std::string& text);
void ExpectEmptyAck(const Reply& r, uint8_t command, uint32_t position = 0);
// Uploads content in 1 KiB pieces and installs it as name: the install's reply.
Reply Put(Raw& raw, const std::string& name, const std::string& content);

// n bytes of a repeatable pseudo-random pattern, different per seed.
std::string Pattern(size_t n, unsigned seed);
// How many unfinished uploads the server started in workDir holds: the
// files of its upload folder.
int TempFileCount(const std::string& workDir);

// Lines of a log with their time stamps checked: each must start with a
// well-formed 24-character stamp. Returns the rest of each line.
std::vector<std::string> LogBodies(const std::string& log, std::string* badLine = nullptr);

// Waits until pred() holds or the deadline passes; returns pred().
template <typename Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds deadline = std::chrono::milliseconds(10000));

} // namespace e2e

#include "Harness.inl"
