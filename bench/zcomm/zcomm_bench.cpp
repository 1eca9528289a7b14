// The price of writing a telegram byte by byte: WriteComm to a pseudo-terminal whose other side
// reads, beside one write() of the whole telegram to the same line in the same run.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <atomic>
#include <string>
#include <thread>

#include "ZComm/zcomm.h"

namespace {

const std::string kTelegram = "$PXTQSSB,123456.789,1234.567,-2345.678,345.250,1*5A\r\n";

// A line whose other side drains everything until it is destroyed.
class DrainedLine {
  public:
    DrainedLine() {
        char name[64] = {};
        if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
            return;
        }
        path_ = name;
        termios t{};
        tcgetattr(slave_, &t);
        cfmakeraw(&t);
        tcsetattr(slave_, TCSANOW, &t);
        reader_ = std::thread([this] {
            char buf[4096];
            while (!stop_.load(std::memory_order_acquire)) {
                pollfd p{master_, POLLIN, 0};
                if (poll(&p, 1, 20) > 0 && read(master_, buf, sizeof buf) <= 0) {
                    break;
                }
            }
        });
    }
    ~DrainedLine() {
        stop_.store(true, std::memory_order_release);
        if (reader_.joinable()) {
            reader_.join();
        }
        close(master_);
        close(slave_);
    }
    bool ok() const { return !path_.empty(); }
    const std::string& path() const { return path_; }
    int slave() const { return slave_; }

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
    std::atomic<bool> stop_{false};
    std::thread reader_;
};

void BM_WriteCommTelegram(benchmark::State& state) {
    DrainedLine line;
    TZComm comm(nullptr);
    comm.Port = line.path();
    comm.XOuputFlowCtl = comm.XInputFlowCtl = false;
    if (!line.ok() || comm.OpenConnection() == 0) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            comm.WriteComm(kTelegram.data(), static_cast<std::int32_t>(kTelegram.size())));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kTelegram.size()));
    comm.CloseConnection();
}
BENCHMARK(BM_WriteCommTelegram);

void BM_OneWriteOfTheTelegram(benchmark::State& state) {
    DrainedLine line;
    if (!line.ok()) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(write(line.slave(), kTelegram.data(), kTelegram.size()));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kTelegram.size()));
}
BENCHMARK(BM_OneWriteOfTheTelegram);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);  // the component's notifier needs one
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
