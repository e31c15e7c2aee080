#include <gtest/gtest.h>

#include <regex>

#include "../../settings/EventLog.h"
#include "WinTest.h"

namespace {
sockaddr_in Client(const char* ip) {
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(3000);
    a.sin_addr.s_addr = inet_addr(ip);
    return a;
}
const sockaddr* Addr(const sockaddr_in& a) { return reinterpret_cast<const sockaddr*>(&a); }

const char kStamp[] = "(Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
                      "[0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4}";
} // namespace

TEST(EventLog, WritesNothingWhileClosed) {
    TempDir dir;
    EventLog log;
    auto a = Client("10.0.0.7");
    log.Log(Addr(a), "nothing", 0);
    log.Log("nothing");
    log.LogAsIs("nothing");
    log.FlushLogFile(); // opens nothing on a closed log
    EXPECT_FALSE(log.IsOpen());
    EXPECT_FALSE(FileExists(dir.File("VFSPD.LOG")));
}

// The line forms themselves are the core's (LogTextTest); here what only
// the file shows: the real time stamp, the address, the lookup, the line
// ends of text written as is, and the buffer each kind of line is cut at.
TEST(EventLog, LinesInTheFile) {
    TempDir dir;
    std::string path = dir.File("t.log");
    {
        EventLog log;
        ASSERT_EQ(log.StartLogFile(path.c_str()), 1);
        auto a = Client("10.0.0.7");
        log.Log(Addr(a), "Unsupported Command!", 0);
        log.LogAsIs("as is");
        log.LogAsIs("own end\r\n");
        log.LogAsIs("lone lf\n");
        // A lookup that fails falls back to the dotted address. 192.0.2.x is
        // reserved for documentation and has no name.
        auto b = Client("192.0.2.1");
        log.Log(Addr(b), "looked up", 1);
        log.Log(Addr(a), std::string(1000, 'x').c_str(), 0);
        log.Log(std::string(2000, 'y').c_str());
    }
    std::string text = ReadFileText(path);
    std::string s = kStamp;
    // 256- and 1024-byte buffers less the NUL.
    std::regex expected(s + " \\[10\\.0\\.0\\.7\\]: Unsupported Command!\r\n"
                        "as is\r\n"
                        "own end\r\n"
                        "lone lf\n\r\n" +
                        s + " \\[192\\.0\\.2\\.1\\]: looked up\r\n" +
                        s + " \\[10\\.0\\.0\\.7\\]: x{" + std::to_string(255 - 24 - 13 - 2) + "}\r\n" +
                        s + " y{" + std::to_string(1023 - 24 - 1 - 2) + "}\r\n");
    EXPECT_TRUE(std::regex_match(text, expected)) << text;
}

TEST(EventLog, AppendsAcrossReopeningAndStartingTwice) {
    TempDir dir;
    std::string path = dir.File("append.log");
    WriteFileText(path, "old line\r\n");
    EventLog log;
    ASSERT_EQ(log.StartLogFile(path.c_str()), 1);
    log.LogAsIs("one");
    ASSERT_EQ(log.StartLogFile(path.c_str()), 1); // closes first, even on the same path
    log.LogAsIs("two");
    log.FlushLogFile();
    EXPECT_TRUE(log.IsOpen());
    // After a flush the file on disk is complete and others may read it.
    EXPECT_EQ(ReadFileText(path), "old line\r\none\r\ntwo\r\n");
    log.LogAsIs("three");
    log.StopLogFile();
    EXPECT_EQ(ReadFileText(path), "old line\r\none\r\ntwo\r\nthree\r\n");
}

TEST(EventLog, RefusesAPathItCannotOpen) {
    TempDir dir;
    EventLog log;
    EXPECT_EQ(log.StartLogFile(dir.File("no\\such\\dir.log").c_str()), 0);
    EXPECT_FALSE(log.IsOpen());
    std::string tooLong(300, 'a');
    EXPECT_EQ(log.StartLogFile(tooLong.c_str()), 0);
    EXPECT_FALSE(log.IsOpen());
}

TEST(EventLog, ALogPastItsLimitMovesToDotOneAndBeginsAnew) {
    TempDir dir;
    std::string path = dir.File("roll.log"), older = path + ".1";
    WriteFileText(path, std::string(50, 'o') + "\r\n");
    WriteFileText(older, "an older generation\r\n");
    std::string line(40, 'n');
    EventLog log;
    log.rollSize = 100;
    ASSERT_EQ(log.StartLogFile(path.c_str()), 1); // counts what is there
    log.LogAsIs(line);
    EXPECT_EQ(ReadFileText(older), "an older generation\r\n");
    log.LogAsIs(line); // 136 bytes: past the limit
    EXPECT_EQ(ReadFileText(older), std::string(50, 'o') + "\r\n" + line + "\r\n" + line + "\r\n");
    log.LogAsIs("next");
    log.FlushLogFile();
    EXPECT_EQ(ReadFileText(path), "next\r\n");
    EXPECT_TRUE(log.IsOpen());
}
