// The channel between processes under hostile input: what does not fit a
// kind's schema never reaches a handler, each reason is logged once, and
// nothing that arrives (empty datagrams, garbage, a stranger's datagram)
// silences or ends the reader.
#include <map>
#include <string>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "child.h"
#include "device/channel.h"
#include "device/device.h"
#include "kernel/process_table.h"
#include "test_device.h"

using nlohmann::json;
using testing_support::Child;
using testing_support::TempDevice;
namespace channel = wince::channel;

namespace {

using channel::Type;

const channel::Schema ping_schema = {{"n", Type::u32},
                                     {"big", Type::u64, false},
                                     {"offset", Type::i64, false},
                                     {"flag", Type::boolean, false},
                                     {"name", Type::text, false},
                                     {"list", Type::u32_list, false, 3}};

// A device process whose "ping" handler writes each n it receives to a pipe.
class Listener {
public:
    Listener()
    {
        EXPECT_EQ(pipe(pings_), 0);
        child_ = std::make_unique<Child>([fd = pings_[1]] {
            channel::on("ping", ping_schema, [fd](const json& message) {
                const uint32_t n = message["n"].get<uint32_t>();
                if (write(fd, &n, sizeof n) != sizeof n)
                    _exit(1);
            });
            wince::device::set_program("listener.exe");
            wince::process::attach("");
        });
        close(pings_[1]);
    }
    ~Listener() { close(pings_[0]); }

    uint32_t pid() const { return child_->pid(); }

    // The next n the listener's handler received; 0 when none comes (a
    // reader that died or went deaf) within a generous real-time bound.
    uint32_t next_ping() const
    {
        pollfd ready{pings_[0], POLLIN, 0};
        uint32_t n = 0;
        if (poll(&ready, 1, 20000) != 1 || read(pings_[0], &n, sizeof n) != static_cast<ssize_t>(sizeof n))
            ADD_FAILURE() << "the listener received no ping";
        return n;
    }

    std::string socket_file() const
    {
        return (wince::device::run_dir() / "proc" / (std::to_string(pid()) + ".sock")).string();
    }

    // One datagram, bytes as given, from a socket of this process.
    void send_raw(const std::string& bytes) const
    {
        int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        socket_file().copy(address.sun_path, sizeof address.sun_path - 1);
        EXPECT_EQ(sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&address), sizeof address),
                  static_cast<ssize_t>(bytes.size()));
        close(fd);
    }

private:
    int pings_[2] = {-1, -1};
    std::unique_ptr<Child> child_;
};

// Reasons of the channel.reject events in the log, with how often each came.
std::map<std::string, int> rejections(const TempDevice& dev)
{
    std::map<std::string, int> reasons;
    for (const auto& e : dev.events("channel.reject"))
        ++reasons[e["reason"].get<std::string>()];
    return reasons;
}

} // namespace

TEST(ChannelSchema, AMessageFitsOnlyWithEveryRequiredFieldInTypeAndRangeAndNothingElse)
{
    const auto violation = [](const json& message) { return channel::violation(message, "ping", ping_schema); };
    EXPECT_EQ(violation({{"kind", "ping"}, {"n", 4294967295u}}), "");
    EXPECT_EQ(violation({{"kind", "ping"}, {"n", 0}, {"big", 18446744073709551615u}, {"offset", -9},
                         {"flag", false}, {"name", ""}, {"list", {1, 2, 3}}}),
              "");

    const std::vector<std::pair<json, std::string>> refused = {
        {{{"kind", "ping"}}, "ping: n is missing"},
        {{{"kind", "ping"}, {"n", "7"}}, "ping: n is not an unsigned 32-bit integer"},
        {{{"kind", "ping"}, {"n", -1}}, "ping: n is not an unsigned 32-bit integer"},
        {{{"kind", "ping"}, {"n", 4294967296u}}, "ping: n is not an unsigned 32-bit integer"},
        {{{"kind", "ping"}, {"n", 1.5}}, "ping: n is not an unsigned 32-bit integer"},
        {{{"kind", "ping"}, {"n", nullptr}}, "ping: n is not an unsigned 32-bit integer"},
        {{{"kind", "ping"}, {"n", 1}, {"big", -1}}, "ping: big is not an unsigned 64-bit integer"},
        {{{"kind", "ping"}, {"n", 1}, {"offset", 9223372036854775808u}},
         "ping: offset is not a signed 64-bit integer"},
        {{{"kind", "ping"}, {"n", 1}, {"flag", 1}}, "ping: flag is not true or false"},
        {{{"kind", "ping"}, {"n", 1}, {"name", 5}}, "ping: name is not a string"},
        {{{"kind", "ping"}, {"n", 1}, {"list", {1, 2, 3, 4}}},
         "ping: list is not a short list of unsigned 32-bit integers"},
        {{{"kind", "ping"}, {"n", 1}, {"list", {1, "2"}}},
         "ping: list is not a short list of unsigned 32-bit integers"},
        {{{"kind", "ping"}, {"n", 1}, {"surprise", 1}}, "ping: a field it does not have"},
    };
    for (const auto& [message, reason] : refused)
        EXPECT_EQ(violation(message), reason) << message.dump();
}

TEST(ChannelReader, HostileDatagramsAreDroppedLoggedOnceEachAndTheReaderGoesOn)
{
    TempDevice dev;
    Listener listener;
    const std::vector<std::string> hostile = {
        "",                                        // empty: once taken for a shutdown
        "{\"kind\":\"ping\",\"n\":",               // truncated
        "\xff\xfe garbage",                        // not JSON at all
        "[1,2,3]",                                 // not an object
        "{\"n\":1}",                               // no kind
        "{\"kind\":7}",                            // a kind that is no string
        "{\"kind\":\"no such kind\"}",             // nobody handles it
        "{\"kind\":\"ping\",\"n\":\"x\"}",         // wrong type: used to throw in the reader
        "{\"kind\":\"ping\",\"n\":1,\"more\":2}",  // a field the kind does not have
        std::string(100 * 1024, '{'),              // larger than any message
    };
    for (int round = 0; round < 3; ++round)
        for (const auto& bytes : hostile)
            listener.send_raw(bytes);
    listener.send_raw(json{{"kind", "ping"}, {"n", 7}}.dump());
    EXPECT_EQ(listener.next_ping(), 7u);
    ASSERT_TRUE(channel::send(listener.pid(), {{"kind", "ping"}, {"n", 8}}));
    EXPECT_EQ(listener.next_ping(), 8u);

    const std::map<std::string, int> expected = {
        {"empty datagram", 1},
        {"not JSON", 1},
        {"not a JSON object", 1},
        {"no kind", 1},
        {"unknown kind", 1},
        {"ping: n is not an unsigned 32-bit integer", 1},
        {"ping: a field it does not have", 1},
        {"datagram too large", 1},
    };
    EXPECT_EQ(rejections(dev), expected);
}

TEST(ChannelReader, OnlyItsOwnProcessEndsTheReader)
{
    TempDevice dev;
    Listener listener;
    for (int i = 0; i < 5; ++i)
        listener.send_raw("");
    listener.send_raw(json{{"kind", "ping"}, {"n", 1}}.dump());
    EXPECT_EQ(listener.next_ping(), 1u);

    // This process's own reader ends when the process stops it (stop()
    // joins it).
    channel::listen();
    channel::stop();
}

TEST(ChannelPeers, ADatagramFromAnotherUserIsRefused)
{
    if (!testing_support::can_become_another_user())
        GTEST_SKIP() << "needs root to send as another user";
    TempDevice dev;
    Listener listener;
    // The stranger's socket is connected while it may still reach the
    // device folder; it then sends as "nobody".
    const int stranger = testing_support::exit_code_in_child([&] {
        int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        listener.socket_file().copy(address.sun_path, sizeof address.sun_path - 1);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            return 1;
        if (!testing_support::become_another_user())
            return 2;
        const std::string fake = json{{"kind", "ping"}, {"n", 666}}.dump();
        return send(fd, fake.data(), fake.size(), 0) == static_cast<ssize_t>(fake.size()) ? 0 : 3;
    });
    ASSERT_EQ(stranger, 0);
    listener.send_raw(json{{"kind", "ping"}, {"n", 1}}.dump());
    EXPECT_EQ(listener.next_ping(), 1u);
    EXPECT_EQ(rejections(dev), (std::map<std::string, int>{{"sender is not the device's owner", 1}}));
}
