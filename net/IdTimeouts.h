#pragma once

// Every named wait of the library, in milliseconds, in one place that each layer includes: the
// sentinels the reads take for "the handler's own limit" and "no limit".

#include <cstdint>

// --- Time-limit arguments of the reads ------------------------------------------------------
// Where a read takes a time limit: IdTimeoutDefault means "the handler's ReadTimeout()" (whose
// values -1 and 0 both mean no limit), IdTimeoutInfinite means no limit, 0 means a poll, and a
// positive value is the limit itself.
constexpr int32_t IdTimeoutDefault = -1;
constexpr int32_t IdTimeoutInfinite = -2;
