// Test entry: names this process on the device, then runs the tests.
#include <filesystem>

#include <gtest/gtest.h>

#include "device/device.h"

int main(int argc, char** argv)
{
    wince::device::set_program(std::filesystem::path(argv[0]).filename());
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
