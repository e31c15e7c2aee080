#include <gtest/gtest.h>

#include "../../settings/RegistryKey.h"

#include <sddl.h>

namespace {
const char kScratch[] = "SOFTWARE\\VfspdTests\\Scratch";

class RegistryKeyTest : public testing::Test {
protected:
    void SetUp() override { RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\VfspdTests"); }
    void TearDown() override { RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\VfspdTests"); }
};
} // namespace

TEST_F(RegistryKeyTest, CreatesAnAbsentKeyAndOpensAnExistingOne) {
    {
        RegistryKey key(kScratch);
        EXPECT_EQ(key.isOpen, 1);
        EXPECT_EQ(key.created, 1);
        EXPECT_EQ(key.keyName, kScratch);
    }
    RegistryKey again(kScratch);
    EXPECT_EQ(again.isOpen, 1);
    EXPECT_EQ(again.created, 0);
}

TEST_F(RegistryKeyTest, ReadsBackWhatItWritesThroughTheSameHandle) {
    RegistryKey key(kScratch);
    ASSERT_EQ(key.SaveDWORD("Number", 70000), 1);
    ASSERT_EQ(key.SaveString("Text", "C:\\data"), 1);
    unsigned long u = 0;
    int i = 0;
    std::string s;
    EXPECT_EQ(key.GetDWORD("Number", &u), 1);
    EXPECT_EQ(u, 70000ul);
    EXPECT_EQ(key.GetDWORD("Number", &i), 1);
    EXPECT_EQ(i, 70000);
    EXPECT_EQ(key.GetString("Text", &s), 1);
    EXPECT_EQ(s, "C:\\data");

    // A value of another type is replaced whatever it held.
    ASSERT_EQ(key.SaveDWORD("Text", 8), 1);
    EXPECT_EQ(key.GetDWORD("Text", &u), 1);
    EXPECT_EQ(u, 8ul);
}

TEST_F(RegistryKeyTest, FailedReadsLeaveTheVariableUnchanged) {
    RegistryKey key(kScratch);
    int i = 1234;
    std::string s = "kept";
    EXPECT_EQ(key.GetDWORD("Missing", &i), 0);
    EXPECT_EQ(i, 1234);
    EXPECT_EQ(key.GetString("Missing", &s), 0);
    EXPECT_EQ(s, "kept");
    EXPECT_EQ(key.GetDWORD("Missing", static_cast<int*>(nullptr)), 0);
    EXPECT_EQ(key.GetString("Missing", nullptr), 0);
}

TEST_F(RegistryKeyTest, AValueOfAnotherTypeOrSizeReadsAsMissing) {
    RegistryKey key(kScratch);
    const DWORD one = 1;
    ASSERT_EQ(RegSetValueExA(key.hKey, "Short", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 2), ERROR_SUCCESS);
    unsigned long v = 7;
    std::string s = "kept";
    EXPECT_EQ(key.GetDWORD("Short", &v) + key.GetString("Short", &s), 0);
    EXPECT_EQ(v, 7ul);
}

TEST_F(RegistryKeyTest, StringsOfMoreThan1024BytesAreRefused) {
    RegistryKey key(kScratch);
    ASSERT_EQ(key.SaveString("Fits", std::string(1023, 'x')), 1);   // 1024 with NUL
    ASSERT_EQ(key.SaveString("TooLong", std::string(1024, 'x')), 1); // 1025 with NUL
    std::string s = "kept";
    EXPECT_EQ(key.GetString("Fits", &s), 1);
    EXPECT_EQ(s.size(), 1023u);
    s = "kept";
    EXPECT_EQ(key.GetString("TooLong", &s), 0);
    EXPECT_EQ(s, "kept");
}

TEST_F(RegistryKeyTest, EmptyTextIsStoredAsItsNul) {
    RegistryKey key(kScratch);
    ASSERT_EQ(key.SaveString("Empty", ""), 1);
    DWORD type = 0, size = 16;
    BYTE data[16];
    ASSERT_EQ(RegQueryValueExA(key.hKey, "Empty", nullptr, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_SZ));
    EXPECT_EQ(size, 1u);
}

TEST_F(RegistryKeyTest, EnumeratesValuesAndStopsAtTheEnd) {
    RegistryKey key(kScratch);
    EXPECT_EQ(key.NumValues(), 0ul);
    ASSERT_EQ(key.SaveDWORD("Port", 21), 1);
    ASSERT_EQ(key.SaveString("Root", "C:\\"), 1);
    ASSERT_EQ(key.NumValues(), 2ul);

    bool sawPort = false, sawRoot = false;
    for (unsigned long i = 0; i < key.NumValues(); ++i) {
        std::string name, data;
        unsigned long v = 0;
        if (key.GetEnumDWORD(i, &name, &v) && name == "Port") {
            EXPECT_EQ(v, 21ul);
            sawPort = true;
        }
        if (key.GetEnumString(i, &name, &data) && name == "Root") {
            EXPECT_EQ(data, "C:\\");
            sawRoot = true;
        }
    }
    EXPECT_TRUE(sawPort);
    EXPECT_TRUE(sawRoot);

    std::string name = "kept", data = "kept";
    unsigned long v = 7;
    EXPECT_EQ(key.GetEnumString(2, &name, &data), 0);
    EXPECT_EQ(key.GetEnumDWORD(2, &name, &v), 0);
    EXPECT_EQ(name, "kept");
    EXPECT_EQ(data, "kept");
}

// A key this user may read but not change (HKEY_LOCAL_MACHINE for a user
// who is no administrator) is still read, or the defaults would serve; its
// writes fail and say why.
TEST_F(RegistryKeyTest, AKeyThisUserMayOnlyReadIsReadAndItsWritesFail) {
    ASSERT_EQ(RegistryKey(kScratch).SaveDWORD("Port", 2121), 1);
    HKEY h = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kScratch, 0, WRITE_DAC, &h), ERROR_SUCCESS);
    for (const char* sddl : {"D:P(A;;KR;;;WD)", "D:P(A;;KA;;;WD)"}) { // read only, then all again
        PSECURITY_DESCRIPTOR sd = nullptr;
        ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &sd, nullptr);
        EXPECT_EQ(RegSetKeySecurity(h, DACL_SECURITY_INFORMATION, sd), ERROR_SUCCESS);
        LocalFree(sd);
        RegistryKey key(kScratch);
        unsigned long v = 0;
        EXPECT_EQ(key.GetDWORD("Port", &v), 1);
        EXPECT_EQ(v, 2121ul);
        EXPECT_EQ(key.SaveDWORD("Port", 2121), sddl[8] == 'A' ? 1 : 0);
        EXPECT_EQ(key.lastError, sddl[8] == 'A' ? 0 : ERROR_ACCESS_DENIED);
    }
    RegCloseKey(h);
}
