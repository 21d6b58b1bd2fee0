// phone: the user's and the tests' way into an emulated device.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <set>

#include "commands/commands.h"
#include "device/device.h"

namespace {

// --help-all shows every command whole: CLI11 expands the commands but names
// their subcommands only, which would hide the options of `call incoming`.
class HelpFormatter : public CLI::Formatter {
public:
    std::string make_subcommands(const CLI::App* app, CLI::AppFormatMode mode) const override
    {
        if (mode != CLI::AppFormatMode::Sub)
            return CLI::Formatter::make_subcommands(app, mode);
        std::string out;
        for (const CLI::App* sub : app->get_subcommands({}))
            out += "\n" + make_expanded(sub);
        return out.empty() ? out : "\nSubcommands:" + out;
    }
};

// Commands that make a device rather than use one.
const std::set<std::string> makes_device = {"init", "demo"};

size_t edit_distance(const std::string& a, const std::string& b)
{
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// The command a mistyped or half-remembered word most likely meant.
std::string nearest(const std::string& word, const CLI::App& parent)
{
    std::string best;
    size_t best_distance = std::max<size_t>(2, word.size() / 3) + 1;
    for (const CLI::App* command : parent.get_subcommands({})) {
        const std::string& name = command->get_name();
        const size_t distance = name.rfind(word, 0) == 0 ? 0 : edit_distance(word, name);
        if (distance < best_distance) {
            best = name;
            best_distance = distance;
        }
    }
    return best;
}

// How far the command words reach: the deepest command they name, its
// path ("phone call"), and the first word that names none of its
// subcommands (empty when every word was a command or an argument).
struct CommandWords {
    CLI::App* command;
    std::string path = "phone";
    std::string unknown;
};

CommandWords walk_commands(CLI::App& app, int argc, char** argv)
{
    CommandWords reached{&app, "phone", ""};
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--device") {
            ++i;
            continue;
        }
        if (word.empty() || word[0] == '-')
            continue;
        if (reached.command->get_subcommands({}).empty())
            break;
        CLI::App* named = nullptr;
        for (CLI::App* sub : reached.command->get_subcommands({}))
            if (sub->check_name(word))
                named = sub;
        if (!named) {
            reached.unknown = word;
            break;
        }
        reached.command = named;
        reached.path += " " + word;
    }
    return reached;
}

// For a word where a command was due: "unknown command 'stauts': did you
// mean 'status'? (see phone --help)"; empty when the words name commands.
std::string unknown_command(CLI::App& app, const CommandWords& reached)
{
    if (reached.unknown.empty())
        return {};
    const std::string guess = nearest(reached.unknown, *reached.command);
    return "unknown " + (reached.command == &app ? std::string("command") : reached.command->get_name() + " command") +
           " '" + reached.unknown + "'" + (guess.empty() ? "" : ": did you mean '" + guess + "'?") + " (see " +
           reached.path + " --help)";
}

// For a command that takes a subcommand and was given none: "call needs
// one of: incoming, dial, ... (see phone call --help)"; empty otherwise.
std::string missing_subcommand(CLI::App& app, const CommandWords& reached)
{
    if (!reached.unknown.empty() || reached.command->get_subcommands({}).empty())
        return {};
    std::string names;
    for (const CLI::App* sub : reached.command->get_subcommands({}))
        names += (names.empty() ? "" : ", ") + sub->get_name();
    return (reached.command == &app ? std::string("give a command: ") : reached.command->get_name() + " needs one of: ") +
           names + " (see " + reached.path + " --help)";
}

// The tool's own options: --version, --device, --help-all.
void add_tool_options(CLI::App& app)
{
    app.formatter(std::make_shared<HelpFormatter>());
    app.require_subcommand(1);
    app.fallthrough();
    app.set_help_all_flag("--help-all", "Every command's help");
    app.add_flag_callback(
        "--version",
        [] {
            std::printf("phone (CallTicker) %s\n", CALLTICKER_VERSION);
            throw CLI::Success();
        },
        "The tool's version");
    app.add_option_function<std::string>(
           "--device", [](const std::string& dir) { wince::device::set_root(dir); },
           "Device folder (default: $WINCE_DEVICE_DIR or ~/.local/state/wince-device)")
        ->type_name("DIR");
}

void add_commands(CLI::App& app)
{
    phone::add_device_commands(app);
    phone::add_boot_command(app);
    phone::add_reg_commands(app);
    phone::add_log_commands(app);
    phone::add_process_commands(app);
    phone::add_call_commands(app);
    phone::add_status_commands(app);
    phone::add_input_commands(app);
    phone::add_screen_commands(app);
    phone::add_picture_commands(app);
    phone::add_view_commands(app);
    phone::add_window_command(app);
    phone::add_demo_commands(app, [&app] { return app.get_option("--device")->count() > 0; });
}

// Every command but those that make a device needs one, and relies on its
// device.json: a folder without one, or a file the device cannot use, is
// reported before the command runs (and before it creates anything in a
// folder that is no device).
void require_device(CLI::App& app)
{
    app.parse_complete_callback([&app] {
        for (const auto* command : app.get_subcommands())
            if (makes_device.count(command->get_name()))
                return;
        const auto root = wince::device::root();
        if (!std::filesystem::is_regular_file(wince::device::config_file()))
            throw phone::Failure("no device at " + root.string() + ": run 'phone init' first");
        const auto problems = wince::device::config_problems();
        if (!problems.empty())
            throw phone::Failure(problems.front());
    });
}

// Words that are no command line: help and version (exit 0), or one line
// on what was wrong, naming the command meant where a word was mistyped.
int parse_failure(CLI::App& app, const CLI::ParseError& error, int argc, char** argv)
{
    if (error.get_exit_code() == 0)
        return app.exit(error);
    const CommandWords reached = walk_commands(app, argc, argv);
    std::string problem = unknown_command(app, reached);
    if (problem.empty() && dynamic_cast<const CLI::RequiredError*>(&error))
        problem = missing_subcommand(app, reached);
    std::fprintf(stderr, "phone: %s\n", problem.empty() ? error.what() : problem.c_str());
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app{"phone: drive an emulated Windows Mobile phone"};
    add_tool_options(app);
    wince::device::set_program("phone");
    add_commands(app);
    require_device(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return parse_failure(app, error, argc, argv);
    } catch (const std::exception& error) {
        // phone::Failure is one of these: the command's own line.
        std::fprintf(stderr, "phone: %s\n", error.what());
        return 1;
    }
    return 0;
}
