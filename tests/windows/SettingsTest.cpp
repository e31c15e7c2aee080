#include <gtest/gtest.h>

#include <cstring>

#include "../../engine/FSPDaemon.h"
#include "../../settings/RegistryKey.h"
#include "GuiTest.h"
#include "WinTest.h"

namespace {
const char kServer[] = "SOFTWARE\\Quorvane\\VrelFSPd\\Server";
const char kLocation[] = "SOFTWARE\\Quorvane\\VrelFSPd\\Location";

class SettingsTest : public testing::Test {
protected:
    void SetUp() override { DeleteSettingsKey(); }
    void TearDown() override { DeleteSettingsKey(); }
};
} // namespace

// A write that really fails: a volatile key takes no lasting subkeys. The
// first run's defaults serve, and each failed save is told in one box.
TEST_F(SettingsTest, SettingsThatCannotBeStoredAreToldOnceAndHold) {
    HKEY parent;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quorvane\\VrelFSPd", 0, nullptr, REG_OPTION_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &parent, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(parent);
    FSPDaemon d;
    BoxCatcher boxes;
    d.LoadSettings();
    EXPECT_EQ(d.unsavedError, ERROR_CHILD_MUST_BE_VOLATILE); // told by the start-up, once it serves
    EXPECT_STREQ(d.rootPath, "C:\\");
    d.logging = 0;
    d.readWrite = 8;
    d.SaveSettings();
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].caption, "VrelFSPd");
    EXPECT_EQ(boxes.boxes[0].text.rfind("The settings could not be saved in the registry (error 1021", 0), 0u)
        << boxes.boxes[0].text;
    EXPECT_EQ(d.readWrite, 8);
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
        d.accessFiles = 0;
        d.packetSize = 9000; // unusable, but stored as it stands
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
        EXPECT_EQ(d.accessFiles + d.packetSize, 9000);
        EXPECT_EQ(d.ReplyLimit(), 1024u);
        EXPECT_FALSE(d.eventLog.IsOpen());
    }
    // A value that vanished from an existing key reads as its default, not
    // as whatever the member happened to hold.
    {
        RegistryKey server(kServer);
        RegDeleteValueA(server.hKey, "FSPPort");
        RegDeleteValueA(server.hKey, "AccessFiles");
        RegDeleteValueA(server.hKey, "PacketSize");
        RegistryKey location(kLocation);
        RegDeleteValueA(location.hKey, "RootPath");
    }
    FSPDaemon d;
    d.port = 5;
    d.rootPath[0] = 'X';
    d.LoadSettings();
    EXPECT_EQ(d.port, 21);
    EXPECT_EQ(d.accessFiles + d.packetSize, 1 + 1452);
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
        StoreSettings(GuiSettings{21, root, std::string(300, 'g'), 0, 0, 0, 0, 0, 0, {}});
        FSPDaemon d;
        d.LoadSettings();
        char local[MAX_PATH];
        EXPECT_EQ(d.rootUsable | d.LocalPath("f", local) | d.logPath[0], 0) << root.size();
        d.SaveSettings();
        EXPECT_EQ(StoredText("RootPath"), root);
        EXPECT_EQ(StoredText("LogPath"), std::string(300, 'g'));
    }
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
    // The path, the system's reason, and that nothing is logged meanwhile.
    EXPECT_EQ(boxes.boxes[0].text.rfind("Unable to open log file " + dir.File("missing\\x.log") + ": ", 0), 0u);
    EXPECT_NE(boxes.boxes[0].text.find("(error 3).\n\nNothing is logged until"), std::string::npos) << boxes.boxes[0].text;
    EXPECT_FALSE(d.eventLog.IsOpen());
    EXPECT_EQ(StoredFlag("FSPPort"), 4000ul);
}
