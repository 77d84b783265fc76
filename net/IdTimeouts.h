#pragma once

// Every named wait of the library, in milliseconds, in one place that each layer includes: the
// sentinels the reads take for "the handler's own limit" and "no limit", and the waits of the
// HTTP response path, each with the reason for its length.

#include <cstdint>

// --- Time-limit arguments of the reads ------------------------------------------------------
// Where a read takes a time limit: kTimeoutDefault means "the handler's ReadTimeout()" (whose
// values -1 and 0 both mean no limit), kTimeoutInfinite means no limit, 0 means a poll, and a
// positive value is the limit itself.
constexpr int32_t kTimeoutDefault = -1;
constexpr int32_t kTimeoutInfinite = -2;

// --- Waits for a response body --------------------------------------------------------------
// A body the headers announce is read as they frame it, with each wait under ReadTimeout and no
// first wait of its own.
constexpr int32_t kBodyExpected = -1;
// For a response that carries no body by its status or method (an interim, 304, 204, a HEAD's):
// none is read for it, and should a look for one ever be made it must cost a well-behaved
// server next to nothing.
constexpr int32_t kUnexpectedBodyWait = 100;
// The page of a redirect, read only to drop it: long enough for a slow server's page to come
// (left queued, it would pass for the next response), short enough that one that sends none
// without saying so does not hold the call.
constexpr int32_t kRedirectBodyWait = 5000;
