#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/core/Packet.h"
#include "engine/core/Paths.h"
#include "engine/core/Policy.h"

using namespace fsp;

TEST(Policy, ThreeLevelsOverEveryCommand) {
    struct Row {
        uint8_t code;
        int readOnly, upload, full;
    } rows[] = {
        {CC_VERSION, 1, 1, 1},   {CC_GET_DIR, 1, 1, 1},  {CC_GET_FILE, 1, 1, 1},
        {CC_UP_LOAD, 0, 1, 1},   {CC_INSTALL, 0, 1, 1},  {CC_DEL_FILE, 0, 0, 1},
        {CC_DEL_DIR, 0, 0, 1},   {CC_GET_PRO, 1, 1, 1},  {CC_SET_PRO, 0, 0, 0},
        {CC_MAKE_DIR, 0, 1, 1},  {CC_BYE, 1, 1, 1},      {CC_GRAB_FILE, 0, 0, 0},
        {CC_GRAB_DONE, 0, 0, 0},
    };
    for (const Row& r : rows) {
        const CommandPolicy* p = FindPolicy(r.code);
        ASSERT_NE(p, nullptr) << int(r.code);
        EXPECT_EQ(Allowed(p->access, 0, 0), r.readOnly) << int(r.code);
        EXPECT_EQ(Allowed(p->access, 1, 0), r.upload) << int(r.code);
        EXPECT_EQ(Allowed(p->access, 0, 8), r.full) << int(r.code);
        EXPECT_EQ(Allowed(p->access, 8, 1), r.full) << int(r.code);
        EXPECT_EQ(p->refusal == nullptr, r.readOnly == 1) << int(r.code);
    }
    EXPECT_STREQ(FindPolicy(CC_DEL_FILE)->refusal, "DEL_FILE: Access Denied");
    EXPECT_STREQ(FindPolicy(CC_DEL_DIR)->refusal, "RMDIR:  Access Denied");
    for (int code : {0x00, 0x20, 0x40, 0x4D, 0xFF}) EXPECT_EQ(FindPolicy(uint8_t(code)), nullptr);
}

TEST(Policy, FlagAndProtectionBytes) {
    EXPECT_EQ(ServerFlagByte(1, 1, 0, 0, 0, 0), 0x01); // first-run defaults
    EXPECT_EQ(ServerFlagByte(1, 0, 0, 0, 0, 0), 0x03);
    EXPECT_EQ(ServerFlagByte(0, 0, 1, 0, 0, 0), 0x00);
    EXPECT_EQ(ServerFlagByte(8, 0, 0, 8, 8, 8), 0x1F);
    EXPECT_EQ(ProtectionByte(0, 0), 0x20);
    EXPECT_EQ(ProtectionByte(1, 0), 0x24);
    EXPECT_EQ(ProtectionByte(0, 1), 0x2E);
    EXPECT_EQ(ProtectionByte(8, 8), 0x2E);
    EXPECT_EQ(std::strlen(kVersionText) + 1, size_t(kVersionTextSize));
}

namespace {
std::string Clean(std::string s) {
    char buf[512];
    std::strcpy(buf, s.c_str());
    char* r = CleanPath(buf);
    return r ? std::string(buf) : "<null>";
}
std::string Local(const char* root, const char* path) {
    char out[kMaxPath];
    return BuildLocalPath(out, root, path) ? std::string(out) : "<refused>";
}
} // namespace

TEST(Paths, CleanPathNormalisesOnceAtEachEnd) {
    EXPECT_EQ(Clean(""), "<null>");
    EXPECT_EQ(Clean("/pub/docs/"), "pub\\docs");
    EXPECT_EQ(Clean("C:\\\\pub\\docs"), "C:\\\\pub\\docs");
    EXPECT_EQ(Clean("//a//"), "\\a\\");
    EXPECT_EQ(Clean("C:\\"), "C:");
    EXPECT_EQ(Clean("\\"), "");
}

TEST(Paths, LocalPathsStayUnderTheRoot) {
    EXPECT_EQ(Local("C:\\", "/pub/docs"), "C:\\\\pub\\docs");
    EXPECT_EQ(Local("C:\\", ""), "C:");
    EXPECT_EQ(Local("C:\\", "/"), "C:\\");
    EXPECT_EQ(Local("Z:\\srv\\", "a/b.txt"), "Z:\\srv\\a\\b.txt");
    // A root without its final backslash still gets a separator.
    EXPECT_EQ(Local("Z:\\data", "x"), "Z:\\data\\x");
    EXPECT_EQ(Local("Z:\\data", "../x"), "<refused>");
    EXPECT_EQ(Local("Z:\\srv\\", "a..b"), "<refused>");
    EXPECT_EQ(Local("Z:\\srv\\", "/a/../b"), "<refused>");
    EXPECT_EQ(Local("Z:\\srv..\\", "x"), "<refused>");
    // Another drive, or a stream of a file under the root.
    EXPECT_EQ(Local("Z:\\srv\\", "C:/x"), "<refused>");
    EXPECT_EQ(Local("Z:\\srv\\", "a.txt:hidden"), "<refused>");

    std::string root = "Z:\\";
    std::string fits(259 - root.size(), 'n');
    EXPECT_EQ(Local(root.c_str(), fits.c_str()).size(), 259u);
    EXPECT_EQ(Local(root.c_str(), (fits + "n").c_str()), "<refused>");
    std::string longRoot(259, 'r');
    EXPECT_EQ(Local(longRoot.c_str(), "x"), "<refused>");
}

TEST(Paths, DeviceNamesAreRefusedAnywhereAlongThePath) {
    for (const char* p : {"CON", "PRN", "AUX", "NUL", "COM1", "COM9", "LPT1", "LPT9", "con", "nUl",
                          "Lpt3", "con.txt", "NUL.tar.gz", "aux.", "nul .txt", "com1 ", "sub/NUL",
                          "sub\\con.log", "NUL/x", "/prn", "a/b/lpt2.dat/c"})
        EXPECT_EQ(Local("Z:\\srv\\", p), "<refused>") << p;
    // Names that only begin or end like a device name are files.
    EXPECT_EQ(Local("Z:\\srv\\", "CONSOLE"), "Z:\\srv\\CONSOLE");
    EXPECT_EQ(Local("Z:\\srv\\", "null"), "Z:\\srv\\null");
    EXPECT_EQ(Local("Z:\\srv\\", "COM0"), "Z:\\srv\\COM0");
    EXPECT_EQ(Local("Z:\\srv\\", "COM10"), "Z:\\srv\\COM10");
    EXPECT_EQ(Local("Z:\\srv\\", "LPT"), "Z:\\srv\\LPT");
    EXPECT_EQ(Local("Z:\\srv\\", "xcon.txt"), "Z:\\srv\\xcon.txt");
    EXPECT_EQ(Local("Z:\\srv\\", "my.con"), "Z:\\srv\\my.con");
    EXPECT_EQ(Local("Z:\\srv\\", "nul_/x"), "Z:\\srv\\nul_\\x");
    // The root itself is the operator's and is not judged.
    EXPECT_EQ(Local("Z:\\NUL\\", "x"), "Z:\\NUL\\x");
}

TEST(Paths, NamesEndingInADotOrABlankAreRefused) {
    // The platform drops them and would open another name than the one
    // asked for: "f." is "f", "sub./x" is "sub\x".
    for (const char* p : {"f.", "f ", "dir.", "dir./", "f. .", "f .", "sub./inner.txt",
                          "sub /inner.txt", ".", "./f", "a/./b", " ", "a\\b. \\c"})
        EXPECT_EQ(Local("Z:\\srv\\", p), "<refused>") << p;
    // Dots and blanks elsewhere in a name are part of it, and a trailing
    // separator ends the path, not a name.
    EXPECT_EQ(Local("Z:\\srv\\", ".hidden"), "Z:\\srv\\.hidden");
    EXPECT_EQ(Local("Z:\\srv\\", "a.b.c"), "Z:\\srv\\a.b.c");
    EXPECT_EQ(Local("Z:\\srv\\", " lead"), "Z:\\srv\\ lead");
    EXPECT_EQ(Local("Z:\\srv\\", "two words.txt"), "Z:\\srv\\two words.txt");
    EXPECT_EQ(Local("Z:\\srv\\", "dir/"), "Z:\\srv\\dir");
    EXPECT_EQ(Local("Z:\\srv\\", "a//b"), "Z:\\srv\\a\\\\b");
    EXPECT_EQ(Local("Z:\\srv\\", "/"), "Z:\\srv\\");
    EXPECT_EQ(Local("Z:\\srv.\\", "x"), "Z:\\srv.\\x");
}

TEST(Paths, OnlyAPathWithANameNamesAnEntryBelowTheRoot) {
    for (const char* p : {"", "/", "\\", "//", "/\\/"}) EXPECT_EQ(NamesEntry(p), 0) << p;
    for (const char* p : {"a", "/a", "a/", "\\\\a", " ", "."}) EXPECT_EQ(NamesEntry(p), 1) << p;
}
