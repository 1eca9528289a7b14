// A thousand real clients connecting and leaving at random while a timer
// broadcasts at a short interval.
#include <gtest/gtest.h>

#include <dirent.h>
#include <QTimer>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "loopback_client.h"
#include "net/server_socket.h"
#include "platform/open_files_limit.h"

namespace {

using net_test::LoopbackClient;
using net_test::numbered_line;
using namespace std::chrono_literals;

int open_descriptor_count() {
    int count = 0;
    DIR* dir = ::opendir("/proc/self/fd");
    while (::readdir(dir) != nullptr) {
        ++count;
    }
    ::closedir(dir);
    return count;
}

// One client and what it has been found to receive so far.
struct Tracked {
    std::unique_ptr<LoopbackClient> client;
    int sequence_at_connect = 0;  // telegrams sent before it connected
    bool reads = true;            // a few never read, to show they hold nobody up
    std::size_t parsed = 0;       // bytes of received() already checked
    int last = -1;                // sequence of the last whole line received
    std::string fault;
};

// Checks the newly received lines: each is whole and follows the previous one.
void check_new_lines(Tracked& t) {
    if (!t.client->drain() && t.fault.empty()) {
        t.fault = "closed by the server";
    }
    const std::string& got = t.client->received();
    for (std::size_t end; (end = got.find('\n', t.parsed)) != std::string::npos;) {
        const std::string line = got.substr(t.parsed, end + 1 - t.parsed);
        t.parsed = end + 1;
        const int sequence = line.size() == 13 ? std::stoi(line.substr(5, 6)) : -1;
        const bool first = t.last < 0;
        if (line != numbered_line(sequence) || (first && sequence < t.sequence_at_connect) ||
            (!first && sequence != t.last + 1)) {
            if (t.fault.empty()) {
                t.fault = "after " + std::to_string(t.last) + " got '" + line + "'";
            }
        }
        t.last = sequence;
    }
}

TEST(ServerChurn, ThousandClientsComingAndGoingGetEveryTelegramOnceAndWhole) {
    ASSERT_FALSE(platform::raise_open_files_limit().failed());
    constexpr int kClients = 1000;
    constexpr int kTelegrams = 300;
    net::TServerSocket server;
    const int descriptors_before = open_descriptor_count();
    int client_errors = 0;
    server.OnClientError = [&](QObject*, net::TCustomWinSocket* socket, net::TErrorEvent kind,
                               int& code) {
        ++client_errors;
        if (kind == net::eeConnect) {
            socket->close();
        }
        code = 0;
    };
    server.setPort(0);
    server.setActive(true);
    const std::uint16_t port = server.bound_port();

    int sequence = 0;
    int last_telegram = std::numeric_limits<int>::max();
    QTimer timer;
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (sequence <= last_telegram) {
            net::write_to_every_client(server, numbered_line(sequence++).c_str());
        }
    });
    timer.start();

    std::mt19937 random(4099);
    std::vector<Tracked> clients;
    int peak = 0;
    int left = 0;
    int passes = 0;
    const bool finished = net_test::wait_until(
        [&] {
            // Churn until enough telegrams and clients have been seen; the
            // last telegrams go out without churn, so that every reset
            // connection has met a failing send and left the list.
            if (last_telegram == std::numeric_limits<int>::max() && sequence >= kTelegrams &&
                peak >= kClients) {
                last_telegram = sequence + 20;
            }
            const bool churn = last_telegram == std::numeric_limits<int>::max();
            // At most two new clients per pass: the listener takes at least one
            // per pass and its queue holds 5.
            for (int join = random() % 3;
                 churn && join > 0 && static_cast<int>(clients.size()) < kClients; --join) {
                Tracked t;
                t.client = std::make_unique<LoopbackClient>(port);
                t.sequence_at_connect = sequence;
                t.reads = random() % 50 != 0;
                clients.push_back(std::move(t));
            }
            peak = std::max(peak, static_cast<int>(clients.size()));
            if (churn && !clients.empty() && random() % 8 == 0) {
                const std::size_t victim = random() % clients.size();
                if (random() % 2 == 0) {
                    clients[victim].client->reset();
                } else {
                    clients[victim].client->close();
                }
                clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(victim));
                ++left;
            }
            if (++passes % 4 == 0) {
                for (Tracked& t : clients) {
                    if (t.reads) {
                        check_new_lines(t);
                    }
                }
            }
            return sequence > last_telegram;
        },
        120s);
    timer.stop();
    ASSERT_TRUE(finished) << "sent " << sequence << ", peak " << peak;

    // Let every pending accept and close be handled, then send three more.
    ASSERT_TRUE(net_test::wait_until(
        [&] { return server.active_connections() == static_cast<int>(clients.size()); }));
    for (int i = 0; i < 3; ++i) {
        net::write_to_every_client(server, numbered_line(sequence++).c_str());
    }
    int checked = 0;
    for (Tracked& t : clients) {
        if (!t.reads) {
            continue;
        }
        ASSERT_TRUE(t.client->wait_for_bytes(t.parsed + 3 * numbered_line(0).size()));
        check_new_lines(t);
        EXPECT_EQ(t.fault, "");
        EXPECT_EQ(t.last, sequence - 1);
        ++checked;
    }
    EXPECT_GT(checked, kClients / 2);
    EXPECT_GT(left, 0);

    // Everybody leaves: no descriptor of theirs may stay behind. Those that
    // never read leave with a reset, found by the next send.
    clients.clear();
    ASSERT_TRUE(net_test::wait_until([&] {
        net::write_to_every_client(server, numbered_line(sequence++).c_str());
        return server.active_connections() == 0;
    }));
    server.setActive(false);
    EXPECT_EQ(open_descriptor_count(), descriptors_before);
    RecordProperty("client_errors", client_errors);
}

}  // namespace
