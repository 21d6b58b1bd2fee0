// The event log followed as it grows: lines taken whole, a new or shortened
// log read from its start.
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "device/device.h"
#include "log/log_follower.h"
#include "test_device.h"

namespace {

void append(const std::string& text)
{
    std::ofstream(wince::device::log_file(), std::ios::binary | std::ios::app) << text;
}

std::vector<std::string> names(const phone::LogNews& news)
{
    std::vector<std::string> found;
    for (const auto& logged : news.events)
        found.push_back(logged.event.value("event", ""));
    return found;
}

TEST(LogFollower, ALineIsTakenOnlyOnceItsEndIsWritten)
{
    testing_support::TempDevice device;
    phone::LogFollower log;
    append("{\"event\":\"boot\"}\n{\"event\":\"ca");
    EXPECT_EQ(names(log.read()), std::vector<std::string>{"boot"});
    EXPECT_TRUE(log.read().events.empty());
    append("ll\"}\nnot an event\n");
    const phone::LogNews news = log.read();
    EXPECT_EQ(names(news), std::vector<std::string>{"call"});
    EXPECT_EQ(news.events.at(0).line, "{\"event\":\"call\"}");
    EXPECT_EQ(news.not_events, std::vector<size_t>{3});
    EXPECT_FALSE(news.restarted);
}

// A new log (phone init) may soon be longer than what was read of the old
// one; a log cut short keeps its inode.  Either is read from its start,
// its lines counted anew.
TEST(LogFollower, ALogReplacedOrCutShortIsReadFromItsStart)
{
    testing_support::TempDevice device;
    const auto file = wince::device::log_file();
    phone::LogFollower log;
    append("{\"event\":\"old\"}\n");
    EXPECT_EQ(names(log.read()), std::vector<std::string>{"old"});

    std::filesystem::path replacement = file;
    replacement += ".new";
    std::ofstream(replacement, std::ios::binary) << "{\"event\":\"first\"}\n{\"event\":\"second\"}\nx\n";
    std::filesystem::rename(replacement, file);
    phone::LogNews news = log.read();
    EXPECT_TRUE(news.restarted);
    EXPECT_EQ(names(news), (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(news.not_events, std::vector<size_t>{3});

    std::filesystem::resize_file(file, 0);
    append("{\"event\":\"again\"}\n");
    news = log.read();
    EXPECT_TRUE(news.restarted);
    EXPECT_EQ(names(news), std::vector<std::string>{"again"});
    EXPECT_FALSE(log.read().restarted);
}

} // namespace
