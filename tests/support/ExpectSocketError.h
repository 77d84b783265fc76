#pragma once

// Checks that a call raises EIdSocketError (or a subclass) with a given code and message:
//
//   testsupport::ExpectSocketError([&] { client.Connect(); }, 10061,
//                                  "Socket Error # 10061\r\nConnection refused.");

#include "net/IdException.h"
#include "tests/support/ExpectRaises.h"

#include <cstdint>

namespace testsupport {

template <typename Call> void ExpectSocketError(Call&& call, int32_t code, const QString& message) {
  ExpectRaises<EIdSocketError>(
      [&] {
        try {
          call();
        } catch (const EIdSocketError& e) {
          EXPECT_EQ(e.SocketErrorCode(), code);
          throw;
        }
      },
      message);
}

} // namespace testsupport
