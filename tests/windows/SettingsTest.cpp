#include <gtest/gtest.h>

#include <cstring>

#include "../../engine/FSPDaemon.h"
#include "../../settings/RegistryKey.h"
#include "../../ui/resource.h"
#include "GuiTest.h"
#include "WinTest.h"

namespace {
const char kServer[] = "SOFTWARE\\Quorvane\\VrelFSPd\\Server";
const char kLocation[] = "SOFTWARE\\Quorvane\\VrelFSPd\\Location";

bool Checked(HMENU menu, UINT id) { return (GetMenuState(menu, id, MF_BYCOMMAND) & MF_CHECKED) != 0; }
bool Grayed(HMENU menu, UINT id) { return (GetMenuState(menu, id, MF_BYCOMMAND) & MF_GRAYED) != 0; }

class SettingsTest : public testing::Test {
protected:
    void SetUp() override { DeleteSettingsKey(); }
    void TearDown() override { DeleteSettingsKey(); }
};
} // namespace

TEST_F(SettingsTest, FirstRunWritesTheDefaults) {
    FSPDaemon d;
    d.logging = 0;
    d.LoadSettings();
    d.eventLog.StopLogFile();
    EXPECT_EQ(d.port, 21);
    EXPECT_STREQ(d.rootPath, "C:\\");
    EXPECT_STREQ(d.logPath, "VFSPD.LOG");
    EXPECT_EQ(d.logging, 1);
    EXPECT_EQ(d.uploadOnly | d.readWrite | d.revName | d.privMode | d.thruOut, 0);
    EXPECT_EQ(d.acceptRequests, 1);

    EXPECT_EQ(StoredFlag("FSPPort"), 21ul);
    EXPECT_EQ(StoredFlag("Logging"), 1ul);
    EXPECT_EQ(StoredFlag("UploadOnly"), 0ul); // read-only until the operator says otherwise
    EXPECT_EQ(StoredFlag("ReadWrite"), 0ul);
    EXPECT_EQ(StoredFlag("RevName"), 0ul);
    EXPECT_EQ(StoredFlag("PrivMode"), 0ul);
    EXPECT_EQ(StoredFlag("ThruOut"), 0ul);
    EXPECT_EQ(StoredText("RootPath"), "C:\\");
    EXPECT_EQ(StoredText("LogPath"), "VFSPD.LOG");
    DeleteFileA("VFSPD.LOG");
}

TEST_F(SettingsTest, SavedSettingsLoadBackAndMissingValuesReadAsDefaults) {
    TempDir dir;
    {
        FSPDaemon d;
        d.DefaultSettings();
        d.port = 70000;
        std::strcpy(d.rootPath, "Z:\\srv\\fsp");
        std::strcpy(d.logPath, dir.File("a.log").c_str());
        d.logging = 0;
        d.readWrite = 8;
        d.thruOut = 1;
        d.SaveSettings();
    }
    {
        FSPDaemon d;
        d.LoadSettings();
        EXPECT_EQ(d.port, 70000);
        EXPECT_STREQ(d.rootPath, "Z:\\srv\\fsp");
        EXPECT_EQ(std::string(d.logPath), dir.File("a.log"));
        EXPECT_EQ(d.logging, 0);
        EXPECT_EQ(d.readWrite, 8);
        EXPECT_EQ(d.thruOut, 1);
        EXPECT_FALSE(d.eventLog.IsOpen());
    }
    // A value that vanished from an existing key reads as its default, not
    // as whatever the member happened to hold.
    {
        RegistryKey server(kServer);
        RegDeleteValueA(server.hKey, "FSPPort");
        RegistryKey location(kLocation);
        RegDeleteValueA(location.hKey, "RootPath");
    }
    FSPDaemon d;
    d.port = 5;
    d.rootPath[0] = 'X';
    d.LoadSettings();
    EXPECT_EQ(d.port, 21);
    EXPECT_STREQ(d.rootPath, "C:\\");
    EXPECT_EQ(d.readWrite, 8);

    // So does a value of another type: "reg add /v ReadWrite /d 0" without
    // a type stores the text "0", which must not turn full access on.
    RegistryKey(kServer).SaveString("ReadWrite", "0");
    d.LoadSettings();
    EXPECT_EQ(d.readWrite, 0);
}

// An empty root, one without room for its backslash, and a log path too
// long to hold are refused, not cut or replaced; saving keeps them stored.
TEST_F(SettingsTest, PathsThatCannotServeAreRefusedAndKept) {
    for (const std::string& root : {std::string(), "C:\\" + std::string(256, 'r')}) {
        StoreSettings(GuiSettings{21, root, std::string(300, 'g'), 0, 0, 0, 0, 0, 0});
        FSPDaemon d;
        d.LoadSettings();
        char local[MAX_PATH];
        EXPECT_EQ(d.rootUsable | d.LocalPath("f", local) | d.logPath[0], 0) << root.size();
        d.SaveSettings();
        EXPECT_EQ(StoredText("RootPath"), root);
        EXPECT_EQ(StoredText("LogPath"), std::string(300, 'g'));
    }
}

TEST_F(SettingsTest, MenuMarksMirrorTheFlagsAndReadBackAsEight) {
    HMENU menu = LoadMenuA(GetModuleHandleA(nullptr), "FSPD_MENU");
    ASSERT_NE(menu, nullptr);
    TempDir dir;
    FSPDaemon d;
    d.DefaultSettings();
    std::strcpy(d.logPath, dir.File("m.log").c_str());
    d.uploadOnly = 1;
    d.readWrite = 0;
    d.logging = 1;
    d.revName = 1;
    d.SetStatus(menu);
    EXPECT_TRUE(Checked(menu, IDM_ACCEPT));
    EXPECT_TRUE(Checked(menu, IDM_UPLOADONLY));
    EXPECT_FALSE(Checked(menu, IDM_READWRITE));
    EXPECT_TRUE(Checked(menu, IDM_LOGGING));
    EXPECT_TRUE(Checked(menu, IDM_REVNAME));
    EXPECT_FALSE(Checked(menu, IDM_PRIVMODE));
    EXPECT_FALSE(Grayed(menu, IDM_UPLOADONLY));
    // The three advertised-only items stay grayed whatever the flags say.
    EXPECT_TRUE(Grayed(menu, IDM_REVNAME));
    EXPECT_TRUE(Grayed(menu, IDM_THRUOUT));

    d.readWrite = 1;
    d.SetStatus(menu);
    EXPECT_TRUE(Grayed(menu, IDM_UPLOADONLY));
    EXPECT_TRUE(Checked(menu, IDM_UPLOADONLY)); // graying keeps the mark

    d.GetStatus(menu);
    EXPECT_EQ(d.readWrite, 8);
    EXPECT_EQ(d.uploadOnly, 8);
    EXPECT_EQ(d.acceptRequests, 8);
    EXPECT_EQ(d.privMode, 0);
    d.SaveSettings();
    EXPECT_EQ(StoredFlag("ReadWrite"), 8ul);
    EXPECT_EQ(StoredFlag("Logging"), 8ul);
    EXPECT_EQ(StoredFlag("PrivMode"), 0ul);
    EXPECT_TRUE(d.eventLog.IsOpen()); // saving with logging on starts the log
    d.logging = 0;
    d.SaveSettings();
    EXPECT_FALSE(d.eventLog.IsOpen());
    DestroyMenu(menu);
}

TEST_F(SettingsTest, ALogThatCannotBeOpenedIsReportedAndTheSaveStillHappens) {
    TempDir dir;
    FSPDaemon d;
    d.DefaultSettings();
    std::strcpy(d.logPath, dir.File("missing\\x.log").c_str());
    d.port = 4000;
    BoxCatcher boxes;
    d.SaveSettings();
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].caption, "Error");
    EXPECT_EQ(boxes.boxes[0].text, "Unable to open log file");
    EXPECT_FALSE(d.eventLog.IsOpen());
    EXPECT_EQ(StoredFlag("FSPPort"), 4000ul);
}
