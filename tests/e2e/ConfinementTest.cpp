// Path confinement end to end: every command that takes a path, given each
// kind of name that could reach past the served root or alias a name in
// it. Nothing outside the root may be read, listed, made or removed, and
// each request gets its command's own failure text.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "Harness.h"

using namespace e2e;
namespace fs = std::filesystem;

namespace {

// Every file and directory below dir, except below the paths in skip, with
// its content, so that any change shows.
std::map<std::string, std::string> Snapshot(const std::string& dir, const std::vector<std::string>& skip = {}) {
    std::map<std::string, std::string> out;
    for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator(); ++it) {
        std::string p = it->path().string();
        bool skipped = false;
        for (const std::string& s : skip) skipped = skipped || p == s;
        if (skipped) {
            if (it->is_directory()) it.disable_recursion_pending();
            continue;
        }
        out[p] = it->is_directory() ? "<dir>" : ReadFile(p);
    }
    return out;
}

// The names at the top of a directory, each marked as file or directory.
std::map<std::string, bool> TopLevel(const std::string& dir) {
    std::map<std::string, bool> out;
    for (const auto& e : fs::directory_iterator(dir)) out[e.path().filename().string()] = e.is_directory();
    return out;
}

// The commands that take a path, in the order each row runs them: a
// directory made by one is removed by the next, a file installed is
// deleted last.
enum Cmd { kGetDir, kGetFile, kMakeDir, kDelDir, kInstall, kDelFile, kCommands };
const uint8_t kCode[kCommands] = {0x41, 0x42, 0x49, 0x46, 0x44, 0x45};
const char* const kName[kCommands] = {"get dir", "get file", "make dir", "del dir", "install", "del file"};

// The failure text of each command for a path as the client sent it. An
// error reply holds at most 1023 characters.
std::string FailureText(Cmd cmd, const std::string& path) {
    std::string t;
    switch (cmd) {
    case kGetDir: t = "Directory " + path + " does not exist!"; break;
    case kGetFile: t = "Unable to open file: " + path; break;
    case kMakeDir: t = "MK_DIR:  Error making directory"; break;
    case kDelDir: t = "DEL_DIR:  Error removing directory"; break;
    case kInstall: t = "INSTALL:  Error Installing New File"; break;
    default: t = "DEL_FILE:  Error deleting file!"; break;
    }
    return t.substr(0, 1023);
}

struct Row {
    Row(std::string p, std::string in = "") : path(std::move(p)), inside(std::move(in)) {}
    std::string path;
    // Empty: every command fails and nothing changes. Otherwise the name,
    // relative to the root, that the path legitimately names inside it:
    // listing and download fail (nothing is there), the directory is made
    // and removed, the file installed and deleted.
    std::string inside;
};

} // namespace

TEST(Confinement, NoPathReachesPastTheRootOrAliasesANameInIt) {
    // Two levels above the root, each with sentinels where an escaping
    // path would land: outer/x, outer/mid/x, files and directories.
    TempDir outer;
    const std::string mid = outer.path + "/mid", root = mid + "/root";
    fs::create_directories(root);
    for (const std::string& d : {outer.path, mid}) {
        WriteFile(d + "/x", "sentinel x in " + d);
        WriteFile(d + "/passwd", "sentinel passwd");
        fs::create_directories(d + "/sentdir");
        WriteFile(d + "/sentdir/inner.txt", "inner");
        fs::create_directories(d + "/emptydir");
    }
    // Inside the root: names that trailing dots and blanks would alias,
    // an empty directory that a removal of "dir." would take, and the
    // directories the device and stream names sit in.
    WriteFile(root + "/f", "served f");
    WriteFile(root + "/file", "served file");
    fs::create_directories(root + "/dir");
    fs::create_directories(root + "/sub");
    WriteFile(root + "/sub/inner.txt", "in sub");

    Settings s;
    s.flags["ReadWrite"] = 1; // every changing command is allowed
    s.rootPath = WinPath(root);
    Server server(s);
    const std::string winRoot = WinPath(root) + "\\";
    const std::string driveC = Prefix() + "/drive_c";

    // Names around the platform's plain path limit, 259 characters of root
    // and name, pass it: longer paths go in their long form.
    const size_t room = 259 - winRoot.size();
    ASSERT_LT(room, 255u) << "the root is too short for the length rows";
    const std::string longest(room, 'L'), tooLong(room + 1, 'L');

    const std::vector<Row> rows = {
        {".."}, {"a..b", "a..b"}, {"../x"}, {"..\\x"}, {"/.."}, {"/../x"}, {"sub/../../x"},
        {"/etc/passwd"}, {"\\windows", "windows"}, {"C:\\x"}, {"C:x"}, {"Z:\\tmp"},
        {"Z:" + mid + "/x"}, {"\\\\server\\share"}, {"//server/share"},
        {"CON"}, {"NUL"}, {"COM1"}, {"LPT1"}, {"PRN"}, {"AUX"}, {"con.txt"}, {"nul.tar.gz"},
        {"sub/NUL"}, {"Lpt9"}, {"com1 "}, {"NUL/x"},
        {"file:stream"}, {"file::$DATA"},
        {"f."}, {"f "}, {"dir."}, {"dir "}, {"f. ."}, {"sub./inner.txt"}, {"sub /inner.txt"},
        {"./new/.", "new"}, {"UPLOADS.FSP"}, {"uploads.fsp/U0000000.TMP"}, {"sub/Uploads.Fsp"},
        {"two words.x y", "two words.x y"}, {longest, longest}, {tooLong, tooLong}, {std::string(255, 'n'), std::string(255, 'n')}, {std::string(1000, 'm')},
    };

    const std::vector<std::string> outsideSkip = {root};
    const auto outerBefore = Snapshot(outer.path, outsideSkip);
    const std::vector<std::string> serverSkip = {server.logFile, server.dir.path + "/wine.out"};
    const auto serverBefore = Snapshot(server.dir.path, serverSkip);
    const auto driveCBefore = TopLevel(driveC);
    const auto slashBefore = TopLevel("/");
    const auto rootBefore = Snapshot(root);

    Raw raw(server.port);
    int tried = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE("path \"" + row.path.substr(0, 60) + (row.path.size() > 60 ? "...\"" : "\""));
        for (int c = 0; c < kCommands; ++c) {
            Cmd cmd = Cmd(c);
            SCOPED_TRACE(kName[cmd]);
            if (cmd == kInstall) {
                // An install moves this client's upload: send a piece first.
                auto piece = raw.Ask(0x43, Text("uploaded for " + row.path, false));
                ASSERT_TRUE(piece.checksumOk) << "no answer";
                ASSERT_EQ(piece.command, 0x43) << piece.DataText();
            }
            auto r = raw.Ask(kCode[cmd], Text(row.path));
            ++tried;
            ASSERT_TRUE(r.checksumOk) << "no answer";
            const bool succeeds = !row.inside.empty() && cmd != kGetDir && cmd != kGetFile;
            if (succeeds) {
                EXPECT_EQ(r.command, kCode[cmd]) << r.DataText();
                EXPECT_EQ(r.dataLength, 0u);
                const std::string made = root + "/" + row.inside;
                if (cmd == kMakeDir) {
                    EXPECT_TRUE(fs::is_directory(made));
                } else if (cmd == kInstall) {
                    EXPECT_EQ(ReadFile(made), "uploaded for " + row.path);
                } else {
                    EXPECT_FALSE(Exists(made));
                }
            } else {
                EXPECT_EQ(r.command, 0x40) << "answered as if served, " << r.dataLength << " bytes";
                EXPECT_EQ(r.DataText(), FailureText(cmd, row.path));
                EXPECT_EQ(r.dataLength, r.DataText().size() + 1);
            }
            // A failed install takes its temporary file along.
            EXPECT_EQ(TempFileCount(server.workDir), 0);
        }
        // Whatever a row made inside the root it removed again.
        EXPECT_EQ(Snapshot(root), rootBefore);
        EXPECT_EQ(Snapshot(outer.path, outsideSkip), outerBefore);
    }
    EXPECT_EQ(tried, int(rows.size()) * kCommands);
    std::printf("confinement: %zu paths x %d commands = %d requests\n", rows.size(), int(kCommands), tried);

    // Still serving, and still serving what is inside.
    auto f = raw.Ask(0x42, Text("f"));
    EXPECT_EQ(f.command, 0x42);
    EXPECT_EQ(std::string(f.data.begin(), f.data.end()), "served f");
    EXPECT_TRUE(server.Running());
    EXPECT_EQ(server.Stop(), 0);

    EXPECT_EQ(Snapshot(outer.path, outsideSkip), outerBefore);
    EXPECT_EQ(Snapshot(server.dir.path, serverSkip), serverBefore);
    EXPECT_EQ(TopLevel(driveC), driveCBefore);
    EXPECT_EQ(TopLevel("/"), slashBefore);
    EXPECT_EQ(Snapshot(root), rootBefore);
}

// A root that holds the upload folder (here the working directory): no
// client lists, fetches or deletes another's unfinished upload, in any
// spelling, and the upload installs. A root inside it serves nothing, and
// the operator is told.
TEST(Confinement, TheUploadFolderIsNeverServed) {
    TempDir work;
    Settings s;
    s.workDir = work.path;
    s.rootPath = WinPath(work.path);
    s.flags["ReadWrite"] = 1;
    Server server(s);
    Raw owner(server.port), other(server.port);
    ExpectEmptyAck(owner.Ask(0x43, B("secret piece")), 0x43);
    const std::string file = "/" + fs::directory_iterator(work.path + "/UPLOADS.FSP")->path().filename().string();
    for (const std::string& folder : {"UPLOADS.FSP", "./uploads.fsp/", "/Uploads.Fsp/."}) {
        ExpectError(other.Ask(0x41, Text(folder)), FailureText(kGetDir, folder));
        ExpectError(other.Ask(0x42, Text(folder + file)), FailureText(kGetFile, folder + file));
        ExpectError(other.Ask(0x45, Text(folder + file)), FailureText(kDelFile, folder + file));
    }
    ExpectEmptyAck(owner.Ask(0x44, Text("mine.txt")), 0x44);
    EXPECT_EQ(ReadFile(work.path + "/mine.txt"), "secret piece");
    EXPECT_EQ(server.Stop(), 0);

    s.rootPath = WinPath(work.path + "/UPLOADS.FSP");
    Server inside(s); // answers with the box up
    ExpectError(Raw(inside.port).Ask(0x41, Text("/")), FailureText(kGetDir, "/")); // the folder is not listed
    std::string box;
    WaitFor([&] { return RunWine({std::string(VFSPD_WIN_DIR) + "/closewin.exe", "--dismiss", "VrelFSPd"}, "", &box) == 0; });
    EXPECT_NE(box.find("lies in the upload folder UPLOADS.FSP"), std::string::npos) << box;
}
