// The phone as a product: the demo's narration against its own event log,
// the timeline of the demo's device, screenshots of the settings program at
// two dpi read back pixel by pixel, phone view driven in tmux, and every
// command of the README's tour run as pasted into a shell.
#include <cairo.h>
#include <expat.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <regex>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "log/call_history.h"
#include "device/device.h"
#include "phone_runner.h"
#include "test_device.h"
#include "user/screen_model.h"

using nlohmann::json;
using testing_support::Phone;
using testing_support::TempDevice;

namespace {

constexpr const char* kSettingsProgram = "\\Program Files\\CallTicker\\CallTickerCfg.exe";

std::string read_file(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Retries `probe` for a few seconds of real time: the device's programs
// answer a key or a tap in their own time.
bool eventually(const std::function<bool()>& probe, double seconds = 10)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!probe()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

TEST(Demo, NarratesWhatItsLogShowsAndDrawsItsCalls)
{
    TempDevice device;
    // A --device folder that does not exist yet is made, as init makes one.
    const auto root = device.dir() / "new";
    Phone phone(root);
    const auto demo = phone.run({"demo", "--clock-rate", "10"});
    ASSERT_EQ(demo.status, 0) << demo.errors << demo.output;

    // Every signal told, with its call time, is a signal of that call in the
    // log, and every signal of the log is told.
    const auto calls = phone::call_history(phone.events());
    ASSERT_EQ(calls.size(), 2u);
    std::set<std::string> logged;
    for (const auto& call : calls)
        for (const auto& signal : call.signals)
            logged.insert(std::to_string(call.id) + " " + phone::call_time(signal.at) + " " +
                          phone::signal_kind_name(signal.kind));
    std::set<std::string> told;
    const std::regex signal_line(R"(call (\d+)\s+(\d+:\d\d\.\d)\s+(chime|beep|vibration)\b)");
    for (std::sregex_iterator it(demo.output.begin(), demo.output.end(), signal_line), end; it != end; ++it)
        told.insert((*it)[1].str() + " " + (*it)[2].str() + " " + (*it)[3].str());
    EXPECT_EQ(told, logged);
    EXPECT_NE(demo.output.find("beep at full volume: 5 s before minute 1"), std::string::npos) << demo.output;
    EXPECT_NE(demo.output.find("vibration: 10 s before 0:30"), std::string::npos) << demo.output;
    EXPECT_NE(demo.output.find("Summary"), std::string::npos);

    // The settings were changed through the dialog, not behind its back.
    for (const auto& set : phone.events("reg.set")) {
        if (set["key"].get<std::string>().find("CallTicker") != std::string::npos) {
            EXPECT_EQ(set["exe"], "CallTickerCfg.exe") << set.dump();
        }
    }

    const auto pictures = root / "pictures";
    for (const char* name : {"settings.png", "timeline.svg", "timeline.png"})
        EXPECT_TRUE(std::filesystem::is_regular_file(pictures / name)) << name;

    // The timeline of the demo's device: an SVG that parses, a PNG that loads.
    const auto svg = device.dir() / "again.svg";
    phone.ok({"timeline", "--out", svg.string()});
    const std::string text = read_file(svg);
    XML_Parser parser = XML_ParserCreate(nullptr);
    const bool parsed = XML_Parse(parser, text.data(), static_cast<int>(text.size()), 1) == XML_STATUS_OK;
    XML_ParserFree(parser);
    EXPECT_TRUE(parsed);
    EXPECT_NE(text.find("<svg"), std::string::npos);
    const auto png = device.dir() / "again.png";
    phone.ok({"timeline", "--out", png.string()});
    cairo_surface_t* image = cairo_image_surface_create_from_png(png.c_str());
    EXPECT_EQ(cairo_surface_status(image), CAIRO_STATUS_SUCCESS);
    EXPECT_GT(cairo_image_surface_get_width(image), 500);
    cairo_surface_destroy(image);

    const auto refused = phone.run({"timeline", "--out", (device.dir() / "calls.jpg").string()});
    EXPECT_NE(refused.status, 0);
    EXPECT_NE(refused.errors.find(".svg or .png"), std::string::npos) << refused.errors;
}

// One PNG read back, with the screen model it was drawn from.
class Picture {
public:
    explicit Picture(const std::filesystem::path& file) : surface_(cairo_image_surface_create_from_png(file.c_str())) {}
    ~Picture() { cairo_surface_destroy(surface_); }

    int width() const { return cairo_image_surface_get_width(surface_); }
    int height() const { return cairo_image_surface_get_height(surface_); }

    // 0xRRGGBB
    uint32_t at(int x, int y) const
    {
        cairo_surface_flush(surface_);
        const unsigned char* row = cairo_image_surface_get_data(surface_) + y * cairo_image_surface_get_stride(surface_);
        uint32_t pixel;
        std::memcpy(&pixel, row + x * 4, 4);
        return pixel & 0xFFFFFF;
    }

    // How many pixels inside the rectangle satisfy `test`.
    int count(const wince::screen::Rect& r, const std::function<bool(uint32_t)>& test) const
    {
        int n = 0;
        for (int y = r.y; y < r.y + r.height; ++y)
            for (int x = r.x; x < r.x + r.width; ++x)
                n += test(at(x, y));
        return n;
    }

private:
    cairo_surface_t* surface_;
};

bool white(uint32_t c) { return c == 0xFFFFFF; }
bool dark(uint32_t c) { return ((c >> 16) & 0xFF) < 80 && ((c >> 8) & 0xFF) < 80 && (c & 0xFF) < 80; }
bool bluish(uint32_t c) { return (c & 0xFF) > ((c >> 16) & 0xFF) + 40; }

const wince::screen::Control& control(const wince::screen::Screen& s, int id)
{
    for (const auto& c : s.controls)
        if (c.id == id)
            return c;
    throw std::runtime_error("no control " + std::to_string(id));
}

class Screenshot : public ::testing::TestWithParam<int> {};

TEST_P(Screenshot, SettingsAndAboutBoxShowTheirControlsWhereTheScreenHasThem)
{
    const int dpi = GetParam();
    TempDevice device;
    Phone phone(device.dir());
    phone.ok({"init", "--clock-rate", "10", "--audio", "null", "--dpi", std::to_string(dpi)});
    wince::device::reload_config();
    phone.ok({"run", kSettingsProgram});
    ASSERT_TRUE(eventually([] { return !wince::screen::current().dark; }));
    const auto settings = wince::screen::current();
    const auto shot = device.dir() / "settings.png";
    phone.ok({"screenshot", shot.string()});
    {
        Picture picture(shot);
        const int side = dpi == 96 ? 240 : 480;
        ASSERT_EQ(picture.width(), side);
        ASSERT_EQ(picture.height(), side * 4 / 3);
        EXPECT_TRUE(bluish(picture.at(side / 2, settings.title_bar.y + 2))) << "title bar";
        EXPECT_TRUE(dark(picture.at(2, settings.softkey_bar.y + settings.softkey_bar.height - 2))) << "soft-key bar";
        // The check box's frame and tick, the combo box's white field and its
        // dark drop arrow, and nothing between the last control and the bar.
        EXPECT_GT(picture.count(control(settings, 1000).rect, dark), 10);
        const auto combo = control(settings, 1004).rect;
        const wince::screen::Rect arrow{combo.x + combo.width - combo.height, combo.y, combo.height, combo.height};
        EXPECT_GT(picture.count(arrow, dark), 5);
        const wince::screen::Rect field{combo.x + 3, combo.y + 3, combo.width / 4, combo.height - 6};
        EXPECT_GT(picture.count(field, white), field.width * field.height / 3);
        const auto last = control(settings, 1005).rect;
        const wince::screen::Rect empty{0, last.y + last.height + 4, side, settings.softkey_bar.y - last.y - last.height - 8};
        EXPECT_EQ(picture.count(empty, white), empty.width * empty.height);
    }

    phone.ok({"tap", "softkey", "right"});
    phone.ok({"tap", "menu", "About..."});
    ASSERT_TRUE(eventually([] { return wince::screen::current().controls.size() == 4; }));
    const auto about = wince::screen::current();
    const auto about_shot = device.dir() / "about.png";
    phone.ok({"screenshot", about_shot.string(), "--scale", "2"});
    {
        Picture picture(about_shot);
        ASSERT_EQ(picture.width(), about.width * 2);
        wince::screen::Rect r = about.controls[3].rect; // the icon, last in the template
        ASSERT_TRUE(about.controls[3].icon.has_value());
        r = {r.x * 2, r.y * 2, r.width * 2, r.height * 2};
        EXPECT_GT(picture.count(r, bluish), r.width * r.height / 8) << "the program's icon";
        const auto title = about.controls[0].rect;
        EXPECT_GT(picture.count({title.x * 2, title.y * 2, title.width * 2, title.height * 2}, dark), 20);
    }
    phone.ok({"tap", "ok"});
    phone.ok({"tap", "ok"});
}

INSTANTIATE_TEST_SUITE_P(Dpi, Screenshot, ::testing::Values(96, 192));

bool have_tmux() { return std::system("tmux -V >/dev/null 2>&1") == 0; }

class Tmux {
public:
    explicit Tmux(const std::string& command) : name_("callticker-view-" + std::to_string(::getpid()))
    {
        run("tmux new-session -d -s " + name_ + " -x 100 -y 30 '" + command + "'");
    }
    ~Tmux() { run("tmux kill-session -t " + name_ + " 2>/dev/null"); }

    std::string capture() const
    {
        const std::string out = "/tmp/" + name_ + ".txt";
        run("tmux capture-pane -p -t " + name_ + " > " + out);
        return read_file(out);
    }
    void keys(const std::string& keys) const { run("tmux send-keys -t " + name_ + " " + keys); }

    bool shows(const std::string& text, double seconds = 10) const
    {
        return eventually([&] { return capture().find(text) != std::string::npos; }, seconds);
    }

    // Whether the session ended (its command exited) within a few seconds.
    bool gone() const
    {
        return eventually([&] { return std::system(("tmux has-session -t " + name_ + " 2>/dev/null").c_str()) != 0; });
    }

private:
    static void run(const std::string& command) { (void)std::system(command.c_str()); }
    std::string name_;
};

TEST(View, ShowsTheDialogTakesKeysAndAdvancesACall)
{
    if (!have_tmux())
        GTEST_SKIP() << "tmux is not installed";
    TempDevice device;
    Phone phone(device.dir());
    phone.ok({"init", "--clock-rate", "10", "--audio", "null"});
    phone.ok({"boot"});
    ASSERT_FALSE(phone.wait_for("line.open").is_null());
    const std::string bin = (testing_support::bin_dir() / "phone").string();
    Tmux view(bin + " --device " + device.dir().string() + " view");
    ASSERT_TRUE(view.shows("calls      none")) << view.capture();
    // The vibrator's state in the word phone status uses.
    EXPECT_NE(view.capture().find("vibrator   off"), std::string::npos) << view.capture();
    EXPECT_NE(phone.ok({"status"}).find("vibrator     off"), std::string::npos);

    view.keys("F9"); // the settings program, from the view
    ASSERT_TRUE(view.shows("[x] Enabled")) << view.capture();
    view.keys("Space"); // the focused check box
    ASSERT_TRUE(view.shows("[ ] Enabled")) << view.capture();
    EXPECT_TRUE(eventually([&] { return phone.ok({"ui"}).find("\"checked\": false") != std::string::npos; }));
    view.keys("Escape");

    view.keys("F3");
    ASSERT_TRUE(view.shows("OFFERING")) << view.capture();
    view.keys("F4");
    ASSERT_TRUE(view.shows("CONNECTED")) << view.capture();
    // The call's duration advances on the screen with no event to wake it.
    const std::regex duration(R"(CONNECTED\s+INTERACTIVEVOICE\s+(\d+:\d\d\.\d))");
    auto shown_duration = [&] {
        std::smatch m;
        const std::string screen = view.capture();
        return std::regex_search(screen, m, duration) ? m[1].str() : std::string();
    };
    const std::string first = shown_duration();
    EXPECT_TRUE(eventually([&] { return shown_duration() != first && !shown_duration().empty(); })) << first;
    view.keys("F7");
    EXPECT_TRUE(view.shows("calls      none")) << view.capture();
    view.keys("F10");
}

// A command of the README: its line and the text a user would paste.
struct ReadmeCommand {
    int line;
    std::string text;
};

// Every command of the README from its tour on: each line of an sh block,
// and each "$ " line of a console block (the rest of those is output).
std::vector<ReadmeCommand> readme_tour()
{
    std::istringstream readme(read_file(std::filesystem::path(CALLTICKER_SOURCE_DIR) / "README.md"));
    std::vector<ReadmeCommand> commands;
    bool in_tour = false;
    std::string block; // the open fence's language and a blank; empty outside a block
    int number = 0;
    for (std::string line; std::getline(readme, line);) {
        ++number;
        if (line.rfind("## A tour", 0) == 0)
            in_tour = true;
        if (line.rfind("```", 0) == 0) {
            block = block.empty() ? line.substr(3) + " " : "";
            continue;
        }
        if (!in_tour || block.empty() || line.empty())
            continue;
        if (block == "sh ")
            commands.push_back({number, line});
        else if (block == "console " && line.rfind("$ ", 0) == 0)
            commands.push_back({number, line.substr(2)});
    }
    return commands;
}

// The environment of a pasted command: the built phone first on the PATH,
// the test's device instead of the README's.
std::string shell_environment(const std::filesystem::path& device)
{
    return "PATH=\"" + testing_support::bin_dir().string() + ":$PATH\" WINCE_DEVICE_DIR=\"" + device.string() + "\"";
}

// A command line as a user's shell runs it, in `folder`; the command's
// process group is ended when it outlasts two minutes of real time.
testing_support::CommandResult run_in_shell(const std::string& line, const std::filesystem::path& folder,
                                            const std::filesystem::path& device)
{
    const auto out = folder / ".out", err = folder / ".err";
    const std::string script = "export " + shell_environment(device) + "; set -e; " + line;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        const int in = ::open("/dev/null", O_RDONLY);
        const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || o < 0 || e < 0 || ::chdir(folder.c_str()) != 0)
            ::_exit(126);
        ::dup2(in, 0);
        ::dup2(o, 1);
        ::dup2(e, 2);
        ::execl("/bin/sh", "sh", "-c", script.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    testing_support::CommandResult result;
    int status = 0;
    const bool ended = eventually([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 120);
    if (!ended) {
        ::kill(-pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        result.errors = "(killed after two minutes) ";
    }
    result.status = ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.output = read_file(out);
    result.errors += read_file(err);
    return result;
}

TEST(Readme, EveryCommandOfTheTourRunsAsPastedOnAFreshDevice)
{
    TempDevice temp;
    const auto device = temp.dir() / "tour";
    const auto folder = temp.dir() / "work";
    std::filesystem::create_directories(folder);
    // Whatever the tour leaves running ends with the test.
    struct EndPrograms {
        std::filesystem::path device;
        ~EndPrograms() { Phone(device).run({"init"}); }
    } end_programs{device};

    const auto commands = readme_tour();
    ASSERT_GE(commands.size(), 15u) << "the README's tour was not found";
    // The device is the test's own, and its clock runs fast.
    const std::regex clock_rate(R"(--clock-rate [0-9.]+)");
    int views = 0;
    for (const auto& [line, text] : commands) {
        SCOPED_TRACE("README.md line " + std::to_string(line) + ": " + text);
        if (text.rfind("export WINCE_DEVICE_DIR=", 0) == 0)
            continue;
        ASSERT_EQ(text.rfind("phone ", 0), 0u) << "a tour command that is not phone's";
        const std::string command = std::regex_replace(text, clock_rate, "--clock-rate 50");
        if (command.rfind("phone view", 0) == 0) {
            // Interactive: shown in a terminal, then left with F10.
            ASSERT_TRUE(have_tmux()) << "tmux is needed to run phone view";
            Tmux view("cd \"" + folder.string() + "\" && " + shell_environment(device) + " " + command);
            EXPECT_TRUE(view.shows("last signals")) << view.capture();
            view.keys("F10");
            EXPECT_TRUE(view.gone()) << view.capture();
            ++views;
            continue;
        }
        const auto result = run_in_shell(command, folder, device);
        EXPECT_EQ(result.status, 0) << result.errors << result.output;
    }
    EXPECT_EQ(views, 1);
    // What the tour says it makes, it made.
    for (const char* picture : {"settings.png", "calls.png"})
        EXPECT_TRUE(std::filesystem::is_regular_file(folder / picture)) << picture;
}

} // namespace
