#pragma once

// Checks that a call raises a given exception class with an exact message, in one line:
//
//   testsupport::ExpectRaises<EIdReadTimeout>([&] { io.ReadBytes(bytes, 5); }, "Read timed out.");

#include <QString>

#include <gtest/gtest.h>

namespace testsupport {

template <typename E, typename Call> void ExpectRaises(Call&& call, const QString& message) {
  try {
    call();
    ADD_FAILURE() << "no exception; expected: " << message.toStdString();
  } catch (const E& e) {
    EXPECT_EQ(e.Message(), message);
  }
}

} // namespace testsupport
