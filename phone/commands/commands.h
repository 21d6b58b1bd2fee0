// Shared pieces of the phone tool's commands.
#pragma once

#include <functional>

#include <CLI/CLI.hpp>

#include "parsing.h"

namespace phone {

// Each file of the tool adds its commands here.
void add_device_commands(CLI::App& app);  // init
void add_boot_command(CLI::App& app);     // boot
void add_reg_commands(CLI::App& app);     // reg query|add|delete|export|import
void add_log_commands(CLI::App& app);     // log
void add_process_commands(CLI::App& app); // run, ps
void add_call_commands(CLI::App& app);    // call ..., line-event
void add_status_commands(CLI::App& app);  // status
void add_input_commands(CLI::App& app);   // post, key
void add_picture_commands(CLI::App& app);  // timeline, screenshot
void add_view_commands(CLI::App& app);     // view
void add_window_command(CLI::App& app);    // window
// demo; `device_given` tells whether --device named the folder to use.
void add_demo_commands(CLI::App& app, std::function<bool()> device_given);
void add_screen_commands(CLI::App& app);  // screen, ui, tap, select

} // namespace phone
