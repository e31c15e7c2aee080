// The upload cache against real temporary files, and the upload, install
// and namespace handlers served in-process from a hand-made request.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "../../engine/FSPDaemon.h"
#include "../../engine/FileSystem.h"
#include "../../engine/UploadCache.h"
#include "../../engine/core/Packet.h"
#include "../../engine/core/Policy.h"
#include "WinTest.h"

namespace {

// A client as the cache keys it: port, then IPv4 address.
struct Key {
    Key(unsigned short port, const char* ip) {
        sockaddr_in a = {};
        a.sin_port = htons(port);
        a.sin_addr.s_addr = inet_addr(ip);
        std::memcpy(bytes, &a.sin_port, 6);
    }
    operator const unsigned char*() const { return bytes; }
    unsigned char bytes[6];
};

// Names of the files in a folder, by default the upload folder of the
// current directory.
std::vector<std::string> TempFiles(const std::string& folder = "UPLOADS.FSP") {
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(fd.cFileName);
    while (FindNextFileA(h, &fd));
    FindClose(h);
    return names;
}

// Runs the test in a fresh working directory, where the cache keeps its
// upload folder.
class InTempDir : public testing::Test {
protected:
    void SetUp() override {
        GetCurrentDirectoryA(sizeof(saved), saved);
        ASSERT_TRUE(SetCurrentDirectoryA(dir.path.c_str()));
    }
    void TearDown() override { SetCurrentDirectoryA(saved); }
    TempDir dir;
    char saved[fsp::kMaxPath] = {};
};

using UploadCacheFiles = InTempDir;
using UploadHandlers = InTempDir;

const unsigned char* Bytes(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

} // namespace

TEST_F(UploadCacheFiles, LeftoversIdleAndFloodedUploadsGoWithTheirFiles) {
    CreateDirectoryA("UPLOADS.FSP", nullptr);
    WriteFileText("UPLOADS.FSP\\U0000000.TMP", "left by a crashed run");
    Key a(4000, "127.0.0.1"), b(4001, "127.0.0.1");
    {
        UploadCache cache;
        ASSERT_EQ(cache.Start(), 1);
        EXPECT_TRUE(TempFiles().empty());
        // The name left behind is taken again, but as a new file.
        ASSERT_EQ(cache.Upload(a, 0, Bytes("one"), 3, 0), 1);
        ASSERT_EQ(cache.Upload(b, 0, Bytes("two"), 3, 0), 1);
        EXPECT_EQ(ReadFileText(cache.FileOf(a, 0)), "one");
        EXPECT_EQ(cache.Discard(a), 1);
        EXPECT_EQ(cache.Discard(a), 0);
        // Idle for two minutes: forgotten with its file.
        ASSERT_EQ(cache.Upload(a, 0, Bytes("new"), 3, 1000), 1);
        cache.Expire(UploadCache::kIdleMs);
        EXPECT_EQ(cache.FileOf(b, 0), nullptr);
        EXPECT_EQ(TempFiles().size(), 1u);
        // A flood from the same address: 16 at most, and the upload that
        // keeps sending stays.
        for (unsigned short port = 1; port <= 40; ++port) {
            ASSERT_EQ(cache.Upload(Key(port, "127.0.0.1"), 0, Bytes("x"), 1, 2000 + port), 1);
            ASSERT_EQ(cache.Upload(a, 3, Bytes("!"), 1, 2000 + port), 1);
        }
        EXPECT_EQ(TempFiles().size(), UploadCache::kMaxPerAddress);
        EXPECT_EQ(ReadFileText(cache.FileOf(a, 3000)), "new!");
    }
    // The destructor removes what was still open.
    EXPECT_TRUE(TempFiles().empty());
}

TEST_F(UploadCacheFiles, PiecesFromTheEndOnlyAndInstallsCompleteOrNotAtAll) {
    using Installed = UploadCache::Installed;
    std::string data(2548, 'd');
    for (size_t i = 0; i < data.size(); ++i) data[i] = char('A' + (i * 7) % 26);
    UploadCache cache;
    Key c(5000, "10.0.0.7");
    // A resent piece rewrites its bytes.
    for (uint32_t at : {0u, 1024u, 1024u, 2048u})
        ASSERT_EQ(cache.Upload(c, at, Bytes(data) + at, at == 2048 ? 500 : 1024, 0), 1);
    EXPECT_EQ(ReadFileText(cache.FileOf(c, 0)), data);
    // Past the end, or past 2^31 - 1 bytes: refused, nothing written.
    for (uint32_t at : {2549u, 0x7FFFFFFFu, 0x80000000u})
        EXPECT_EQ(cache.Upload(c, at, Bytes("x"), 1, 0), 0) << at;
    EXPECT_EQ(ReadFileText(cache.FileOf(c, 0)), data);
    CreateDirectoryA("pub", nullptr);
    uint32_t stamp = 819255600; // 1995-12-18 01:00:00 UTC
    EXPECT_EQ(cache.Install(c, "pub\\c.txt", &stamp, 0, 0), Installed::Yes);
    EXPECT_EQ(ReadFileText("pub\\c.txt"), data);
    WIN32_FILE_ATTRIBUTE_DATA info;
    ASSERT_TRUE(GetFileAttributesExA("pub\\c.txt", GetFileExInfoStandard, &info));
    ULONGLONG t = (ULONGLONG(info.ftLastWriteTime.dwHighDateTime) << 32) | info.ftLastWriteTime.dwLowDateTime;
    EXPECT_EQ(t / 10000000ull - 11644473600ull, stamp);
    EXPECT_EQ(cache.Install(c, "pub\\again.txt", nullptr, 1, 0), Installed::No); // the entry went with it
    // An existing file is replaced only when asked; a directory, or a
    // missing one, never: the upload ends with its temporary file.
    WriteFileText("taken.txt", "keep me");
    CreateDirectoryA("dir", nullptr);
    struct { const char* target; int replace; Installed result; } installs[] = {
        {"taken.txt", 0, Installed::No}, {"dir", 1, Installed::No},
        {"missing\\new.txt", 1, Installed::No}, {"taken.txt", 1, Installed::Yes}};
    for (const auto& i : installs) {
        ASSERT_EQ(cache.Upload(c, 0, Bytes("new"), 3, 0), 1);
        EXPECT_EQ(cache.Install(c, i.target, nullptr, i.replace, 0), i.result) << i.target;
        EXPECT_EQ(ReadFileText("taken.txt"), i.result == Installed::Yes ? "new" : "keep me");
    }
    EXPECT_TRUE(GetFileAttributesA("dir") & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_FALSE(FileExists("missing"));
    EXPECT_TRUE(TempFiles().empty());
}

// /dev/shm is another file system than the temporary directory under
// Wine: an install there copies, off the calling thread, to a hidden name.
// On a slow volume (every read 20 ms late) nothing waits for the copy: a
// copy that ends is put in place with no resend and its outcome kept for
// it; one given up by a new first piece, or stopped with the cache, leaves
// nothing behind once its thread has ended. One address copies one at once.
TEST_F(UploadCacheFiles, InstallAcrossVolumesCopiesToAHiddenNameThenRenames) {
    using Installed = UploadCache::Installed;
    std::string shm = "Z:\\dev\\shm\\vfspd-" + std::to_string(GetCurrentProcessId());
    if (!CreateDirectoryA(shm.c_str(), nullptr)) GTEST_SKIP() << "no /dev/shm";
    std::string data(32u << 20, 'x');
    for (size_t i = 0; i < data.size(); i += 4096) data[i] = char(i >> 12);
    Key c(6000, "10.0.0.8"), d(6001, "10.0.0.8");
    const std::string target = shm + "\\big.bin";
    auto Within = [](ULONGLONG start) { return GetTickCount64() - start; };
    auto Quiet = [] { for (ULONGLONG t = GetTickCount64(); VolumeCopy::Running() && GetTickCount64() - t < 10000;) Sleep(10); };
    fsys::InjectDelay(fsys::Call::Read, 20);
    for (int mode : {0, 1, 2}) { // placed then answered, given up, stopped
        {
            UploadCache cache;
            for (uint32_t at = 0; at < data.size(); at += 1u << 20)
                ASSERT_EQ(cache.Upload(c, at, Bytes(data) + at, 1 << 20, 0), 1);
            WriteFileText(target, "old");
            ULONGLONG start = GetTickCount64();
            ASSERT_EQ(cache.Install(c, target.c_str(), nullptr, 1, 0), Installed::Copying);
            EXPECT_LT(Within(start), 20u) << "the install held its caller";
            // The old file whole, the copy under a hidden name, its record
            // beside the upload.
            EXPECT_EQ(ReadFileText(target), "old");
            std::vector<std::string> names = TempFiles(shm);
            ASSERT_EQ(names.size(), 2u);
            std::string hidden = names[0] == "big.bin" ? names[1] : names[0];
            EXPECT_TRUE(hidden.size() == 7 + 16 + 5 && hidden.rfind(".vfspd-", 0) == 0) << hidden;
            EXPECT_EQ(TempFiles().size(), 2u); // the upload and the record
            ASSERT_EQ(cache.Upload(d, 0, Bytes("second"), 6, 0), 1);
            EXPECT_EQ(cache.Install(d, (shm + "\\d.bin").c_str(), nullptr, 1, 0), Installed::Copying);
            EXPECT_EQ(cache.Copies(), 1u) << "one address took two copy slots";
            start = GetTickCount64();
            if (mode == 1) {
                ASSERT_EQ(cache.Upload(c, 0, Bytes("new"), 3, 0), 1);
            }
            EXPECT_LT(Within(start), 20u) << "a copy given up held its caller";
            if (mode == 0) {
                for (start = GetTickCount64(); cache.Copying(c) && Within(start) < 20000;) Sleep(10);
                cache.Expire(1000); // no resend came: placed all the same
                EXPECT_TRUE(ReadFileText(target) == data);
                EXPECT_EQ(cache.Install(c, target.c_str(), nullptr, 1, 2000), Installed::Yes);
            }
            if (mode == 2) continue;
            Quiet();
            EXPECT_EQ(TempFiles(shm), std::vector<std::string>{"big.bin"});
            EXPECT_EQ(TempFiles().size(), mode == 0 ? 1u : 2u); // the uploads of d (and of c's new piece)
        }
        EXPECT_EQ(ReadFileText(target) == data, mode == 0);
        WriteFileText(target, "old");
    }
    fsys::ClearFaults();
    Quiet();
    EXPECT_EQ(TempFiles(shm), std::vector<std::string>{"big.bin"});
    EXPECT_TRUE(TempFiles().empty());
    DeleteFileA(target.c_str());
    RemoveDirectoryA(shm.c_str());
}

namespace {
// A daemon without a socket: replies are laid out in outPacket and the
// send goes nowhere.
struct Served {
    explicit Served(const std::string& root, const std::string& log) {
        std::strcpy(d.rootPath, (root + "\\").c_str());
        d.uploadOnly = 1;
        d.eventLog.StartLogFile(log.c_str());
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_port = htons(7000);
        a.sin_addr.s_addr = inet_addr("10.0.0.7");
        d.clientAddr = a;
    }
    // Serves command with data as sent (no NUL added) at position.
    void Serve(void (FSPDaemon::*handler)(), uint8_t command, const std::string& sent,
               uint32_t position = 0, const std::string& extra = "") {
        std::memset(d.outPacket, 0, sizeof(d.outPacket));
        buffer.assign(sent.begin(), sent.end());
        extraBuffer.assign(extra.begin(), extra.end());
        d.command = command;
        d.position = position;
        d.dataLength = uint32_t(sent.size());
        d.data = buffer.empty() ? nullptr : buffer.data();
        d.extraLength = uint32_t(extraBuffer.size());
        d.extraData = extraBuffer.empty() ? nullptr : extraBuffer.data();
        // The rights the access check notes for a tree without access files.
        d.dirRights = fsp::DirectoryRights(d.uploadOnly, d.readWrite, 0);
        (d.*handler)();
    }
    uint8_t ReplyCode() const { return d.outPacket[0]; }
    std::string Block() const { return std::string(reinterpret_cast<const char*>(d.outPacket + 12), fsp::GetU16(d.outPacket + 6)); }
    uint32_t ReplyPosition() const { return fsp::GetU32(d.outPacket + 8); }
    std::string ReplyText() const { return reinterpret_cast<const char*>(d.outPacket + 12); }
    FSPDaemon d;
    std::vector<unsigned char> buffer, extraBuffer;
};

std::string Nul(const std::string& s) { return s + std::string(1, '\0'); }
} // namespace

TEST_F(UploadHandlers, AnswersAndLogLinesOfEveryOutcome) {
    TempDir root;
    std::string logFile = dir.File("test.log");
    {
        Served s(root.path, logFile);
        // A piece is acknowledged at its own position.
        s.Serve(&FSPDaemon::Upload, fsp::CC_UP_LOAD, "hello", 0);
        EXPECT_EQ(s.ReplyCode(), fsp::CC_UP_LOAD);
        EXPECT_EQ(s.ReplyPosition(), 0u);
        s.Serve(&FSPDaemon::Upload, fsp::CC_UP_LOAD, " world", 5);
        EXPECT_EQ(s.ReplyCode(), fsp::CC_UP_LOAD);
        EXPECT_EQ(s.ReplyPosition(), 5u);
        EXPECT_EQ(fsp::GetU16(s.d.outPacket + 6), 0u);
        s.Serve(&FSPDaemon::Upload, fsp::CC_UP_LOAD, "x", 0x80000000u);
        EXPECT_EQ(s.ReplyCode(), fsp::CC_ERR);
        EXPECT_EQ(s.ReplyText(), "UPLOAD:  Error Uploading");

        // A name with no NUL in the bytes received is no name: refused,
        // and the upload ends with its file.
        s.Serve(&FSPDaemon::Install, fsp::CC_INSTALL, "new.txt");
        EXPECT_EQ(s.ReplyCode(), fsp::CC_ERR);
        EXPECT_EQ(s.ReplyText(), "INSTALL:  Error Installing New File");
        EXPECT_FALSE(FileExists(root.File("new.txt")));
        EXPECT_TRUE(TempFiles().empty());

        s.Serve(&FSPDaemon::Upload, fsp::CC_UP_LOAD, "hello world", 0);
        s.Serve(&FSPDaemon::Install, fsp::CC_INSTALL, Nul("/new.txt"));
        EXPECT_EQ(s.ReplyCode(), fsp::CC_INSTALL);
        EXPECT_EQ(s.ReplyPosition(), 0u);
        EXPECT_EQ(ReadFileText(root.File("new.txt")), "hello world");

        s.Serve(&FSPDaemon::MakeDirectory, fsp::CC_MAKE_DIR, Nul("sub/"));
        EXPECT_EQ(s.ReplyCode(), fsp::CC_MAKE_DIR);
        EXPECT_TRUE(FileExists(root.File("sub")));
        s.Serve(&FSPDaemon::MakeDirectory, fsp::CC_MAKE_DIR, Nul("sub"));
        EXPECT_EQ(s.ReplyText(), "MK_DIR:  Error making directory");
        s.Serve(&FSPDaemon::MakeDirectory, fsp::CC_MAKE_DIR, "loose");
        EXPECT_EQ(s.ReplyText(), "MK_DIR:  Error making directory");
        EXPECT_FALSE(FileExists(root.File("loose")));
        s.Serve(&FSPDaemon::DeleteDirectory, fsp::CC_DEL_DIR, Nul("new.txt"));
        EXPECT_EQ(s.ReplyText(), "DEL_DIR:  Error removing directory");
        s.Serve(&FSPDaemon::DeleteFileA, fsp::CC_DEL_FILE, Nul("sub"));
        EXPECT_EQ(s.ReplyText(), "DEL_FILE:  Error deleting file!");
        s.Serve(&FSPDaemon::DeleteFileA, fsp::CC_DEL_FILE, Nul("new.txt"));
        EXPECT_EQ(s.ReplyCode(), fsp::CC_DEL_FILE);
        EXPECT_FALSE(FileExists(root.File("new.txt")));
        s.Serve(&FSPDaemon::DeleteDirectory, fsp::CC_DEL_DIR, Nul("sub"));
        EXPECT_EQ(s.ReplyCode(), fsp::CC_DEL_DIR);
        EXPECT_FALSE(FileExists(root.File("sub")));
    }
    std::string log = ReadFileText(logFile);
    const char* expected[] = {
        "[10.0.0.7]: Begin Upload",
        "[10.0.0.7]: UPLOAD:  Error Uploading",
        "[10.0.0.7]: INSTALL:  Error Installing New File",
        "[10.0.0.7]: Not installed: new.txt",
        "[10.0.0.7]: Begin Upload",
        "[10.0.0.7]: Uploaded /new.txt",
        "[10.0.0.7]: Created directory sub/",
        "[10.0.0.7]: MK_DIR:  Error making directory (error 183)",
        "[10.0.0.7]: Created directory sub",
        "[10.0.0.7]: MK_DIR:  Error making directory",
        "[10.0.0.7]: Created directory loose",
        "[10.0.0.7]: DEL_DIR:  Error removing directory (error 267)",
        "[10.0.0.7]: Removed directory new.txt",
        "[10.0.0.7]: DEL_FILE:  Error deleting file! (error 5)",
        "[10.0.0.7]: Deleted sub",
        "[10.0.0.7]: Deleted new.txt",
        "[10.0.0.7]: Removed directory sub",
    };
    size_t at = 0;
    for (const char* line : expected) {
        size_t found = log.find(std::string(line) + "\r\n", at);
        ASSERT_NE(found, std::string::npos) << "missing in order: " << line << "\n" << log;
        at = found + 1;
    }
}

// A copy to another volume (a slow one: every read 20 ms late) whose
// target's folder is renamed while it runs: the copy is given up and,
// once its thread has ended, nothing of it is left in the renamed folder
// or in the upload folder; the folder can be removed, and the install's
// resend is told it failed.
TEST_F(UploadHandlers, ACopyWhoseFolderIsRenamedLeavesNothing) {
    std::string shm = "Z:\\dev\\shm\\vfspd-r" + std::to_string(GetCurrentProcessId());
    if (!CreateDirectoryA(shm.c_str(), nullptr)) GTEST_SKIP() << "no /dev/shm";
    CreateDirectoryA((shm + "\\d1").c_str(), nullptr);
    {
        Served s(shm, dir.File("test.log"));
        s.d.readWrite = 1;
        fsys::InjectDelay(fsys::Call::Read, 20);
        const std::string piece(1 << 20, 'p');
        for (uint32_t at = 0; at < (6u << 20); at += 1u << 20) s.Serve(&FSPDaemon::Upload, fsp::CC_UP_LOAD, piece, at);
        s.Serve(&FSPDaemon::Install, fsp::CC_INSTALL, Nul("d1/big.bin"));
        EXPECT_EQ(s.ReplyCode(), 0) << "answered before the copy ended";
        ASSERT_EQ(TempFiles(shm + "\\d1").size(), 1u); // the hidden copy
        s.Serve(&FSPDaemon::Rename, fsp::CC_RENAME, Nul("d1"), 0, Nul("d2"));
        EXPECT_EQ(s.ReplyCode(), fsp::CC_RENAME);
        for (ULONGLONG t = GetTickCount64(); VolumeCopy::Running() && GetTickCount64() - t < 10000;) Sleep(10);
        fsys::ClearFaults();
        EXPECT_TRUE(TempFiles(shm + "\\d2").empty());
        EXPECT_TRUE(TempFiles().empty()) << "a record or the upload stayed";
        s.Serve(&FSPDaemon::Install, fsp::CC_INSTALL, Nul("d1/big.bin"));
        EXPECT_EQ(s.ReplyText(), "INSTALL:  Error Installing New File");
        s.Serve(&FSPDaemon::DeleteDirectory, fsp::CC_DEL_DIR, Nul("d2"));
        EXPECT_EQ(s.ReplyCode(), fsp::CC_DEL_DIR);
    }
    RemoveDirectoryA(shm.c_str());
}

// Injected faults answer their texts, logged with the system's code; a held
// file is retried a moment. Windows' refusals of plain renames and deletes
// of open files, played while a download is open: every change goes
// through, and the download gets an error, never a block of another file.
TEST_F(UploadHandlers, InjectedFaultsAndWindowsRefusalsOfOpenFiles) {
    TempDir root;
    CreateDirectoryA(root.File("d").c_str(), nullptr);
    const std::string old(3000, 'o');
    for (const char* f : {"d\\g.bin", "h.bin"}) WriteFileText(root.File(f), old);
    using F = FSPDaemon; using C = fsys::Call;
    struct Fault { C call; DWORD error; int times; void (F::*serve)(); uint8_t command; const char* path; const char* reply; };
    const Fault faults[] = {{C::Write, ERROR_DISK_FULL, -1, &F::Upload, fsp::CC_UP_LOAD, "", "UPLOAD:  Error Uploading"},
                            {C::Move, ERROR_SHARING_VIOLATION, -1, &F::Install, fsp::CC_INSTALL, "f.bin", "INSTALL:  Error Installing New File"},
                            {C::Move, ERROR_SHARING_VIOLATION, 3, &F::Install, fsp::CC_INSTALL, "f.bin", ""},
                            {C::Move, ERROR_ACCESS_DENIED, -1, &F::Rename, fsp::CC_RENAME, "f.bin", "RENAME:  Error renaming"},
                            {C::Find, ERROR_ACCESS_DENIED, -1, &F::GetDirectory, fsp::CC_GET_DIR, "d", "Directory d does not exist!"}};
    Served s(root.path, dir.File("faults.log"));
    s.d.readWrite = 1;
    auto rename = [](uint8_t command, const char* to) { return command == fsp::CC_RENAME ? Nul(to) : ""; };
    for (C c : {C::PosixMove, C::PosixDelete}) fsys::InjectFault(c, ERROR_INVALID_PARAMETER); // as under Wine
    for (const Fault& c : faults) {
        if (c.command == fsp::CC_INSTALL) s.Serve(&F::Upload, fsp::CC_UP_LOAD, old, 0);
        fsys::InjectFault(c.call, c.error, c.times);
        const ULONGLONG start = GetTickCount64();
        s.Serve(c.serve, c.command, Nul(c.path), uint32_t(rename(c.command, "x").size()), rename(c.command, "x"));
        fsys::InjectFault(c.call, 0, 0);
        EXPECT_EQ(s.ReplyText(), c.reply);
        EXPECT_TRUE(c.times >= 0 || c.error != ERROR_SHARING_VIOLATION || GetTickCount64() - start >= fsys::kRetryMs) << c.reply;
        EXPECT_TRUE(!*c.reply || ReadFileText(dir.File("faults.log")).find(std::string(c.reply) + " (error " + std::to_string(c.error) + ")\r\n") != std::string::npos) << c.reply;
    }
    auto held = [&] { return s.d.openFiles.Count() > 0; };
    for (C c : {C::Move, C::Delete}) fsys::InjectFault(c, ERROR_ACCESS_DENIED, -1, nullptr, held);
    struct Change { const char* file; void (F::*change)(); uint8_t command; const char* path; const char* read; };
    const Change changes[] = {{"f.bin", &F::Install, fsp::CC_INSTALL, "F.BIN", "F.BIN"},
                              {"d/g.bin", &F::Rename, fsp::CC_RENAME, "D", "d/g.bin"},
                              {"h.bin", &F::DeleteFileA, fsp::CC_DEL_FILE, "h.bin", "H.bin"}};
    for (const Change& c : changes) {
        s.Serve(&F::GetFile, fsp::CC_GET_FILE, Nul(c.file), 0);
        EXPECT_TRUE(s.Block() == old.substr(0, 1024) && held()) << c.file;
        if (c.command == fsp::CC_INSTALL) s.Serve(&F::Upload, fsp::CC_UP_LOAD, "new", 0);
        s.Serve(c.change, c.command, Nul(c.path), uint32_t(rename(c.command, "e").size()), rename(c.command, "e"));
        EXPECT_EQ(s.ReplyCode(), c.command) << s.ReplyText();
        s.Serve(&F::GetFile, fsp::CC_GET_FILE, Nul(c.read), 1024);
        EXPECT_EQ(s.ReplyText(), std::string("Read error on file: ") + c.read);
    }
    fsys::ClearFaults();
    EXPECT_TRUE(ReadFileText(root.File("e\\g.bin")) == old && ReadFileText(root.File("f.bin")) == "new" && !FileExists(root.File("h.bin")));
}
