#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

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
        {CC_GRAB_DONE, 0, 0, 0}, {CC_STAT, 1, 1, 1},     {CC_RENAME, 0, 0, 1},
    };
    for (const Row& r : rows) {
        const CommandPolicy* p = FindPolicy(r.code);
        ASSERT_NE(p, nullptr) << int(r.code);
        EXPECT_EQ(Allowed(p->access, 0, 0), r.readOnly) << int(r.code);
        EXPECT_EQ(Allowed(p->access, 1, 0), r.upload) << int(r.code);
        EXPECT_EQ(Allowed(p->access, 0, 8), r.full) << int(r.code);
        EXPECT_EQ(Allowed(p->access, 8, 1), r.full) << int(r.code);
        // Without access files a directory's rights are exactly the level.
        if (p->need != Need::None && p->need != Need::Upload)
            for (auto [u, rw] : {std::pair{0, 0}, {1, 0}, {0, 1}})
                EXPECT_EQ(Permitted(p->need, DirectoryRights(u, rw, 0)), Allowed(p->access, u, rw)) << int(r.code);
    }
    for (int code : {0x00, 0x20, 0x40, 0x4F, 0xFF}) EXPECT_EQ(FindPolicy(uint8_t(code)), nullptr);
}

TEST(Policy, FlagAndProtectionBytes) {
    EXPECT_EQ(ServerFlagByte(1, 1, 0, 0, 0, 0), 0x21); // first-run defaults
    EXPECT_EQ(ServerFlagByte(1, 0, 0, 0, 0, 0), 0x23);
    EXPECT_EQ(ServerFlagByte(0, 0, 1, 0, 0, 0), 0x20);
    EXPECT_EQ(ServerFlagByte(8, 0, 0, 8, 8, 8), 0x3F);
    unsigned char x[8];
    ASSERT_EQ(VersionExtras(x, 0x23, 0, 1452), 3);
    EXPECT_EQ(std::vector<int>(x, x + 3), (std::vector<int>{0x23, 0x05, 0xAC}));
    ASSERT_EQ(VersionExtras(x, 0x30, 1000000, 4380), 7);
    EXPECT_EQ(std::vector<int>(x, x + 7), (std::vector<int>{0x30, 0x00, 0x0F, 0x42, 0x40, 0x11, 0x1C}));
    // The level's rights, plus and minus a directory's files.
    struct Row { int u, rw; unsigned files; int protection; } rows[] = {
        {0, 0, 0, 0x60}, {1, 0, 0, 0x6C}, {0, 1, 0, 0xEE}, {8, 8, 0, 0xEE},
        {0, 0, kOkAdd | kOkDel | kOkMkdir | kOkRename, 0xEE}, {0, 0, kOkAdd, 0x64},
        {0, 0, kNoGet | kNoList, 0x30}, {0, 1, kNoList | kOkAdd, 0xAE},
    };
    for (const Row& r : rows) EXPECT_EQ(ProtectionByte(DirectoryRights(r.u, r.rw, r.files)), r.protection) << r.files;
    EXPECT_EQ(RefusingRule(Need::Add, 0, 0, 1, kOkDel), "read-only level, no .FSP_OK_ADD");
    EXPECT_EQ(RefusingRule(Need::Get, 0, 1, 1, kNoGet), ".FSP_NO_GET");
    // The directory a path is in, and the brief notes of access files.
    char out[16];
    for (auto [path, parent] : std::vector<std::pair<const char*, const char*>>{
             {"swiss/game.iso", "swiss/"}, {"/a\\b/c/", "/a\\b/"}, {"f", ""}, {"/", ""},
             {"", ""}, {"d/./", ""}, {"d/e/.", "d/"}})
        EXPECT_STREQ(ParentPath(path, out, sizeof(out)), parent) << path;
    AccessFileCache cache;
    cache.Keep("Z:\\srv", kOkAdd, 1000);
    EXPECT_EQ(cache.Find("Z:\\srv", 1000 + AccessFileCache::kMaxAgeMs - 1), int(kOkAdd));
    EXPECT_EQ(cache.Find("Z:\\srv", 1000 + AccessFileCache::kMaxAgeMs), -1);
    for (size_t i = 0; i < 2 * AccessFileCache::kMaxDirs; ++i) cache.Keep(std::to_string(i), 0, 2000);
    EXPECT_EQ(cache.Find(std::to_string(2 * AccessFileCache::kMaxDirs - 1), 2000), 0);
}

namespace {
std::string Clean(std::string s) {
    char buf[512];
    std::strcpy(buf, s.c_str());
    char* r = CleanPath(buf);
    return r ? std::string(buf) : "<null>";
}
std::string Local(const char* root, const char* path) {
    char out[kMaxLocalPath];
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
    EXPECT_EQ(Local("C:\\", "/pub/docs"), "C:\\pub\\docs");
    // The root itself, however it is named, is given as it stands.
    for (const char* p : {"", "/", "\\", ".", "./", "/./.", "//"}) {
        EXPECT_EQ(Local("C:\\", p), "C:\\") << p;
        EXPECT_EQ(NamesEntry(p), 0) << p;
    }
    EXPECT_EQ(Local("Z:\\srv\\", "a/b.txt"), "Z:\\srv\\a\\b.txt");
    EXPECT_EQ(Local("Z:\\srv\\", "./sub/./f"), "Z:\\srv\\sub\\f");
    EXPECT_EQ(Local("Z:\\srv\\", "a//b\\\\c/"), "Z:\\srv\\a\\b\\c");
    // Two dots are refused only as a whole name.
    EXPECT_EQ(Local("Z:\\srv\\", "a..b"), "Z:\\srv\\a..b");
    EXPECT_EQ(Local("Z:\\srv\\", "..x/y"), "Z:\\srv\\..x\\y");
    for (const char* p : {"..", "../x", "/a/../b", "a/..", "a\\..\\..\\x", "./.."})
        EXPECT_EQ(Local("Z:\\srv\\", p), "<refused>") << p;
    // A root without its final backslash still gets a separator, and the
    // root is the operator's: two dots in it are not judged.
    EXPECT_EQ(Local("Z:\\data", "x"), "Z:\\data\\x");
    EXPECT_EQ(Local("Z:\\srv..\\", "x"), "Z:\\srv..\\x");
    EXPECT_EQ(Local("", "x"), "<refused>");
    // Characters no file name holds: another drive, a stream of a file,
    // wildcards, controls.
    for (const char* p : {"C:/x", "a.txt:hidden", "*.txt", "a?", "a<b", "a>b", "a|b", "a\"b", "a\tb"})
        EXPECT_EQ(Local("Z:\\srv\\", p), "<refused>") << p;
    // Names travel as UTF-8; anything else is refused, since the platform
    // would turn it into some other name.
    EXPECT_EQ(Local("Z:\\srv\\", "caf\xC3\xA9/\xD0\x96.txt"), "Z:\\srv\\caf\xC3\xA9\\\xD0\x96.txt");
    EXPECT_EQ(Local("Z:\\srv\\", "\xF0\x9F\x98\x80"), "Z:\\srv\\\xF0\x9F\x98\x80");
    for (const char* p : {"caf\xE9", "\xC0\xAE\xC0\xAE/x", "\xE0\x80\xAE", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                          "\x80", "\xC3"})
        EXPECT_EQ(Local("Z:\\srv\\", p), "<refused>") << p;
    // The upload folder is no name a client may use, anywhere.
    // Nor the hidden copy of an install, in any spelling.
    // Nor an access file or a readme, in any case.
    for (const char* p : {"UPLOADS.FSP", "uploads.fsp/U0000001.TMP", "a/Uploads.Fsp/x",
                          ".vfspd-0123456789abcdef.part", "a/.VFSPD-x.PART", ".vfspd-.part/x",
                          ".FSP_OK_ADD", "swiss/.fsp_ok_del", ".Fsp_anything/x", ".README", "a/.readme"})
        EXPECT_EQ(Local("Z:\\srv\\", p), "<refused>") << p;
    for (const char* p : {"UPLOADS.FSPX", ".vfspd-1.partx", "x.vfspd-1.part", ".vfspd.part", ".FSPX",
                          "x.FSP_OK_ADD", ".README.txt", "README"})
        EXPECT_EQ(Local("Z:\\srv\\", p), std::string("Z:\\srv\\") + p) << p;

    std::string root = "Z:\\";
    std::string fits(kMaxLocalPath - 1 - root.size(), 'n');
    EXPECT_EQ(Local(root.c_str(), fits.c_str()).size(), size_t(kMaxLocalPath - 1));
    EXPECT_EQ(Local(root.c_str(), (fits + "n").c_str()), "<refused>");
    std::string longRoot(kMaxPath, 'r');
    EXPECT_EQ(Local(longRoot.c_str(), "x"), "<refused>");
}

TEST(Paths, DeviceNamesAreRefusedAnywhereAlongThePath) {
    for (const char* p : {"CON", "PRN", "AUX", "NUL", "COM1", "COM9", "LPT1", "LPT9", "con", "nUl",
                          "Lpt3", "con.txt", "NUL.tar.gz", "aux.", "nul .txt", "com1 ", "sub/NUL",
                          "sub\\con.log", "NUL/x", "/prn", "a/b/lpt2.dat/c"})
        EXPECT_EQ(Local("Z:\\srv\\", p), "<refused>") << p;
    // Names that only begin or end like a device name are files.
    for (const char* p : {"CONSOLE", "null", "COM0", "COM10", "LPT", "xcon.txt", "my.con", "nul_"})
        EXPECT_EQ(Local("Z:\\srv\\", p), std::string("Z:\\srv\\") + p) << p;
    // The root itself is the operator's and is not judged.
    EXPECT_EQ(Local("Z:\\NUL\\", "x"), "Z:\\NUL\\x");
}

TEST(Paths, NamesEndingInADotOrABlankAreRefused) {
    // The platform drops them and would open another name than the one
    // asked for: "f." is "f", "sub./x" is "sub\x".
    for (const char* p : {"f.", "f ", "dir.", "dir./", "f. .", "f .", "sub./inner.txt",
                          "sub /inner.txt", "...", " ", "a\\b. \\c"})
        EXPECT_EQ(Local("Z:\\srv\\", p), "<refused>") << p;
    // Dots and blanks elsewhere in a name are part of it.
    for (const char* p : {".hidden", "a.b.c", " lead", "two words.txt"})
        EXPECT_EQ(Local("Z:\\srv\\", p), std::string("Z:\\srv\\") + p) << p;
    EXPECT_EQ(Local("Z:\\srv.\\", "x"), "Z:\\srv.\\x");
}

TEST(Paths, UsableRoots) {
    for (const auto& [root, usable] : std::vector<std::pair<std::string, int>>{
             {"C:\\", 1}, {"c:\\files", 1}, {"\\\\srv\\share\\d", 1}, {"C:\\" + std::string(255, 'r'), 1},
             {"", 0}, {"files", 0}, {"C:files", 0}, {"C:\\a\\..\\b", 0}, {"C:\\f:s", 0}, {"\\\\.\\C:", 0},
             {"\\\\srv\\", 0}, {"C:\\" + std::string(256, 'r'), 0}})
        EXPECT_EQ(UsableRoot(root.c_str()), usable) << root;
}
