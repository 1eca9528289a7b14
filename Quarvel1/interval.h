// The repeat interval taken from the environment.
#pragma once

#include <cstdint>

namespace quarvel {

inline constexpr std::uint32_t kDefaultIntervalMs = 2000;

// The timer interval in ms for the value of INTERVAL (`value` may be null: the variable is
// unset). Null or empty gives kDefaultIntervalMs. Otherwise the first 99 characters are read as
// atol does (blanks, one optional sign, digits; no digits give 0; beyond the range of long the
// value saturates as glibc's atol does) and the number is doubled; the result is kept modulo
// 2^32, so a negative or huge value wraps as an unsigned 32-bit count.
std::uint32_t interval_from_environment(const char* value);

}  // namespace quarvel
