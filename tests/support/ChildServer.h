#pragma once

// What the fixtures that run a real server as a child process share: a free loopback port to
// give it, the wait until it accepts there, and its start and stop. The child gets SIGTERM
// when the thread that started it ends, so a crashed test leaves no server behind.
//
//   const uint16_t port = testsupport::PickFreeLoopbackPort("squid fixture");
//   ... write a configuration for port ...
//   testsupport::ChildServer child("/usr/sbin/squid", {"squid", "-N", "-f", config});
//   if (!child.WaitUntilAccepting(port, 20s)) ... read the server's log, try another port ...

#include <QString>
#include <QtGlobal>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport {

// A port of 127.0.0.1 that the system considers free right now. The server binds it a moment
// later; a lost race shows in its log and the caller tries another. Raises std::runtime_error,
// whose text starts with who, when no socket can be had.
uint16_t PickFreeLoopbackPort(const char* who);

// Whether something accepts TCP connections on 127.0.0.1:port now. Blocks for one connect.
bool AcceptsOnLoopback(uint16_t port);

class ChildServer {
public:
  // Starts program with argv (its first entry the program's name). Raises std::runtime_error
  // when fork fails; an exec that fails shows as an early exit.
  ChildServer(const std::string& program, const std::vector<std::string>& argv);
  // Stop().
  ~ChildServer();
  Q_DISABLE_COPY(ChildServer)

  // Polls until the child accepts on port (true) or has exited or limit has passed (false;
  // Exited() tells which).
  bool WaitUntilAccepting(uint16_t port, std::chrono::milliseconds limit);
  // Whether the child has ended (it is reaped then).
  bool Exited();
  // SIGTERM, then SIGKILL when it has not ended within 10 s; waits for it. Never raises.
  void Stop() noexcept;

private:
  pid_t pid_ = -1;
};

// Lets everyone read and enter dir, and only its owner write there: a server started by root
// serves as an unprivileged user, who must be able to get to its files.
void OpenToEveryone(const QString& dir);

// Waits until child accepts on port: true when it does within limit. False when it ended
// because something else took the port meanwhile (log() then holds "Address already in use"),
// so that the caller picks another port; child is reset then. Raises std::runtime_error, whose
// text starts with who and ends with log(), when it ended for another reason or did not accept.
bool AwaitAccepting(std::unique_ptr<ChildServer>& child, uint16_t port, std::chrono::seconds limit,
                    const std::string& who, const std::function<QString()>& log);

} // namespace testsupport
