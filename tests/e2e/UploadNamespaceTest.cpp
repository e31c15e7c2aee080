// Uploads, installs and namespace changes end to end: libfsplib as a real
// client and raw datagrams for exact bytes, at each of the three access
// levels, with the files on disk and the log read back.
#include <gtest/gtest.h>

extern "C" {
#include <fsplib.h>
}

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cctype>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Harness.h"
#include "engine/core/Packet.h"

using namespace e2e;
namespace fs = std::filesystem;


namespace {

Settings Access(uint32_t uploadOnly, uint32_t readWrite) {
    Settings s;
    s.flags["UploadOnly"] = uploadOnly;
    s.flags["ReadWrite"] = readWrite;
    return s;
}

struct SessionCloser {
    void operator()(FSP_SESSION* s) const { fsp_close_session(s); }
};
using Session = std::unique_ptr<FSP_SESSION, SessionCloser>;

Session Open(uint16_t port) {
    Session s(fsp_open_session("127.0.0.1", port, nullptr));
    // A request the server never answers fails the test in seconds, not
    // in the library's five minutes.
    if (s) s->timeout = 20000;
    return s;
}

// Writes content through fsp_fwrite in uneven chunks and closes, which
// installs. Returns fsp_fclose's result, or -2 when a write fell short.
int Put(FSP_SESSION* s, const std::string& path, const std::string& content) {
    FSP_FILE* f = fsp_fopen(s, path.c_str(), "wb");
    if (!f) return -3;
    int rc = 0;
    for (size_t at = 0; at < content.size();) {
        size_t n = std::min<size_t>(700, content.size() - at);
        if (fsp_fwrite(content.data() + at, 1, n, f) != n) rc = -2;
        at += n;
    }
    int closed = fsp_fclose(f);
    return rc ? rc : closed;
}

// Every path below dir with its size (-1 for a directory), the log and
// Wine's output left out: they grow as the server runs.
std::set<std::pair<std::string, long>> Tree(const std::string& dir, const std::string& log) {
    std::set<std::pair<std::string, long>> t;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        if (e.path() == log || e.path().filename() == "wine.out") continue;
        t.insert({e.path().string(), e.is_directory() ? -1L : long(e.file_size())});
    }
    return t;
}

// A raw client that numbers its requests.

// The log bodies, each without the client's "[127.0.0.1]: ".
std::vector<std::string> ClientLines(const Server& server) {
    std::string bad;
    std::vector<std::string> out;
    for (const std::string& b : LogBodies(server.Log(), &bad)) {
        if (b.rfind("Serving UDP port ", 0) == 0 /* the server's own lines */ || b.rfind("Stopped serving UDP port ", 0) == 0) continue;
        const std::string tag = "[127.0.0.1]: ";
        out.push_back(b.compare(0, tag.size(), tag) == 0 ? b.substr(tag.size()) : "?" + b);
    }
    EXPECT_EQ(bad, "");
    return out;
}

// Whether want occurs in lines as consecutive lines.
bool HasRun(const std::vector<std::string>& lines, const std::vector<std::string>& want) {
    return std::search(lines.begin(), lines.end(), want.begin(), want.end()) != lines.end();
}

std::string Dump(const std::vector<std::string>& lines) {
    std::string s;
    for (const auto& l : lines) s += l + "\n";
    return s;
}

// A relay on 127.0.0.1 between one client and the server that loses the
// first reply to each of the given commands, as a real network may.
struct LossyRelay {
    LossyRelay(uint16_t serverPort, std::set<uint8_t> drop)
        : toDrop(std::move(drop)), front(Socket(0)), back(Socket(serverPort)) {
        sockaddr_in a = {};
        socklen_t len = sizeof(a);
        getsockname(front, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
        thread = std::thread([this] {
            sockaddr_in client = {};
            socklen_t clientLength = sizeof(client);
            uint8_t buf[2048];
            pollfd fds[2] = {{front, POLLIN, 0}, {back, POLLIN, 0}};
            while (!stop)
                if (poll(fds, 2, 50) > 0 && (fds[0].revents & POLLIN)) {
                    ssize_t n = recvfrom(front, buf, sizeof(buf), 0, reinterpret_cast<sockaddr*>(&client), &clientLength);
                    if (n > 0) send(back, buf, size_t(n), 0);
                } else if (fds[1].revents & POLLIN) {
                    ssize_t n = recv(back, buf, sizeof(buf), 0);
                    if (n > 0 && toDrop.erase(buf[0])) ++dropped;
                    else if (n > 0) sendto(front, buf, size_t(n), 0, reinterpret_cast<sockaddr*>(&client), clientLength);
                }
        });
    }
    ~LossyRelay() {
        stop = true;
        thread.join();
        close(front);
        close(back);
    }
    // A socket on 127.0.0.1, connected to peerPort unless 0.
    static int Socket(uint16_t peerPort) {
        int fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
        a.sin_port = htons(peerPort);
        if (peerPort) connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
        return fd;
    }
    std::set<uint8_t> toDrop; // only the relay's thread touches it
    int front, back;
    uint16_t port = 0;
    std::atomic<int> dropped{0};
    std::atomic<bool> stop{false};
    std::thread thread;
};

} // namespace

// uploadOnly on: files of every size from one client and from two at once,
// directories made, deletions refused, existing files never replaced.
TEST(UploadNamespace, UploadOnlyLevel) {
    Server server(Access(1, 0));
    Session s = Open(server.port);
    ASSERT_TRUE(s);

    for (size_t n : {size_t(1), size_t(1024), size_t(1025), size_t(3u << 20)}) {
        std::string name = "f" + std::to_string(n) + ".bin";
        std::string content = Pattern(n, unsigned(n));
        EXPECT_EQ(Put(s.get(), name, content), 0) << n;
        EXPECT_TRUE(ReadFile(server.root + "/" + name) == content) << n << " bytes differ";
    }
    // libfsplib sends no piece for an empty file, only the install, and an
    // install with nothing uploaded before it is refused.
    EXPECT_EQ(Put(s.get(), "empty.bin", ""), -1);
    EXPECT_FALSE(Exists(server.root + "/empty.bin"));

    // Two sessions, two client ports, two uploads open at the same time.
    {
        Session s2 = Open(server.port);
        ASSERT_TRUE(s2);
        std::string one = Pattern(40000, 1), two = Pattern(30000, 2);
        FSP_FILE* f1 = fsp_fopen(s.get(), "one.bin", "wb");
        FSP_FILE* f2 = fsp_fopen(s2.get(), "two.bin", "wb");
        ASSERT_TRUE(f1 && f2);
        size_t maxOpen = 0;
        for (size_t at = 0; at < one.size(); at += 1000) {
            ASSERT_EQ(fsp_fwrite(one.data() + at, 1, 1000, f1), 1000u);
            if (at < two.size()) {
                ASSERT_EQ(fsp_fwrite(two.data() + at, 1, 1000, f2), 1000u);
            }
            maxOpen = std::max(maxOpen, size_t(TempFileCount(server.workDir)));
        }
        EXPECT_EQ(maxOpen, 2u);
        EXPECT_EQ(fsp_fclose(f2), 0);
        EXPECT_EQ(fsp_fclose(f1), 0);
        EXPECT_TRUE(ReadFile(server.root + "/one.bin") == one);
        EXPECT_TRUE(ReadFile(server.root + "/two.bin") == two);
    }

    // An existing file is never replaced, and the failed upload leaves no
    // temporary file.
    WriteFile(server.root + "/taken.txt", "original");
    EXPECT_EQ(Put(s.get(), "taken.txt", "replacement"), -1);
    EXPECT_EQ(ReadFile(server.root + "/taken.txt"), "original");
    EXPECT_TRUE(TempFileCount(server.workDir) == 0);

    // Directories may be made; nothing may be deleted.
    EXPECT_EQ(fsp_mkdir(s.get(), "made"), 0);
    EXPECT_TRUE(fs::is_directory(server.root + "/made"));
    EXPECT_EQ(fsp_rmdir(s.get(), "made"), -1);
    EXPECT_EQ(fsp_unlink(s.get(), "taken.txt"), -1);
    EXPECT_TRUE(fs::is_directory(server.root + "/made"));
    EXPECT_EQ(ReadFile(server.root + "/taken.txt"), "original");

    Raw raw(server.port);
    ExpectEmptyAck(raw.Ask(0x49, Text("newdir/")), 0x49);
    EXPECT_TRUE(fs::is_directory(server.root + "/newdir"));
    ExpectError(raw.Ask(0x46, Text("newdir")), "RMDIR:  Access Denied");
    ExpectError(raw.Ask(0x45, Text("taken.txt")), "DEL_FILE: Access Denied");
    ExpectError(raw.Ask(0x49, Text("newdir")), "MK_DIR:  Error making directory");
    EXPECT_TRUE(fs::is_directory(server.root + "/newdir"));
    EXPECT_TRUE(TempFileCount(server.workDir) == 0);

    EXPECT_EQ(server.Stop(), 0);
    auto lines = ClientLines(server);
    EXPECT_TRUE(HasRun(lines, {"Begin Upload", "Uploaded f1.bin"})) << Dump(lines);
    EXPECT_TRUE(HasRun(lines, {"Uploaded f1025.bin", "Begin Upload"})) << Dump(lines);
    EXPECT_TRUE(HasRun(lines, {"Begin Upload", "Uploaded f3145728.bin"})) << Dump(lines);
    EXPECT_TRUE(HasRun(lines, {"INSTALL:  Error Installing New File", "Not installed: empty.bin"})) << Dump(lines);
    EXPECT_TRUE(HasRun(lines, {"INSTALL:  Error Installing New File (error 183)", "Not installed: taken.txt"})) << Dump(lines);
    const std::string rmdir = "RMDIR:  Access Denied (uploads-only level, no .FSP_OK_DEL in /)",
                      del = "DEL_FILE: Access Denied (uploads-only level, no .FSP_OK_DEL in /)";
    EXPECT_TRUE(HasRun(lines, {"Created directory made", rmdir, del, "Created directory newdir/", rmdir, del,
                               "MK_DIR:  Error making directory (error 183)", "Created directory newdir"}))
        << Dump(lines);
    // One "Begin Upload" for each upload that sent a first piece.
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Begin Upload"), 7) << Dump(lines);
}

// Neither flag on: every changing command is refused with its own text,
// which is the only line the request leaves, and nothing changes on disk.
// Access files are off: one granting making directories changes nothing.
TEST(UploadNamespace, ReadOnlyLevelRefusesEveryChange) {
    Settings settings = Access(0, 0);
    settings.flags["AccessFiles"] = 0;
    Server server(settings);
    fs::create_directories(server.root + "/dir");
    WriteFile(server.root + "/file.txt", "content");
    WriteFile(server.root + "/.FSP_OK_MKDIR", "");
    auto before = Tree(server.dir.path, server.logFile);

    Session s = Open(server.port);
    ASSERT_TRUE(s);
    EXPECT_EQ(fsp_mkdir(s.get(), "made"), -1);
    EXPECT_EQ(fsp_rmdir(s.get(), "dir"), -1);
    EXPECT_EQ(fsp_unlink(s.get(), "file.txt"), -1);
    EXPECT_EQ(Put(s.get(), "up.txt", "data"), -1);

    Raw raw(server.port);
    ExpectError(raw.Ask(0x43, B("data")), "Upload Access Denied");
    ExpectError(raw.Ask(0x44, Text("up.txt")), "Install Access Denied");
    ExpectError(raw.Ask(0x45, Text("file.txt")), "DEL_FILE: Access Denied");
    ExpectError(raw.Ask(0x46, Text("dir")), "RMDIR:  Access Denied");
    ExpectError(raw.Ask(0x49, Text("made")), "MKDIR:  Access Denied");
    ExpectError(raw.Ask(0x48, Text("dir")), "SET_PRO:  Access Denied");
    ExpectError(raw.Ask(0x4B, Text("file.txt")), "GRAB_FILE:  Not Implemented on this Server");
    ExpectError(raw.Ask(0x4C, Text("file.txt")), "GRAB_DONE:  Not Implemented on this Server");
    ExpectError(raw.Ask(0x4E, Text("file.txt"), 4, Text("new")), "RENAME:  Access Denied");
    // The settings reach the flag and protection bytes.
    EXPECT_EQ(raw.Ask(0x10).extra, (Bytes{0x23, 0x05, 0xAC}));
    EXPECT_EQ(raw.Ask(0x47, Text("/")).extra, Bytes{0x60}); // may be listed

    EXPECT_TRUE(TempFileCount(server.workDir) == 0);
    EXPECT_EQ(Tree(server.dir.path, server.logFile), before);
    EXPECT_EQ(server.Stop(), 0);
    std::vector<std::string> expected{
        "MKDIR:  Access Denied", "RMDIR:  Access Denied", "DEL_FILE: Access Denied",
        "Upload Access Denied",  "Upload Access Denied",  "Install Access Denied",
        "DEL_FILE: Access Denied", "RMDIR:  Access Denied", "MKDIR:  Access Denied",
        "SET_PRO:  Access Denied", "GRAB_FILE:  Not Implemented on this Server",
        "GRAB_DONE:  Not Implemented on this Server", "RENAME:  Access Denied",
        "Get version information"};
    for (std::string& line : expected)
        if (line.find("Access Denied") != std::string::npos && line[0] != 'S') line += " (read-only level)";
    EXPECT_EQ(ClientLines(server), expected) << Dump(ClientLines(server));
}

// readWrite on, uploadOnly off: everything is served; failures answer the
// tabled texts and still log the path; traversal gets nowhere; pieces in
// any order install the same file; temporary files never outlive their
// upload.
TEST(UploadNamespace, ReadWriteLevel) {
    Server server(Access(0, 1));
    Session s = Open(server.port);
    ASSERT_TRUE(s);

    // The three commands, their failures, and an upload at this level.
    EXPECT_EQ(fsp_mkdir(s.get(), "d"), 0);
    EXPECT_EQ(Put(s.get(), "d/f.txt", "inside"), 0);
    EXPECT_EQ(ReadFile(server.root + "/d/f.txt"), "inside");
    EXPECT_EQ(fsp_rmdir(s.get(), "d"), -1);      // not empty
    EXPECT_EQ(fsp_unlink(s.get(), "d"), -1);     // a directory
    EXPECT_EQ(fsp_rmdir(s.get(), "d/f.txt"), -1); // a file
    EXPECT_EQ(fsp_mkdir(s.get(), "d"), -1);      // exists
    EXPECT_EQ(fsp_mkdir(s.get(), "x/y"), -1);    // no parent
    EXPECT_FALSE(Exists(server.root + "/x"));
    EXPECT_EQ(fsp_unlink(s.get(), "d/f.txt"), 0);
    EXPECT_FALSE(Exists(server.root + "/d/f.txt"));
    EXPECT_EQ(fsp_rmdir(s.get(), "d"), 0);
    EXPECT_FALSE(Exists(server.root + "/d"));
    EXPECT_EQ(fsp_unlink(s.get(), "gone.txt"), -1);

    Raw raw(server.port);
    ExpectEmptyAck(raw.Ask(0x49, Text("r")), 0x49);
    ExpectError(raw.Ask(0x49, Text("r")), "MK_DIR:  Error making directory");
    ExpectError(raw.Ask(0x45, Text("r")), "DEL_FILE:  Error deleting file!");
    ExpectEmptyAck(raw.Ask(0x46, Text("r")), 0x46);
    ExpectError(raw.Ask(0x46, Text("r")), "DEL_DIR:  Error removing directory");
    EXPECT_EQ(raw.Ask(0x47, Text("/")).extra, Bytes{0xEE});

    // Rename: never over an existing name; no password logged.
    fs::create_directories(server.root + "/m/sub");
    WriteFile(server.root + "/m/f.txt", "moved");
    WriteFile(server.root + "/taken", "stays");
    EXPECT_EQ(fsp_rename(s.get(), "m/f.txt", "m/sub/g.txt"), 0);
    EXPECT_EQ(fsp_rename(s.get(), "m/sub", "n"), 0);
    EXPECT_EQ(ReadFile(server.root + "/n/g.txt"), "moved");
    EXPECT_EQ(fsp_rename(s.get(), "n/g.txt", "taken"), -1);
    ExpectEmptyAck(raw.Ask(0x4E, Text("n/g.txt\nsecret"), 13, Text("h.txt\nsecret")), 0x4E);
    EXPECT_EQ(ReadFile(server.root + "/h.txt"), "moved");
    ExpectError(raw.Ask(0x4E, Text("h.txt"), 6, Text("taken")), "RENAME:  Target exists");

    // A new session reusing a port and key after another client undid its
    // change has its request run, and a failure is tried afresh.
    Raw fixed(server.port);
    auto Send = [&](uint8_t command, const char* path) { return fixed.key = 7, fixed.Ask(command, Text(path)); };
    ExpectEmptyAck(Send(0x45, "taken"), 0x45);
    ExpectEmptyAck(Send(0x45, "taken"), 0x45); // a resend, answered from memory
    ExpectEmptyAck(raw.Ask(0x4E, Text("h.txt"), 6, Text("taken")), 0x4E);
    ExpectEmptyAck(Send(0x45, "taken"), 0x45); // the same key, a new session
    EXPECT_FALSE(Exists(server.root + "/taken"));
    ExpectError(Send(0x49, "p/q"), "MK_DIR:  Error making directory");
    ExpectEmptyAck(raw.Ask(0x49, Text("p")), 0x49);
    ExpectEmptyAck(Send(0x49, "p/q"), 0x49);
    // A name with no NUL in the bytes sent is answered like a bad name.
    ExpectError(raw.Ask(0x49, B("loose")), "MK_DIR:  Error making directory");
    EXPECT_FALSE(Exists(server.root + "/loose"));

    // Traversal: out of the root, through "..", by an absolute path of this
    // machine, and by drive letter, with every changing command.
    fs::create_directories(server.root + "/keepdir");
    WriteFile(server.root + "/keep.txt", "keep");
    WriteFile(server.dir.path + "/victim.txt", "victim");
    fs::create_directories(server.dir.path + "/outdir");
    std::string drive = WinPath(server.dir.path);       // Z:\...
    std::string driveFwd = "Z:" + server.dir.path;      // Z:/...
    auto before = Tree(server.dir.path, server.logFile);
    std::vector<std::string> escapes{
        "../", "/../", "keepdir/../../", "keepdir/../", server.dir.path + "/",
        drive + "\\", driveFwd + "/", "C:/",
    };
    for (const std::string& e : escapes) {
        EXPECT_EQ(fsp_unlink(s.get(), (e + "victim.txt").c_str()), -1) << e;
        EXPECT_EQ(fsp_rmdir(s.get(), (e + "outdir").c_str()), -1) << e;
        EXPECT_EQ(fsp_mkdir(s.get(), (e + "made").c_str()), -1) << e;
        EXPECT_EQ(Put(s.get(), e + "up.txt", "escaped"), -1) << e;
    }
    EXPECT_EQ(fsp_unlink(s.get(), "keepdir/../keep.txt"), -1);
    EXPECT_EQ(fsp_rmdir(s.get(), "keepdir/../keepdir"), -1);
    EXPECT_EQ(Put(s.get(), "keep.txt:stream", "hidden"), -1);
    ExpectError(raw.Ask(0x49, Text("../made")), "MK_DIR:  Error making directory");
    ExpectError(raw.Ask(0x45, Text("../victim.txt")), "DEL_FILE:  Error deleting file!");
    ExpectError(raw.Ask(0x46, Text("../outdir")), "DEL_DIR:  Error removing directory");
    EXPECT_EQ(Tree(server.dir.path, server.logFile), before);
    // Two dots are only refused as a whole name.
    EXPECT_EQ(fsp_mkdir(s.get(), "a..b"), 0);
    EXPECT_EQ(Put(s.get(), "./a..b/c..d", "dots"), 0);
    EXPECT_EQ(ReadFile(server.root + "/a..b/c..d"), "dots");
    EXPECT_FALSE(Exists(Prefix() + "/drive_c/made"));
    EXPECT_FALSE(Exists(Prefix() + "/drive_c/up.txt"));
    EXPECT_TRUE(TempFileCount(server.workDir) == 0);

    // Raw pieces: in order, and with earlier pieces sent again, from two
    // client ports; each is acknowledged at its position.
    std::string data = Pattern(2548, 7);
    struct Piece { uint32_t at, n; };
    std::vector<Piece> forward{{0, 1024}, {1024, 1024}, {2048, 500}};
    std::vector<Piece> shuffled{{0, 1024}, {1024, 1024}, {1024, 1024}, {2048, 500}, {1024, 1024}};
    Raw a(server.port), b(server.port);
    for (const Piece& p : forward)
        ExpectEmptyAck(a.Ask(0x43, B(data.substr(p.at, p.n)), p.at), 0x43, p.at);
    for (const Piece& p : shuffled)
        ExpectEmptyAck(b.Ask(0x43, B(data.substr(p.at, p.n)), p.at), 0x43, p.at);
    EXPECT_EQ(size_t(TempFileCount(server.workDir)), 2u);
    // Past the end, or above 0 from a port with no upload (never started,
    // or lost to a restart): refused, and nothing written.
    ExpectError(a.Ask(0x43, B("gap"), 2549), "UPLOAD:  Error Uploading");
    ExpectError(Raw(server.port).Ask(0x43, B("x"), 1024), "UPLOAD:  Error Uploading");
    EXPECT_EQ(size_t(TempFileCount(server.workDir)), 2u);
    // Four bytes of extra data on an install are the file's time.
    ExpectEmptyAck(a.Ask(0x44, Text("forward.bin"), 4, Bytes{0x30, 0x00, 0x00, 0x01}), 0x44);
    struct stat st = {};
    EXPECT_EQ(stat((server.root + "/forward.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 0x30000001);
    ExpectEmptyAck(b.Ask(0x44, Text("shuffled.bin")), 0x44);
    EXPECT_TRUE(ReadFile(server.root + "/forward.bin") == data);
    EXPECT_TRUE(ReadFile(server.root + "/shuffled.bin") == data);
    // A port that left an upload unfinished starts a shorter one: only the
    // new bytes are installed.
    for (const Piece& p : forward) b.Ask(0x43, B(data.substr(p.at, p.n)), p.at);
    ExpectEmptyAck(b.Ask(0x43, B("twelve bytes"), 0), 0x43);
    ExpectEmptyAck(b.Ask(0x44, Text("restarted.bin")), 0x44);
    EXPECT_EQ(ReadFile(server.root + "/restarted.bin"), "twelve bytes");

    // An empty piece opens an upload too: an empty file is installed.
    ExpectEmptyAck(a.Ask(0x43, {}, 0), 0x43);
    ExpectEmptyAck(a.Ask(0x44, Text("empty.bin")), 0x44);
    EXPECT_TRUE(Exists(server.root + "/empty.bin"));
    EXPECT_EQ(ReadFile(server.root + "/empty.bin"), "");

    // Pieces of up to 4,380 bytes; a datagram longer than that is answered.
    const std::string big = Pattern(8761, 9);
    ExpectEmptyAck(a.Ask(0x43, B(big.substr(0, 4380)), 0), 0x43);
    ExpectEmptyAck(a.Ask(0x43, B(big.substr(4380, 4380)), 4380), 0x43, 4380);
    ExpectError(a.Ask(0x43, B(big.substr(0, 4381)), 8760), "Packet too long: at most 4380 bytes of data");
    ExpectEmptyAck(a.Ask(0x44, Text("big.bin")), 0x44);
    EXPECT_TRUE(ReadFile(server.root + "/big.bin") == big.substr(0, 8760));

    // Put again where the client may delete: replaced; a directory never is.
    EXPECT_EQ(Put(s.get(), "forward.bin", "second put"), 0);
    EXPECT_EQ(ReadFile(server.root + "/forward.bin"), "second put");
    EXPECT_EQ(Put(s.get(), "keepdir", "over a directory"), -1);
    EXPECT_TRUE(fs::is_directory(server.root + "/keepdir"));

    // A piece far past the end (a 1 GiB hole), or at 2^31, is refused and
    // makes no file; the install after it has nothing to install.
    ExpectError(a.Ask(0x43, B("x"), 1u << 30), "UPLOAD:  Error Uploading");
    ExpectError(a.Ask(0x43, B("x"), 0x80000000u), "UPLOAD:  Error Uploading");
    ExpectError(a.Ask(0x43, B("x"), 0xFFFFFC00u), "UPLOAD:  Error Uploading");
    ExpectError(a.Ask(0x44, Text("keep.txt")), "INSTALL:  Error Installing New File");
    EXPECT_EQ(ReadFile(server.root + "/keep.txt"), "keep");
    EXPECT_TRUE(TempFileCount(server.workDir) == 0);
    // Nothing uploaded before: refused, nothing made.
    ExpectError(a.Ask(0x44, Text("nothing.txt")), "INSTALL:  Error Installing New File");
    EXPECT_FALSE(Exists(server.root + "/nothing.txt"));

    // Closed with an upload open: its temporary file goes with the server.
    ExpectEmptyAck(b.Ask(0x43, B("left open"), 0), 0x43);
    EXPECT_EQ(size_t(TempFileCount(server.workDir)), 1u);
    s.reset();
    EXPECT_EQ(server.Stop(), 0);
    EXPECT_TRUE(TempFileCount(server.workDir) == 0);

    auto lines = ClientLines(server);
    EXPECT_TRUE(HasRun(lines, {"Renamed m/f.txt to m/sub/g.txt", "Renamed m/sub to n", "RENAME:  Target exists (error 183)",
                               "Renamed n/g.txt to taken"})) << Dump(lines);
    EXPECT_EQ(server.Log().find("secret"), std::string::npos);
    EXPECT_TRUE(HasRun(lines, {"Created directory d", "Begin Upload", "Uploaded d/f.txt",
                               "DEL_DIR:  Error removing directory (error 145)", "Removed directory d",
                               "DEL_FILE:  Error deleting file! (error 5)", "Deleted d",
                               "DEL_DIR:  Error removing directory (error 267)", "Removed directory d/f.txt",
                               "MK_DIR:  Error making directory (error 183)", "Created directory d",
                               "MK_DIR:  Error making directory (error 2)", "Created directory x/y",
                               "Deleted d/f.txt", "Removed directory d",
                               "DEL_FILE:  Error deleting file! (error 2)", "Deleted gone.txt"}))
        << Dump(lines);
    EXPECT_TRUE(HasRun(lines, {"MK_DIR:  Error making directory", "Created directory loose"}))
        << Dump(lines);
    EXPECT_TRUE(HasRun(lines, {"DEL_DIR:  Error removing directory", "Removed directory ../outdir"}))
        << Dump(lines);
    EXPECT_TRUE(HasRun(lines, {"UPLOAD:  Error Uploading", "UPLOAD:  Error Uploading", "UPLOAD:  Error Uploading",
                               "INSTALL:  Error Installing New File", "Not installed: keep.txt",
                               "INSTALL:  Error Installing New File", "Not installed: nothing.txt",
                               "Begin Upload"}))
        << Dump(lines);
    EXPECT_TRUE(HasRun(lines, {"Uploaded forward.bin", "Uploaded shuffled.bin", "Begin Upload",
                               "Begin Upload", "Uploaded restarted.bin", "Begin Upload",
                               "Uploaded empty.bin"}))
        << Dump(lines);
}

// A reply lost on the way: libfsplib sends the request again with the same
// key, and the server answers it as the first time instead of running it
// again, so every change is reported as the success it was, and done once.
TEST(UploadNamespace, LostRepliesDoNotTurnSuccessIntoFailure) {
    Server server(Access(0, 1));
    LossyRelay relay(server.port, {0x43, 0x44, 0x45, 0x46, 0x49});
    Session s = Open(relay.port);
    ASSERT_TRUE(s);
    const std::string content = Pattern(5000, 3);
    EXPECT_EQ(fsp_mkdir(s.get(), "d"), 0);
    EXPECT_EQ(Put(s.get(), "d/f.bin", content), 0);
    EXPECT_TRUE(ReadFile(server.root + "/d/f.bin") == content);
    EXPECT_EQ(fsp_unlink(s.get(), "d/f.bin"), 0);
    EXPECT_EQ(fsp_rmdir(s.get(), "d"), 0);
    EXPECT_FALSE(Exists(server.root + "/d"));
    EXPECT_EQ(relay.dropped, 5);
    s.reset();
    EXPECT_EQ(server.Stop(), 0);
    auto lines = ClientLines(server);
    EXPECT_EQ(lines, (std::vector<std::string>{"Created directory d", "Begin Upload", "Uploaded d/f.bin",
                                                "Deleted d/f.bin", "Removed directory d"}))
        << Dump(lines);
}

// What a hostile client does to uploads: a hundred abandoned from one
// address, a working directory full of the platform's temporary names, an
// attempt to read another client's unfinished upload, a server killed with
// an upload open. The honest upload goes through, quick and whole, and
// nothing is left behind.
TEST(UploadNamespace, UploadsNoClientCanExhaustReadOrLeaveBehind) {
    TempDir base;
    const std::string work = base.path + "/wd";
    fs::create_directories(work);
    for (int i = 0; i < 0x10000; ++i) {
        char name[32];
        std::snprintf(name, sizeof(name), "/FSP%X.TMP", i);
        WriteFile(work + name, "planted");
    }
    Settings st = Access(1, 0);
    st.rootPath = WinPath(base.path); // the working directory lies inside the tree
    st.workDir = work;
    auto server = std::make_unique<Server>(st);

    Raw honest(server->port);
    const std::string content = Pattern(100 * 1024, 11);
    auto slowest = std::chrono::milliseconds(0);
    for (size_t at = 0; at < content.size(); at += 1024) {
        // 100 abandoned uploads from another address, each a new session:
        // as many as an address may open at once (then 8 a second).
        Client flood(server->port, "127.0.0.2");
        flood.Transact(Request(0x43, 0, 1, 0, B("abandoned")));
        auto start = std::chrono::steady_clock::now();
        ExpectEmptyAck(honest.Ask(0x43, B(content.substr(at, 1024)), uint32_t(at)), 0x43, uint32_t(at));
        slowest = std::max(slowest, std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now() - start));
    }
    EXPECT_EQ(TempFileCount(work), 16 + 1); // the flood's address holds 16, plus the honest one
    EXPECT_LT(slowest.count(), 2000) << "a piece took " << slowest.count() << " ms";
    std::printf("upload flood: 100 abandoned uploads, %d files kept, slowest honest piece %lld ms\n",
                TempFileCount(work), static_cast<long long>(slowest.count()));

    // Another client cannot reach the unfinished upload by any name.
    Raw thief(server->port);
    for (const char* p : {"wd/UPLOADS.FSP/U0000000.TMP", "wd/uploads.fsp/U0000000.TMP",
                          "wd/./UPLOADS.FSP/U0000000.TMP"})
        ExpectError(thief.Ask(0x42, Text(p)), std::string("Unable to open file: ") + p);
    ExpectError(thief.Ask(0x41, Text("wd/UPLOADS.FSP")), "Directory wd/UPLOADS.FSP does not exist!");
    ExpectEmptyAck(thief.Ask(0x43, B("mine"), 0), 0x43);
    ExpectError(thief.Ask(0x44, Text("wd/UPLOADS.FSP/U0000000.TMP")), "INSTALL:  Error Installing New File");

    ExpectEmptyAck(honest.Ask(0x44, Text("honest.bin")), 0x44);
    EXPECT_TRUE(ReadFile(base.path + "/honest.bin") == content);
    // 1,024 first pieces from 16 addresses between an install and its
    // resend push nothing out: the resend is answered as done.
    ExpectEmptyAck(honest.Ask(0x43, B("kept"), 0), 0x43);
    const uint16_t installKey = honest.key;
    ExpectEmptyAck(honest.Ask(0x44, Text("kept.txt")), 0x44);
    for (int i = 0; i < 1024; ++i)
        Client(server->port, ("127.0.1." + std::to_string(1 + i % 16)).c_str()).Transact(Request(0x43, 0, 1, 0, B("p")));
    honest.key = installKey; // a resend
    ExpectEmptyAck(honest.Ask(0x44, Text("kept.txt")), 0x44);
    EXPECT_EQ(ReadFile(work + "/FSP0.TMP"), "planted");

    // An upload pushed out by a flood from its address fails, never gapped.
    Raw evicted(server->port);
    ExpectEmptyAck(evicted.Ask(0x43, B(content.substr(0, 1024)), 0), 0x43);
    for (int i = 0; i < 16; ++i) Client(server->port).Transact(Request(0x43, 0, 1, 0, B("abandoned")));
    ExpectError(evicted.Ask(0x43, B(content.substr(1024, 1024)), 1024), "UPLOAD:  Error Uploading");
    ExpectError(evicted.Ask(0x44, Text("evicted.bin")), "INSTALL:  Error Installing New File");
    EXPECT_FALSE(Exists(base.path + "/evicted.bin"));

    // Killed with an upload open and (planted) a copy under way: the next
    // start clears both away, and nothing else a record names.
    ExpectEmptyAck(honest.Ask(0x43, B("left open"), 0), 0x43);
    EXPECT_GE(TempFileCount(work), 1);
    server->Kill();
    EXPECT_GE(TempFileCount(work), 1);
    const std::string hidden = base.path + "/.vfspd-0123456789ABCDEF.part";
    WriteFile(hidden, "half a copy");
    WriteFile(work + "/UPLOADS.FSP/0123456789ABCDEF.CPY", WinPath(hidden));
    WriteFile(work + "/UPLOADS.FSP/FEDCBA9876543210.CPY", WinPath(base.path + "/honest.bin"));
    // Records that name a hidden-named link to a file, a file outside the
    // root, one through "..", or one relative to the working directory.
    TempDir outside;
    const std::string victim = outside.path + "/.vfspd-1111111111111111.part";
    for (const char* digits : {"1111111111111111", "2222222222222222", "3333333333333333"}) {
        WriteFile(outside.path + "/.vfspd-" + digits + ".part", "victim");
        WriteFile(work + "/.vfspd-" + digits + ".part", "victim");
    }
    fs::create_symlink(victim, base.path + "/.vfspd-1111111111111111.part");
    WriteFile(work + "/UPLOADS.FSP/1111111111111111.CPY", WinPath(base.path + "/.vfspd-1111111111111111.part"));
    WriteFile(work + "/UPLOADS.FSP/2222222222222222.CPY", WinPath(outside.path + "/.vfspd-2222222222222222.part"));
    WriteFile(work + "/UPLOADS.FSP/3333333333333333.CPY", WinPath(base.path) + "\\..\\" +
              fs::path(outside.path).filename().string() + "\\.vfspd-3333333333333333.part");
    WriteFile(work + "/UPLOADS.FSP/4444444444444444.CPY", ".vfspd-4444444444444444.part");
    WriteFile(work + "/.vfspd-4444444444444444.part", "victim");
    server = std::make_unique<Server>(st);
    EXPECT_EQ(TempFileCount(work), 0);
    EXPECT_FALSE(Exists(hidden));
    EXPECT_TRUE(ReadFile(base.path + "/honest.bin") == content);
    for (const char* digits : {"1111111111111111", "2222222222222222", "3333333333333333"})
        EXPECT_EQ(ReadFile(outside.path + "/.vfspd-" + digits + ".part"), "victim") << digits;
    EXPECT_EQ(ReadFile(work + "/.vfspd-4444444444444444.part"), "victim");
    EXPECT_EQ(server->Stop(), 0);
}

// One entry has many spellings (case in every script, an 8.3 name, a
// folder above): a resend is answered from memory only while no spelling
// of its entry was changed since, and a download run reads one file whole
// whatever clients and other programs do to its name meanwhile.
TEST(UploadNamespace, OneEntryWhateverItsSpelling) {
    Server server(Access(0, 1));
    const std::string root = server.root + "/";
    Raw a(server.port), b(server.port);
    std::string shortName;
    WriteFile(root + "long name of a file.txt", "x");
    ASSERT_EQ(RunWine({std::string(VFSPD_WIN_DIR) + "/holdfile.exe", "--short", WinPath(root + "long name of a file.txt")}, "", &shortName), 0);
    // A changes made, B undoes it in another spelling (a put when undo is
    // 0x44), A resends: run again, never "ok" for work not done.
    struct Undone { std::string made; uint8_t command; std::string path, to; uint8_t undo; std::string undone, undoneTo, gone; };
    const Undone undone[] = {{"Écho.txt", 0x45, "Écho.txt", "", 0x44, "écho.txt", "", "écho.txt"},
                             {"ΣΑ.txt", 0x45, "ΣΑ.txt", "", 0x44, "σα.txt", "", "σα.txt"},
                             {"long name of a file.txt", 0x45, shortName, "", 0x44, "long name of a file.txt", "", "long name of a file.txt"},
                             {"ärger/", 0x46, "ärger", "", 0x49, "Ärger", "", "Ärger"},
                             {"Dïr/f", 0x45, "Dïr/f", "", 0x44, "DÏR/f", "", "Dïr/f"},
                             {"é1", 0x4E, "é1", "é2", 0x4E, "É2", "É1", "É1"}};
    auto ask = [](Raw& r, uint8_t command, const std::string& path, const std::string& to) {
        return command == 0x44 ? Put(r, path, "b") : r.Ask(command, Text(path), uint32_t(to.empty() ? 0 : to.size() + 1), to.empty() ? Bytes{} : Text(to));
    };
    for (const Undone& u : undone) {
        fs::create_directories(fs::path(root + u.made).parent_path());
        if (u.made.back() != '/') WriteFile(root + u.made, "old");
        ExpectEmptyAck(ask(a, u.command, u.path, u.to), u.command);
        ExpectEmptyAck(ask(b, u.undo, u.undone, u.undoneTo), u.undo);
        a.key -= 1; // the key A sent before: a resend
        ExpectEmptyAck(ask(a, u.command, u.path, u.to), u.command);
        EXPECT_FALSE(Exists(root + u.gone)) << u.path << ": \"ok\" for work not done";
    }
    // A case-only rename renames.
    for (std::string n : {"a.txt", "ü.txt"}) WriteFile(root + n, n);
    ExpectEmptyAck(ask(a, 0x4E, "a.txt", "A.TXT"), 0x4E);
    ExpectEmptyAck(ask(a, 0x4E, "ü.txt", "Ü.txt"), 0x4E);
    EXPECT_EQ(ReadFile(root + "A.TXT") + ReadFile(root + "Ü.txt"), "a.txtü.txt");

    // A put during another client's download: the old file whole, or an
    // error, never a splice.
    const std::string old = Pattern(1 << 20, 1), now = Pattern(1 << 20, 2);
    WriteFile(root + "big.bin", old);
    std::string got;
    Reply r;
    while ((r = a.Ask(0x42, Text("big.bin"), uint32_t(got.size()))).command == 0x42 && !r.data.empty()) {
        got += std::string(r.data.begin(), r.data.end());
        if (got.size() == 46 * 1024) ExpectEmptyAck(Put(b, "BIG.BIN", now), 0x44);
    }
    EXPECT_TRUE(r.command == 0x42 ? got == old : got == old.substr(0, got.size())) << "a spliced download";
    // Polling a name: what another program or client does to it shows at
    // the next poll, and a delete by any spelling frees the name at once.
    auto poll = [&] { Reply p = a.Ask(0x42, Text("PINNÉ.TXT")); return p.command == 0x42 ? std::string(p.data.begin(), p.data.begin() + 4) : p.DataText(); };
    WriteFile(root + "pinné.txt", "one " + old);
    EXPECT_EQ(poll(), "one ");
    WriteFile(root + "next", "two " + old);
    fs::rename(root + "next", root + "pinné.txt");
    EXPECT_EQ(poll(), "two ");
    ExpectEmptyAck(b.Ask(0x45, Text("pinné.txt")), 0x45);
    EXPECT_EQ(poll() + (Exists(root + "pinné.txt") ? " but there" : ""), "Unable to open file: PINNÉ.TXT");
    ExpectEmptyAck(Put(b, "pinné.txt", "ten "), 0x44);
    EXPECT_EQ(poll(), "ten ");
    fs::remove(root + "pinné.txt");
    EXPECT_EQ(poll(), "Unable to open file: PINNÉ.TXT");
    EXPECT_EQ(server.Stop(), 0);
}
