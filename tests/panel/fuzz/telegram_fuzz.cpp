// libFuzzer target: any three input texts must give one complete, well-formed telegram.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "Quarvel1/telegram.h"
#include "tests/support/telegram_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The first byte picks the frame (any value, unknown ones included) and the time; the rest
    // is cut into three inputs at the first two 0x1F bytes.
    if (size == 0) {
        return 0;
    }
    const auto frame = static_cast<quarvel::ReferenceFrame>(data[0] % 5);
    const quarvel::LocalTime time{data[0] % 24, data[0] % 60, (data[0] / 4) % 60, data[0] * 3};
    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    std::string_view parts[3];
    for (int i = 0; i < 2; ++i) {
        const std::size_t cut = rest.find('\x1F');
        parts[i] = rest.substr(0, cut);
        rest = (cut == std::string_view::npos) ? std::string_view() : rest.substr(cut + 1);
    }
    parts[2] = rest;

    const quarvel::Clock clock = [time] { return time; };
    const std::string line =
        quarvel::compose_telegram_from_inputs(clock, parts[0], parts[1], parts[2], frame);
    const auto check = test_support::check_telegram(line);
    if (!check.ok || check.fields.size() != 15) {
        std::fprintf(stderr, "bad telegram (%s): %s\n", check.why.c_str(), line.c_str());
        std::abort();
    }
    return 0;
}
