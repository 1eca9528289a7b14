// Cost of one broadcast per client, beside a bare loop of send() over the same
// sockets, and the time from the tick to the last client's receipt.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QCoreApplication>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "net/server_socket.h"
#include "platform/open_files_limit.h"

namespace {

using Clock = std::chrono::steady_clock;

// As long as the longest telegram, CR LF included.
const std::string kTelegram = std::string(97, 'x') + "\r\n";

int connect_client(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A listening server with n accepted loopback clients, kept for the whole run
// so that every benchmark of the same n uses the same sockets.
struct Setup {
    net::TServerSocket server;
    std::vector<int> clients;

    explicit Setup(int n) {
        server.OnClientError = [](QObject*, net::TCustomWinSocket*, net::TErrorEvent, int& code) {
            code = 0;
        };
        server.setPort(0);
        server.setActive(true);
        const std::uint16_t port = server.bound_port();
        while (static_cast<int>(clients.size()) < n) {
            // The listener's queue holds 5: let it catch up every 4 clients.
            for (int i = 0; i < 4 && static_cast<int>(clients.size()) < n; ++i) {
                clients.push_back(connect_client(port));
            }
            while (server.active_connections() < static_cast<int>(clients.size())) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            }
        }
    }
    ~Setup() {
        for (int fd : clients)
            ::close(fd);
    }
    // Reads one telegram on every client (blocking; it has already arrived).
    void receive_all() {
        char buffer[256];
        for (int fd : clients) {
            std::size_t got = 0;
            while (got < kTelegram.size()) {
                const ssize_t n = ::recv(fd, buffer, kTelegram.size() - got, 0);
                if (n <= 0)
                    return;
                got += static_cast<std::size_t>(n);
            }
        }
    }
};

Setup& setup_for(int n) {
    static std::map<int, std::unique_ptr<Setup>> setups;
    auto& slot = setups[n];
    if (!slot)
        slot = std::make_unique<Setup>(n);
    return *slot;
}

void report(benchmark::State& state, int clients) {
    state.SetItemsProcessed(state.iterations() * clients);
    state.counters["clients"] = clients;
    state.counters["per_client"] =
        benchmark::Counter(static_cast<double>(state.iterations() * clients),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_ServerSocketWrite(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    Setup& setup = setup_for(n);
    for (auto _ : state) {
        const auto start = Clock::now();
        net::write_to_every_client(setup.server, kTelegram.c_str());
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        setup.receive_all();
    }
    report(state, n);
}

void BM_BareSend(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    Setup& setup = setup_for(n);
    std::vector<int> handles;
    for (int i = 0; i < setup.server.active_connections(); ++i) {
        handles.push_back(setup.server.connection(i)->handle());
    }
    for (auto _ : state) {
        const auto start = Clock::now();
        for (int fd : handles) {
            benchmark::DoNotOptimize(
                ::send(fd, kTelegram.data(), kTelegram.size(), MSG_NOSIGNAL | MSG_DONTWAIT));
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        setup.receive_all();
    }
    report(state, n);
}

// From the start of the tick to the moment the last client holds the telegram.
void BM_TickToLastReceipt(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    Setup& setup = setup_for(n);
    for (auto _ : state) {
        const auto start = Clock::now();
        net::write_to_every_client(setup.server, kTelegram.c_str());
        setup.receive_all();
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    }
    state.counters["clients"] = n;
}

BENCHMARK(BM_ServerSocketWrite)->Arg(1)->Arg(100)->Arg(1000)->UseManualTime();
BENCHMARK(BM_BareSend)->Arg(1)->Arg(100)->Arg(1000)->UseManualTime();
BENCHMARK(BM_TickToLastReceipt)->Arg(1)->Arg(100)->Arg(1000)->UseManualTime();

}  // namespace

int main(int argc, char** argv) {
    platform::raise_open_files_limit();
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
