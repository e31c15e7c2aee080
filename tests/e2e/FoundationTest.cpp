// The server's endpoint end to end: reply bytes, dropped datagrams, receive
// errors, first-run settings, settings that cannot serve and a clean stop;
// the setup program.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <regex>

#include "Harness.h"
#include "engine/core/Packet.h"

using namespace e2e;

namespace {
bool HasLine(const std::string& log, const std::string& body) {
    for (const std::string& b : LogBodies(log))
        if (b == body) return true;
    return false;
}
// The Linux path of a path on the prefix's drive C:.
std::string OnC(std::string winPath) {
    std::replace(winPath.begin(), winPath.end(), '\\', '/');
    return Prefix() + "/drive_c" + winPath.substr(2);
}

const std::string kCloseWin = std::string(VFSPD_WIN_DIR) + "/closewin.exe";

// The text of the box captioned "VrelFSPd" once it shows; pressed OK.
std::string Box() {
    std::string text;
    WaitFor([&] { return RunWine({kCloseWin, "--dismiss", "VrelFSPd"}, "", &text) == 0; }, std::chrono::seconds(60));
    return text;
}
} // namespace

TEST(Endpoint, AnswersRequestsDropsMalformedOnesAndStopsCleanly) {
    Server server;
    Client c(server.port);

    // An unsupported code: the exact 33-byte error reply (but for its key,
    // the server's choice, and so its checksum), and its log line.
    auto r = c.Transact(Request(0x20, 0, 0, 0));
    ASSERT_TRUE(r);
    Bytes expected{0x40, (*r)[1], (*r)[2], (*r)[3], 0x00, 0x00, 0x00, 0x15, 0x00, 0x00, 0x00, 0x00};
    Bytes text = Text("Unsupported Command!");
    expected.insert(expected.end(), text.begin(), text.end());
    EXPECT_EQ(*r, expected);
    EXPECT_TRUE(Decode(*r).checksumOk);

    // 0x40 is only ever sent by the server.
    r = c.Transact(Request(0x40, 9, 1, 0));
    ASSERT_TRUE(r);
    EXPECT_EQ(Decode(*r).DataText(), "Unsupported Command!");

    // The sequence comes back unchanged.
    r = c.Transact(Request(0x10, 0xFFFF, 0xBEEF, 0));
    ASSERT_TRUE(r);
    Reply v = Decode(*r);
    EXPECT_TRUE(v.checksumOk);
    EXPECT_EQ(v.command, 0x10);
    EXPECT_EQ(v.sequence, 0xBEEF);

    // Wrong checksum, a short datagram, and a data length running past the
    // datagram are all dropped without a word: the first reply that comes
    // back is the one to the good request sent after them.
    Bytes bad = Request(0x20, 1, 100, 0);
    bad[1] ^= 0x55;
    c.Send(bad);
    c.Send(Bytes{0x20, 0x00, 0x00, 0x01, 0x00});
    Bytes lying = Request(0x20, 1, 101, 0, Text("abc"));
    lying[7] = 200; // claims 200 data bytes
    lying[1] = 0;
    lying[1] = uint8_t(fsp::CalcChecksum(lying.data(), int(lying.size()), 0));
    c.Send(lying);
    c.Send(Request(0x4A, 1, 102, 0));
    r = c.Receive();
    ASSERT_TRUE(r);
    EXPECT_EQ(Decode(*r).sequence, 102);

    EXPECT_EQ(server.Stop(), 0);
    std::string bad_line;
    std::string log = server.Log();
    auto bodies = LogBodies(log, &bad_line);
    EXPECT_EQ(bad_line, "");
    EXPECT_TRUE(HasLine(log, "[127.0.0.1]: Unsupported Command!")) << log;
    EXPECT_TRUE(HasLine(log, "[127.0.0.1]: Get version information")) << log;
    // The start and the stop, two unsupported requests and one version;
    // the dropped datagrams and the byes leave nothing.
    EXPECT_EQ(bodies.front(), "Serving UDP port " + std::to_string(server.port) + ", root " + WinPath(server.root) + "\\, uploads only, access files");
    EXPECT_EQ(bodies.back(), "Stopped serving UDP port " + std::to_string(server.port));
    EXPECT_EQ(bodies.size(), 5u) << log;
}

TEST(Endpoint, AFirstRunStoresTheDefaultsAndServesTheDefaultRoot) {
    Settings s;
    s.firstRun = true;
    Server server(s); // binds the default port, 21
    Client c(21);
    auto r = c.Transact(Request(0x10, 0, 1, 0));
    ASSERT_TRUE(r);
    Reply v = Decode(*r);
    EXPECT_EQ(v.DataText(), "VrelFSPd for Win95 v1.0b3 Dec 18 1995");
    EXPECT_EQ(v.extra, (Bytes{0x23, 0x05, 0xAC})); // logging, read-only, extra data; 1,452
    EXPECT_EQ(v.position, 3u);
    EXPECT_EQ(server.Stop(), 0);

    auto serverKey = RegQuery("Software\\Quorvane\\VrelFSPd\\Server");
    EXPECT_EQ(serverKey["FSPPort"], "0x15");
    EXPECT_EQ(serverKey["Logging"], "0x1");
    EXPECT_EQ(serverKey["UploadOnly"], "0x0");
    EXPECT_EQ(serverKey["ReadWrite"], "0x0");
    EXPECT_EQ(serverKey["RevName"], "0x0");
    EXPECT_EQ(serverKey["PrivMode"], "0x0");
    EXPECT_EQ(serverKey["ThruOut"], "0x0");
    EXPECT_EQ(serverKey["AccessFiles"], "0x1");
    EXPECT_EQ(serverKey["PacketSize"], "0x5ac");
    EXPECT_EQ(serverKey["ThruPut"], "0xf4240"); // 1,000,000 bytes a second
    EXPECT_EQ(serverKey.size(), 10u);
    auto location = RegQuery("Software\\Quorvane\\VrelFSPd\\Location");
    EXPECT_EQ(location["RootPath"], "C:\\");
    EXPECT_EQ(location["LogPath"], "VFSPD.LOG");
    EXPECT_EQ(location.size(), 2u);
    // The default log lies in the working directory.
    EXPECT_TRUE(HasLine(server.Log(), "[127.0.0.1]: Get version information"));
}

// Paths stored as REG_EXPAND_SZ are expanded (they were ignored, and C:\
// served). A root of any other type serves nothing rather than the
// default; a port outside 1 to 65535 binds nothing, where its low 16 bits
// bound a port no client looks at. The operator is told; the window stays.
TEST(Endpoint, ExpandedPathsServeAndSettingsThatCannotServeBindOrServeNothing) {
    TempDir base;
    std::filesystem::create_directories(base.path + "/pub");
    WriteFile(base.path + "/pub/f", "expanded");
    setenv("VFSPD_E2E_BASE", WinPath(base.path).c_str(), 1);
    Settings s;
    s.values = {{"Location", "RootPath", "REG_EXPAND_SZ", "%VFSPD_E2E_BASE%\\pub"},
                {"Location", "LogPath", "REG_EXPAND_SZ", "%VFSPD_E2E_BASE%\\x.log"}};
    Server expanded(s);
    EXPECT_EQ(Raw(expanded.port).Ask(0x42, Text("f")).DataText(), "expanded");
    EXPECT_EQ(expanded.Stop(), 0);
    EXPECT_TRUE(HasLine(ReadFile(base.path + "/x.log"), "[127.0.0.1]: Downloaded " + WinPath(base.path + "/pub/f")));

    s.values = {{"Location", "RootPath", "REG_DWORD", "1"}};
    Server dword(s);
    EXPECT_NE(Box().find("The server root in the registry cannot be served"), std::string::npos);
    EXPECT_EQ(Raw(dword.port).Ask(0x42, Text("f")).DataText(), "Unable to open file: f");
    EXPECT_EQ(dword.Stop(), 0);

    // A packet size out of range: told, 1,024 serves, the value stays.
    s.values = {{"Server", "PacketSize", "REG_DWORD", "5000"}};
    Server big(s);
    EXPECT_NE(Box().find("The packet size in the registry (5000) cannot be used"), std::string::npos);
    EXPECT_EQ(Raw(big.port).Ask(0x10).extra, (Bytes{0x21, 0x04, 0x00}));
    EXPECT_EQ(big.Stop(), 0);
    EXPECT_EQ(RegQuery("Software\\Quorvane\\VrelFSPd\\Server")["PacketSize"], "0x1388");

    s.values.clear();
    s.port = 0x10000u + FreeUdpPort();
    s.awaitAnswer = false;
    Server wrapped(s);
    EXPECT_NE(Box().find("The port in the registry (" + std::to_string(*s.port) + ") cannot be used"), std::string::npos);
    Client probe(wrapped.port);
    probe.Send(Request(0x10, 0, 3, 0));
    EXPECT_FALSE(probe.Receive(std::chrono::milliseconds(1500)));
    EXPECT_EQ(wrapped.Stop(), 0);
    // Stored as text or bytes (the default, 21, was bound), it binds nothing
    // either, and stays as written, to be mended.
    for (const auto& [type, data] : {std::pair("REG_SZ", std::to_string(wrapped.port)), std::pair("REG_BINARY", std::string("4500"))}) {
        s.values = {{"Server", "FSPPort", type, data}};
        Server typed(s);
        EXPECT_NE(Box().find(std::string("stored as ") + (data == "4500" ? "bytes" : "text")), std::string::npos) << type;
        probe.Send(Request(0x10, 0, 4, 0));
        EXPECT_FALSE(probe.Receive(std::chrono::milliseconds(1500))) << type;
        EXPECT_EQ(typed.Stop(), 0);
        EXPECT_EQ(RegQuery("Software\\Quorvane\\VrelFSPd\\Server")["FSPPort"], data);
    }
    unsetenv("VFSPD_E2E_BASE");
}

// Whether the settings key's access list lets every user change it: an
// entry for Users, Everyone, Authenticated or Interactive Users that allows
// full control, writing, setting a value or making a key.
bool UsersMayChangeSettings() {
    std::string sddl;
    RunWine({kCloseWin, "--acl", "SOFTWARE\\Quorvane\\VrelFSPd"}, "", &sddl);
    return std::regex_search(sddl, std::regex(R"(\(A;[^;]*;(..)*(KA|KW|GA|GW|DC|LC|WD|WO)[^;]*;;;(BU|WD|AU|IU)\))"));
}

// The setup program: a silent install, the installed copy serving from the
// folder its Start-menu entry starts it in, and a silent uninstall. Users
// get the right to change the settings only when it is asked for. Wine's
// netsh keeps no firewall rules: a stand-in records what it is asked.
TEST(Setup, InstallsServesAndUninstallsLeavingOnlySettingsAndLog) {
    const std::string winDir = "C:\\vfspd-setup\\VrelFSPd", netsh = OnC("C:\\windows\\system32\\netsh.exe");
    TempDir record;
    std::filesystem::copy_file(std::string(VFSPD_WIN_DIR) + "/recordargs.exe", netsh,
                               std::filesystem::copy_options::overwrite_existing);
    setenv("VFSPD_RECORD", WinPath(record.path + "/netsh.txt").c_str(), 1);
    setenv("WINEDLLOVERRIDES", "netsh.exe=n", 1); // not Wine's own
    ASSERT_EQ(RunWine({std::string(VFSPD_WIN_DIR) + "/vfspd-setup.exe", "/S", "/PUBLIC", "/D=" + winDir}), 0);
    ASSERT_EQ(RunWine({std::string(VFSPD_WIN_DIR) + "/vfspd-setup.exe", "/S", "/D=" + winDir}), 0);
    EXPECT_FALSE(UsersMayChangeSettings());
    const std::string key = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VrelFSPd";
    auto reg = RegQuery(key);
    EXPECT_EQ(reg["InstallLocation"], winDir);
    EXPECT_EQ(reg["UninstallString"], "\"" + winDir + "\\uninstall.exe\"");
    EXPECT_TRUE(Exists(OnC(winDir) + "/VFSPD.CHM"));
    // A folder of the user's, where the link holds its name in UTF-16.
    std::string work = reg["WorkingDirectory"], link = OnC(reg["StartMenuEntry"]), wide;
    ASSERT_EQ(work.rfind("C:\\users\\", 0), 0u) << work;
    for (char ch : work) wide += {ch, '\0'};
    EXPECT_NE(ReadFile(link).find(wide), std::string::npos) << link;
    Settings s;
    s.program = winDir + "\\vfspd.exe";
    s.workDir = OnC(work);
    Server server(s);
    auto r = Client(server.port).Transact(Request(0x10, 0, 1, 0));
    ASSERT_TRUE(r);
    EXPECT_EQ(Decode(*r).DataText(), "VrelFSPd for Win95 v1.0b3 Dec 18 1995");
    ASSERT_EQ(server.Stop(), 0);
    // A copy runs on the folder, as the uninstaller does itself, to be waited for.
    TempDir scratch;
    std::filesystem::copy_file(OnC(winDir) + "/uninstall.exe", scratch.path + "/un.exe");
    EXPECT_EQ(RunWine({scratch.path + "/un.exe", "/S", "_?=" + winDir}), 0);
    unsetenv("WINEDLLOVERRIDES");
    const std::string netshRule = "\"C:\\windows\\system32\\netsh.exe\" advfirewall firewall ",
                      rule = " rule name=\"VrelFSPd\" dir=in protocol=UDP program=\"" + winDir + "\\vfspd.exe\"",
                      del = netshRule + "delete" + rule + "\n", add = netshRule + "add" + rule + " action=allow profile=";
    EXPECT_EQ(ReadFile(record.path + "/netsh.txt"),
              del + add + "private,domain,public enable=yes\n" + del + add + "private,domain enable=yes\n" + del);
    EXPECT_NE(RunWine({"reg", "query", "HKLM\\" + key}), 0);
    EXPECT_FALSE(Exists(OnC(winDir)));
    EXPECT_FALSE(Exists(link));
    EXPECT_FALSE(RegQuery("Software\\Quorvane\\VrelFSPd\\Server").empty());
    EXPECT_TRUE(HasLine(ReadFile(s.workDir + "/VFSPD.LOG"), "[127.0.0.1]: Get version information"));
    std::filesystem::remove_all(s.workDir);

    ASSERT_EQ(RunWine({std::string(VFSPD_WIN_DIR) + "/vfspd-setup.exe", "/S", "/USERSETTINGS", "/D=" + winDir}), 0);
    EXPECT_TRUE(UsersMayChangeSettings());
    std::filesystem::copy_file(OnC(winDir) + "/uninstall.exe", scratch.path + "/un.exe",
                               std::filesystem::copy_options::overwrite_existing);
    EXPECT_EQ(RunWine({scratch.path + "/un.exe", "/S", "_?=" + winDir}), 0);
}

// A client with upload rights plants its own ctl3d32.dll beside the
// program; Wine is told to prefer it, as a 64-bit Windows (which has no
// copy of its own) would find only that one.
TEST(Endpoint, ADllPlantedBesideTheProgramIsNotLoaded) {
    TempDir app;
    std::filesystem::copy_file(std::string(VFSPD_WIN_DIR) + "/vfspd.exe", app.path + "/vfspd.exe");
    std::filesystem::copy_file(std::string(VFSPD_WIN_DIR) + "/planted.dll", app.path + "/ctl3d32.dll");
    setenv("WINEDLLOVERRIDES", "ctl3d32=n", 1);
    Settings s;
    s.program = app.path + "/vfspd.exe";
    Server server(s); // answering, so long past loading the library
    unsetenv("WINEDLLOVERRIDES");
    EXPECT_FALSE(Exists(server.workDir + "/planted-ran"));
}

// A second start (a second click on the Start-menu entry) while a client's
// upload is under way ends at once and touches nothing: the upload folder,
// the settings and the log stay as they are, and the upload installs.
TEST(Endpoint, ASecondStartEndsAndLeavesTheServingCopyAlone) {
    Server server;
    Raw raw(server.port);
    const std::string content = Pattern(5000, 4);
    for (uint32_t at = 0; at < 4096; at += 1024) ExpectEmptyAck(raw.Ask(0x43, B(content.substr(at, 1024)), at), 0x43, at);
    ASSERT_EQ(TempFileCount(server.workDir), 1);
    const std::string log = server.Log(), key = "Software\\Quorvane\\VrelFSPd\\Server";
    const auto settings = RegQuery(key);
    int status = -1, second = StartWine({std::string(VFSPD_WIN_DIR) + "/vfspd.exe"}, server.workDir);
    // Ended by itself, or else by the test.
    EXPECT_TRUE(WaitFor([&] { return waitpid(second, &status, WNOHANG) == second; }, std::chrono::seconds(30)) ||
                kill(second, SIGKILL) || waitpid(second, &status, 0) < 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(TempFileCount(server.workDir), 1);
    EXPECT_EQ(server.Log(), log);
    EXPECT_EQ(RegQuery(key), settings);
    ExpectEmptyAck(raw.Ask(0x43, B(content.substr(4096)), 4096), 0x43, 4096);
    ExpectEmptyAck(raw.Ask(0x44, Text("big.bin")), 0x44);
    EXPECT_TRUE(ReadFile(server.root + "/big.bin") == content);
    EXPECT_EQ(server.Stop(), 0);
}
