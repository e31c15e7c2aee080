// The upload cache against real temporary files, and the upload, install
// and namespace handlers served in-process from a hand-made request.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "../../engine/FSPDaemon.h"
#include "../../engine/UploadCache.h"
#include "WinTest.h"

namespace {

sockaddr Client(unsigned short port, const char* ip) {
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = inet_addr(ip);
    sockaddr s;
    std::memcpy(&s, &a, sizeof(s));
    return s;
}

// Names of the FSP*.tmp files in the current directory.
std::vector<std::string> TempFiles() {
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA("FSP*.tmp", &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do names.push_back(fd.cFileName);
    while (FindNextFileA(h, &fd));
    FindClose(h);
    return names;
}

// Runs the test in a fresh working directory, where the temporary files
// of the cache are made.
class InTempDir : public testing::Test {
protected:
    void SetUp() override {
        GetCurrentDirectoryA(sizeof(saved), saved);
        ASSERT_TRUE(SetCurrentDirectoryA(dir.path.c_str()));
    }
    void TearDown() override { SetCurrentDirectoryA(saved); }
    TempDir dir;
    char saved[MAX_PATH] = {};
};

using UploadCacheList = InTempDir;
using UploadCacheFiles = InTempDir;
using UploadHandlers = InTempDir;

unsigned char* Bytes(std::string& s) { return reinterpret_cast<unsigned char*>(&s[0]); }

} // namespace

TEST_F(UploadCacheList, AddsAtHeadFindsByPortAndAddressRemovesAnywhere) {
    UploadCache cache;
    sockaddr a = Client(3000, "10.0.0.7"), b = Client(3001, "10.0.0.7"), c = Client(3000, "10.0.0.8");
    UploadEntry* ea = cache.Add(&a);
    UploadEntry* eb = cache.Add(&b);
    UploadEntry* ec = cache.Add(&c);
    ASSERT_TRUE(ea && eb && ec);
    // Newest first, linked both ways.
    EXPECT_EQ(cache.head, ec);
    EXPECT_EQ(ec->prev, nullptr);
    EXPECT_EQ(ec->next, eb);
    EXPECT_EQ(eb->prev, ec);
    EXPECT_EQ(eb->next, ea);
    EXPECT_EQ(ea->prev, eb);
    EXPECT_EQ(ea->next, nullptr);
    EXPECT_EQ(std::memcmp(&eb->address, &b, sizeof(sockaddr)), 0);
    // Each entry made its own empty file in the working directory.
    EXPECT_EQ(TempFiles().size(), 3u);
    EXPECT_STRNE(ea->tempFileName, eb->tempFileName);
    EXPECT_EQ(ReadFileText(ea->tempFileName), "");

    // Only port and address count: another family and junk in the zero
    // bytes still find the entry; same port at another address does not.
    sockaddr probe = a;
    probe.sa_family = 0;
    std::memset(probe.sa_data + 6, 0x5A, 8);
    EXPECT_EQ(cache.Find(&probe), ea);
    EXPECT_EQ(cache.Find(&c), ec);
    sockaddr other = Client(3002, "10.0.0.7");
    EXPECT_EQ(cache.Find(&other), nullptr);
    EXPECT_EQ(cache.Remove(&other), 0);

    // Middle, then tail, then the head; the files stay where they are.
    std::string fileB = eb->tempFileName;
    EXPECT_EQ(cache.Remove(&b), 1);
    EXPECT_EQ(cache.head, ec);
    EXPECT_EQ(ec->next, ea);
    EXPECT_EQ(ea->prev, ec);
    EXPECT_EQ(cache.Find(&b), nullptr);
    EXPECT_TRUE(FileExists(fileB));
    EXPECT_EQ(cache.Remove(&a), 1);
    EXPECT_EQ(ec->next, nullptr);
    EXPECT_EQ(cache.Remove(&c), 1);
    EXPECT_EQ(cache.head, nullptr);
    EXPECT_EQ(cache.Remove(&c), 0);

    // Removing the head of several hands the head on.
    UploadEntry* e1 = cache.Add(&a);
    UploadEntry* e2 = cache.Add(&b);
    ASSERT_TRUE(e1 && e2);
    EXPECT_EQ(cache.Remove(&b), 1);
    EXPECT_EQ(cache.head, e1);
    EXPECT_EQ(e1->prev, nullptr);
    EXPECT_EQ(cache.Find(&a), e1);
}

TEST_F(UploadCacheFiles, EntriesEndingWithoutInstallTakeTheirFileAlong) {
    sockaddr a = Client(4000, "127.0.0.1"), b = Client(4001, "127.0.0.1");
    std::string fileA;
    {
        UploadCache cache;
        UploadEntry* ea = cache.Add(&a);
        ASSERT_TRUE(ea && cache.Add(&b));
        fileA = ea->tempFileName;
        EXPECT_EQ(cache.Discard(&a), 1);
        EXPECT_FALSE(FileExists(fileA));
        EXPECT_EQ(cache.Find(&a), nullptr);
        EXPECT_EQ(cache.Discard(&a), 0);
        EXPECT_EQ(TempFiles().size(), 1u);
    }
    // The destructor removes what was still open.
    EXPECT_TRUE(TempFiles().empty());
}

TEST_F(UploadCacheFiles, PiecesInAnyOrderGiveTheSameInstalledFile) {
    std::string data;
    for (int i = 0; i < 2548; ++i) data += char('A' + (i * 7) % 26);
    std::string p0 = data.substr(0, 1024), p1 = data.substr(1024, 1024), p2 = data.substr(2048);
    UploadCache cache;
    sockaddr fwd = Client(5000, "10.0.0.7"), rev = Client(5001, "10.0.0.7");

    ASSERT_EQ(cache.Upload(&fwd, 0, Bytes(p0), 1024), 1);
    ASSERT_EQ(cache.Upload(&fwd, 1024, Bytes(p1), 1024), 1);
    ASSERT_EQ(cache.Upload(&fwd, 2048, Bytes(p2), 500), 1);
    // Reversed, with repeats, a late first piece among them: no piece at
    // position 0 starts the file afresh.
    ASSERT_EQ(cache.Upload(&rev, 2048, Bytes(p2), 500), 1);
    ASSERT_EQ(cache.Upload(&rev, 1024, Bytes(p1), 1024), 1);
    ASSERT_EQ(cache.Upload(&rev, 0, Bytes(p0), 1024), 1);
    ASSERT_EQ(cache.Upload(&rev, 2048, Bytes(p2), 500), 1);
    ASSERT_EQ(cache.Upload(&rev, 0, Bytes(p0), 1024), 1);
    EXPECT_EQ(TempFiles().size(), 2u);
    EXPECT_EQ(ReadFileText(cache.Find(&rev)->tempFileName), data);

    CreateDirectoryA("pub", nullptr);
    char t1[] = "pub\\fwd.txt", t2[] = "pub\\rev.txt";
    EXPECT_EQ(cache.Install(&fwd, t1), 1);
    EXPECT_EQ(cache.Install(&rev, t2), 1);
    EXPECT_EQ(ReadFileText(t1), data);
    EXPECT_EQ(ReadFileText(t2), data);
    EXPECT_EQ(cache.head, nullptr);
    EXPECT_TRUE(TempFiles().empty());
    // The entry went with the install.
    EXPECT_EQ(cache.Install(&fwd, t1), 0);
}

TEST_F(UploadCacheFiles, RefusedPiecesAndFailedInstallsLeaveNothingBehind) {
    UploadCache cache;
    sockaddr a = Client(6000, "10.0.0.9");
    std::string piece(16, 'x');

    // An empty piece still opens the upload with its empty file.
    ASSERT_EQ(cache.Upload(&a, 0, nullptr, 0), 1);
    ASSERT_TRUE(cache.Find(&a));
    EXPECT_EQ(ReadFileText(cache.Find(&a)->tempFileName), "");
    // A position that reads as negative cannot be reached.
    EXPECT_EQ(cache.Upload(&a, -2147483647L - 1, Bytes(piece), 16), 0);
    EXPECT_EQ(cache.Upload(&a, -1, Bytes(piece), 16), 0);
    EXPECT_EQ(ReadFileText(cache.Find(&a)->tempFileName), "");
    EXPECT_EQ(cache.Upload(&a, 4, Bytes(piece), 16), 1);

    // Onto an existing file: refused, the file kept, the upload ended
    // with its temporary file.
    WriteFileText("taken.txt", "keep me");
    char taken[] = "taken.txt";
    EXPECT_EQ(cache.Install(&a, taken), 0);
    EXPECT_EQ(ReadFileText("taken.txt"), "keep me");
    EXPECT_EQ(cache.Find(&a), nullptr);
    EXPECT_TRUE(TempFiles().empty());
    EXPECT_EQ(cache.Install(&a, taken), 0);

    // Into a directory that is not there.
    ASSERT_EQ(cache.Upload(&a, 0, Bytes(piece), 16), 1);
    char nowhere[] = "missing\\new.txt";
    EXPECT_EQ(cache.Install(&a, nowhere), 0);
    EXPECT_FALSE(FileExists("missing"));
    EXPECT_TRUE(TempFiles().empty());
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
               uint32_t position = 0) {
        std::memset(d.outPacket, 0, sizeof(d.outPacket));
        buffer.assign(sent.begin(), sent.end());
        d.command = command;
        d.position = position;
        d.dataLength = uint32_t(buffer.size());
        d.data = buffer.empty() ? nullptr : buffer.data();
        d.extraLength = 0;
        d.extraData = nullptr;
        (d.*handler)();
    }
    uint8_t ReplyCode() const { return d.outPacket[0]; }
    uint32_t ReplyPosition() const { return fsp::GetU32(d.outPacket + 8); }
    std::string ReplyText() const { return reinterpret_cast<const char*>(d.outPacket + 12); }
    FSPDaemon d;
    std::vector<unsigned char> buffer;
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
        "[10.0.0.7]: Uploaded new.txt",
        "[10.0.0.7]: Begin Upload",
        "[10.0.0.7]: Uploaded /new.txt",
        "[10.0.0.7]: Created directory sub/",
        "[10.0.0.7]: MK_DIR:  Error making directory",
        "[10.0.0.7]: Created directory sub",
        "[10.0.0.7]: MK_DIR:  Error making directory",
        "[10.0.0.7]: Created directory loose",
        "[10.0.0.7]: DEL_DIR:  Error removing directory",
        "[10.0.0.7]: Removed directory new.txt",
        "[10.0.0.7]: DEL_FILE:  Error deleting file!",
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
