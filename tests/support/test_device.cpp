// Test devices: a fresh folder under $TMPDIR with the default configuration
// merged with the test's own, removed when the test ends.
#include "test_device.h"

#include <cstdlib>
#include <random>

#include "device/device.h"
#include "device/eventlog.h"
#include "device/files.h"

namespace testing_support {

TempDevice::TempDevice(const nlohmann::json& config)
{
    const char* tmp = std::getenv("TMPDIR");
    std::filesystem::path base = tmp && *tmp ? tmp : "/tmp";
    std::random_device random;
    do {
        dir_ = base / ("callticker-test-" + std::to_string(random()));
    } while (std::filesystem::exists(dir_));
    wince::device::make_private_dirs(dir_);
    wince::device::set_root(dir_);
    nlohmann::json merged = wince::device::default_config();
    merged.merge_patch(config);
    wince::device::write_config(merged);
}

TempDevice::~TempDevice()
{
    // Nothing of this device's configuration (faults above all) may leak
    // into a later test of the same process.
    wince::device::reload_config();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::vector<nlohmann::json> TempDevice::events(std::string_view event) const
{
    std::vector<nlohmann::json> selected;
    for (auto& e : wince::eventlog::read_all())
        if (event.empty() || e.value("event", "") == event)
            selected.push_back(std::move(e));
    return selected;
}

std::filesystem::path bin_dir() { return CALLTICKER_BIN_DIR; }

} // namespace testing_support
