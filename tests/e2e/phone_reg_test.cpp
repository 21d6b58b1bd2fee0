// The phone tool on a real device folder: init, reg add/query/delete, a
// REGEDIT4 export imported into a fresh device, and the log.
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "test_device.h"

using testing_support::TempDevice;
namespace fs = std::filesystem;

namespace {

struct Result {
    int status = -1;
    std::string out;
};

// Runs build/bin/phone with `args`, stdin empty, and collects its stdout.
Result phone(const fs::path& device, std::vector<std::string> args)
{
    args.insert(args.begin(), {(testing_support::bin_dir() / "phone").string(), "--device", device.string()});
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0)
        return {};
    pid_t pid = fork();
    if (pid == 0) {
        dup2(pipe_fds[1], 1);
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipe_fds[1]);
    Result result;
    char buffer[4096];
    for (ssize_t n; (n = read(pipe_fds[0], buffer, sizeof buffer)) > 0;)
        result.out.append(buffer, static_cast<size_t>(n));
    close(pipe_fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string slurp(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

const std::string settings_key = "HKLM\\Software\\Apps\\CallTicker";

} // namespace

TEST(PhoneInit, CreatesTheDeviceFolderWithConfigShortcutAndLines)
{
    TempDevice dev;
    const fs::path dir = dev.dir() / "phone";
    ASSERT_EQ(phone(dir, {"init", "--clock-rate", "50", "--line", "Cellular Line", "--line", "", "--dpi", "192",
                          "--audio", "null"})
                  .status,
              0);
    const auto config = nlohmann::json::parse(slurp(dir / "device.json"));
    EXPECT_EQ(config["clock_rate"], 50.0);
    EXPECT_EQ(config["dpi"], 192);
    EXPECT_EQ(config["audio"], "null");
    ASSERT_EQ(config["lines"].size(), 2u);
    EXPECT_EQ(config["lines"][0]["name"], "Cellular Line");
    EXPECT_TRUE(config["lines"][1]["name"].is_null());
    EXPECT_EQ(config["lines"][1]["media_modes"], nlohmann::json({"INTERACTIVEVOICE", "DATAMODEM"}));

    const std::string target = "\"\\Program Files\\CallTicker\\CallTickerCfg.exe\" reset";
    EXPECT_EQ(slurp(dir / "Windows/StartUp/CallTickerCfg.lnk"), std::to_string(target.size()) + "#" + target);
    EXPECT_TRUE(fs::exists(dir / "registry.db"));
    EXPECT_TRUE(fs::is_directory(dir / "run"));
    for (const char* program : {"CallTicker.exe", "CallTickerCfg.exe"})
        EXPECT_EQ(fs::exists(dir / "Program Files/CallTicker" / program),
                  fs::exists(testing_support::bin_dir() / program))
            << program;

    // A second init resets the hive and the log.
    ASSERT_EQ(phone(dir, {"reg", "add", settings_key, "/v", "Enabled", "/t", "REG_DWORD", "/d", "0"}).status, 0);
    ASSERT_EQ(phone(dir, {"init"}).status, 0);
    EXPECT_NE(phone(dir, {"reg", "query", settings_key}).status, 0);
    EXPECT_EQ(phone(dir, {"log", "--json"}).out, "");
    EXPECT_EQ(nlohmann::json::parse(slurp(dir / "device.json"))["lines"].size(), 1u);
}

TEST(PhoneReg, AddQueryDeleteWithRegExeSyntax)
{
    TempDevice dev;
    const fs::path dir = dev.dir() / "phone";
    ASSERT_EQ(phone(dir, {"init"}).status, 0);
    ASSERT_EQ(phone(dir, {"reg", "add", settings_key, "/v", "RegularSoundDelay", "/t", "REG_DWORD", "/d", "7"}).status,
              0);
    const Result query = phone(dir, {"reg", "query", settings_key});
    EXPECT_EQ(query.status, 0);
    EXPECT_EQ(query.out, "\nHKEY_LOCAL_MACHINE\\Software\\Apps\\CallTicker\n"
                         "    RegularSoundDelay    REG_DWORD    0x7\n\n");
    // As reg.exe does, the key is shown as it was typed.
    EXPECT_EQ(phone(dir, {"reg", "query", "hklm\\software\\apps\\callticker", "/v", "REGULARSOUNDDELAY"}).out,
              "\nHKEY_LOCAL_MACHINE\\software\\apps\\callticker\n    RegularSoundDelay    REG_DWORD    0x7\n\n");

    // Overwriting needs /f when nobody answers the question.
    EXPECT_NE(phone(dir, {"reg", "add", settings_key, "/v", "RegularSoundDelay", "/t", "REG_DWORD", "/d", "8"}).status,
              0);
    EXPECT_EQ(phone(dir, {"reg", "add", settings_key, "/v", "RegularSoundDelay", "/t", "REG_DWORD", "/d", "0x8", "/f"})
                  .status,
              0);
    EXPECT_NE(phone(dir, {"reg", "query", settings_key, "/v", "RegularSoundDelay"}).out.find("0x8"),
              std::string::npos);

    EXPECT_EQ(phone(dir, {"reg", "delete", settings_key, "/v", "RegularSoundDelay", "/f"}).status, 0);
    EXPECT_NE(phone(dir, {"reg", "query", settings_key, "/v", "RegularSoundDelay"}).status, 0);
    EXPECT_EQ(phone(dir, {"reg", "delete", "HKLM\\Software", "/f"}).status, 0);
    EXPECT_NE(phone(dir, {"reg", "query", settings_key}).status, 0);
    EXPECT_NE(phone(dir, {"reg", "add", "HKCR\\Software"}).status, 0);
    EXPECT_NE(phone(dir, {"reg", "add", settings_key, "/v", "x", "/t", "REG_DWORD", "/d", "seven"}).status, 0);

    // The writes reach the log, readable and raw.
    const std::string log = phone(dir, {"log"}).out;
    EXPECT_NE(log.find("phone"), std::string::npos);
    EXPECT_NE(log.find("registry: HKLM\\Software\\Apps\\CallTicker\\RegularSoundDelay = 7 (REG_DWORD)"),
              std::string::npos)
        << log;
    std::istringstream raw(phone(dir, {"log", "--json"}).out);
    std::string line;
    int sets = 0;
    while (std::getline(raw, line))
        sets += nlohmann::json::parse(line)["event"] == "reg.set";
    EXPECT_EQ(sets, 2);
}

TEST(PhoneReg, ExportThenImportOnAFreshDeviceGivesTheSameHive)
{
    TempDevice dev;
    const fs::path first = dev.dir() / "first", second = dev.dir() / "second";
    ASSERT_EQ(phone(first, {"init"}).status, 0);
    const std::vector<std::vector<std::string>> adds = {
        {settings_key, "/v", "Enabled", "/t", "REG_DWORD", "/d", "1"},
        {settings_key, "/v", "Label", "/d", "quote \" and back\\slash"},
        {settings_key, "/ve", "/d", "default"},
        {settings_key, "/v", "Path", "/t", "REG_EXPAND_SZ", "/d", "%windir%\\x"},
        {settings_key, "/v", "List", "/t", "REG_MULTI_SZ", "/d", "one\\0two"},
        {settings_key, "/v", "Blob", "/t", "REG_BINARY", "/d", std::string(200, 'a')},
        {settings_key, "/v", "Big", "/t", "REG_QWORD", "/d", "0x100000000"},
        {settings_key + "\\Empty\\Deeper"},
        {"HKCU\\Software\\Ünïcode", "/v", "Näme", "/d", "välue"},
    };
    for (auto args : adds) {
        args.insert(args.begin(), {"reg", "add"});
        ASSERT_EQ(phone(first, args).status, 0) << args[2];
    }
    // Both roots out of the first device and into a fresh one give the same hive.
    ASSERT_EQ(phone(second, {"init"}).status, 0);
    for (const std::string root : {"HKLM", "HKCU"}) {
        const fs::path exported = dev.dir() / (root + "-first.reg"), again = dev.dir() / (root + "-second.reg");
        ASSERT_EQ(phone(first, {"reg", "export", root, exported.string()}).status, 0);
        ASSERT_EQ(phone(second, {"reg", "import", exported.string()}).status, 0);
        ASSERT_EQ(phone(second, {"reg", "export", root, again.string()}).status, 0);
        EXPECT_EQ(slurp(again), slurp(exported)) << root;
        EXPECT_EQ(phone(second, {"reg", "query", root, "/s"}).out, phone(first, {"reg", "query", root, "/s"}).out);
    }
    const std::string text = slurp(dev.dir() / "HKLM-first.reg");
    EXPECT_EQ(text.rfind("REGEDIT4\n\n", 0), 0u);
    EXPECT_NE(text.find("\"Enabled\"=dword:00000001"), std::string::npos);
    EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\Software\\Apps\\CallTicker\\Empty\\Deeper]"), std::string::npos);
    EXPECT_EQ(text.find("HKEY_CURRENT_USER"), std::string::npos);

    // An existing file is replaced only when asked to (stdin says nothing: no).
    const fs::path one = dev.dir() / "one.reg";
    std::ofstream(one) << "keep me\n";
    EXPECT_NE(phone(first, {"reg", "export", "HKCU\\Software", one.string()}).status, 0);
    EXPECT_EQ(slurp(one), "keep me\n");
    ASSERT_EQ(phone(first, {"reg", "export", "HKCU\\Software", one.string(), "/y"}).status, 0);
    EXPECT_NE(slurp(one).find("[HKEY_CURRENT_USER\\Software\\"), std::string::npos);

    // A file that is not REGEDIT4.
    std::ofstream(dev.dir() / "bad.reg") << "Not a registry file\n";
    EXPECT_NE(phone(second, {"reg", "import", (dev.dir() / "bad.reg").string()}).status, 0);
}
