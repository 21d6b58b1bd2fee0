// phone: the user's and the tests' way into an emulated device.
#include <cstdio>
#include <exception>
#include <filesystem>

#include "common.h"
#include "device/device.h"

int main(int argc, char** argv)
{
    CLI::App app{"phone: drive an emulated Windows Mobile phone"};
    app.require_subcommand(1);
    app.fallthrough();
    app.set_help_all_flag("--help-all", "Every command's help");
    app.add_option_function<std::string>(
           "--device", [](const std::string& dir) { wince::device::set_root(dir); },
           "Device folder (default: $WINCE_DEVICE_DIR or ~/.local/state/wince-device)")
        ->type_name("DIR");
    wince::device::set_program("phone");

    phone::add_device_commands(app);
    phone::add_reg_commands(app);
    phone::add_log_commands(app);
    phone::add_process_commands(app);
    phone::add_call_commands(app);
    phone::add_status_commands(app);
    phone::add_input_commands(app);
    phone::add_timeline_commands(app);
    // Every command but init (which rewrites it) relies on device.json: a
    // file the device cannot use is reported before the command runs.
    app.parse_complete_callback([&app] {
        if (app.got_subcommand("init"))
            return;
        const auto problems = wince::device::config_problems();
        if (!problems.empty())
            throw phone::Failure(problems.front());
    });

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0)
            return app.exit(error);
        std::fprintf(stderr, "phone: %s\n", error.what());
        return 2;
    } catch (const phone::Failure& failure) {
        std::fprintf(stderr, "phone: %s\n", failure.what());
        return 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "phone: %s\n", error.what());
        return 1;
    }
    return 0;
}
