#include "interval.h"

#include <climits>
#include <string_view>

namespace quarvel {
namespace {

// The original lookup buffer holds 99 characters and a terminator; a longer value is read
// only as far as that buffer would reach.
constexpr std::size_t kLookupChars = 99;

bool is_c_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// atol as glibc does it on a 64-bit long: saturating at LONG_MIN / LONG_MAX, without the
// undefined overflow of a hand-rolled accumulation.
long read_long(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && is_c_space(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // The magnitude sticks at LONG_MAX + 1 once it gets there: enough to saturate either way.
    constexpr unsigned long kLimit = static_cast<unsigned long>(LONG_MAX) + 1UL;
    unsigned long magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const auto digit = static_cast<unsigned long>(text[i] - '0');
        magnitude = (magnitude > (kLimit - digit) / 10UL) ? kLimit : magnitude * 10UL + digit;
    }
    if (negative) {
        return magnitude >= kLimit ? LONG_MIN : -static_cast<long>(magnitude);
    }
    return magnitude >= kLimit ? LONG_MAX : static_cast<long>(magnitude);
}

}  // namespace

std::uint32_t interval_from_environment(const char* value) {
    if (value == nullptr || value[0] == '\0') {
        return kDefaultIntervalMs;
    }
    std::string_view text(value);
    text = text.substr(0, std::min(text.size(), kLookupChars));
    const long number = read_long(text);
    // Doubling and narrowing in unsigned arithmetic wrap instead of overflowing.
    return static_cast<std::uint32_t>(static_cast<unsigned long>(number) * 2UL);
}

}  // namespace quarvel
