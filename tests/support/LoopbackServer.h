#pragma once

// Peers for network tests, written on plain POSIX sockets and std::thread so that they never
// share a fault with the library under test. They listen on loopback only.
//
// LoopbackServer listens on 127.0.0.1 (or ::1) on a port the system picks, accepts every
// connection and runs a script on a thread of its own for each one. A script is a
// std::function taking the connection (a LoopbackPeer): it reads until a terminator or a
// request head, sends bytes (at once or slowly), half-closes, closes, resets, or stalls until
// the test releases it. Every byte the server receives is recorded per connection. Every wait
// is bounded by the server's read limit and ends at once when the server stops; the destructor
// stops and joins everything.
//
//   testsupport::LoopbackServer server([](testsupport::LoopbackPeer& peer) {
//     peer.ReadRequestHead();
//     peer.Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhi");
//   });
//   ... connect to server.Host():server.Port() ...
//   server.WaitForScripts(1);
//   EXPECT_TRUE(server.Received(0).startsWith("GET /"));
//
// NeverAcceptingListener is a loopback listener whose accept queue is full, so that a further
// connect to it gets no answer at all (its SYN is dropped) and stays pending: the way to test
// connect time limits without leaving the machine.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace testsupport {

using namespace std::chrono_literals;

enum class Family { IPv4, IPv6 };

class LoopbackServer;

// One accepted connection as a script sees it. Reads return what arrived; a read that meets
// the peer's close, a reset, the read limit or the server's stop returns early with what it
// has (everything read is recorded either way). Used only on the script's own thread.
class LoopbackPeer {
public:
  Q_DISABLE_COPY(LoopbackPeer)
  ~LoopbackPeer();

  // The number of this connection, counting from 0 in the order of acceptance.
  int Index() const { return index_; }

  // The bytes up to and including the first terminator; empty when the terminator did not
  // come (bytes read meanwhile stay available to the next read).
  QByteArray ReadUntil(QByteArrayView terminator);
  // ReadUntil("\r\n\r\n"): a request line and its header block.
  QByteArray ReadRequestHead() { return ReadUntil("\r\n\r\n"); }
  // count bytes, or fewer when the connection ends first.
  QByteArray ReadExactly(qsizetype count);
  // Everything until the other side closes (or the limit or stop).
  QByteArray ReadUntilClose();

  // Sends all bytes; false when the other side has gone or the server stops.
  bool Send(QByteArrayView bytes);
  // Sends the bytes in pieces of chunk with a pause after each; a stop ends it early (false).
  bool SendSlowly(QByteArrayView bytes, qsizetype chunk, std::chrono::milliseconds pause);
  // Ends the sending side (FIN); reading goes on.
  void ShutdownWrite();
  // An orderly close.
  void Close();
  // An abortive close: SO_LINGER 0, so the other side sees a reset (ECONNRESET).
  void Reset();
  // Blocks until the test calls LoopbackServer::Release(), the server stops, or the read limit
  // passes. Returns true when released.
  bool WaitForRelease();

private:
  friend class LoopbackServer;
  LoopbackPeer(LoopbackServer& server, int socket, int index);
  // Reads once more into pending_ (waiting up to the deadline); false when nothing more can
  // come.
  bool ReadMore(std::chrono::steady_clock::time_point deadline);
  QByteArray Take(qsizetype count);

  LoopbackServer& server_;
  int socket_;
  int index_;
  QByteArray pending_;
};

class LoopbackServer {
public:
  using Script = std::function<void(LoopbackPeer& peer)>;

  // Starts listening and accepting at once. readLimit bounds every wait of a script.
  // Raises std::runtime_error when it cannot listen (for IPv6: when the machine has no ::1).
  explicit LoopbackServer(Script script, Family family = Family::IPv4,
                          std::chrono::milliseconds readLimit = 10s);
  // Stop() and join.
  ~LoopbackServer();
  Q_DISABLE_COPY(LoopbackServer)

  // Whether this machine can listen on ::1.
  static bool HasIPv6();

  QString Host() const; // "127.0.0.1" or "::1"
  uint16_t Port() const { return port_; }

  // Connections accepted so far.
  int ConnectionCount() const;
  // Scripts that have returned so far.
  int FinishedCount() const;
  // The bytes received on connection index so far (empty for an unknown index).
  QByteArray Received(int index) const;

  // Wait (at most limit) until that many connections were accepted / scripts returned.
  bool WaitForConnections(int count, std::chrono::milliseconds limit = 10s);
  bool WaitForScripts(int count, std::chrono::milliseconds limit = 10s);

  // Lets every script waiting in WaitForRelease() (now or later) go on.
  void Release();
  // Stops accepting, wakes every waiting script, closes every connection and joins all
  // threads. Idempotent; called by the destructor.
  void Stop();

private:
  friend class LoopbackPeer;
  struct Connection {
    QByteArray received;
  };
  // A script's thread; done is set as the thread's last act, so joining it then is immediate.
  struct RunningScript {
    std::thread thread;
    std::atomic<bool> done{false};
  };

  void AcceptLoop();
  void RunScript(int socket, int index, std::atomic<bool>& done);
  // Joins the scripts that have returned, so that a long run of connections keeps no threads.
  void ReapFinishedScripts();
  // Waits until fd is ready for events, the deadline passes or the server stops. Returns the
  // poll events of fd, 0 on deadline or stop.
  short WaitFor(int fd, short events, std::chrono::steady_clock::time_point deadline) const;
  void Record(int index, QByteArrayView bytes);

  Script script_;
  Family family_;
  std::chrono::milliseconds readLimit_;
  int listener_ = -1;
  int wake_ = -1; // readable once the server stops
  uint16_t port_ = 0;

  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::vector<Connection> connections_;
  int finished_ = 0;
  bool released_ = false;
  bool stopping_ = false;
  std::list<RunningScript> scripts_; // touched by the acceptor only, until it has ended
  std::thread acceptor_;
};

// A port on 127.0.0.1 held bound but not listening: a connect to it is refused at once, and
// no other socket can take the port while the object lives (or until Release()).
class RefusingPort {
public:
  // Raises std::runtime_error when no port can be bound.
  RefusingPort();
  ~RefusingPort() { Release(); }
  Q_DISABLE_COPY(RefusingPort)

  uint16_t Port() const { return port_; }
  // Gives the port up, so that a socket of the test can bind it.
  void Release();

private:
  int socket_ = -1;
  uint16_t port_ = 0;
};

// A listener on 127.0.0.1 (or ::1) that never accepts, with its accept queue filled by
// connections of its own: a further connect to Port() gets no answer and stays pending until
// the client gives up. Everything is closed on destruction.
class NeverAcceptingListener {
public:
  // Listens on port (0: one the system picks), so that it can stand beside a server of the
  // other family on the same port. Raises std::runtime_error when it cannot listen there or
  // the queue cannot be filled within a few hundred connects.
  explicit NeverAcceptingListener(Family family = Family::IPv4, uint16_t port = 0);
  ~NeverAcceptingListener();
  Q_DISABLE_COPY(NeverAcceptingListener)

  uint16_t Port() const { return port_; }

private:
  int listener_ = -1;
  uint16_t port_ = 0;
  std::vector<int> fillers_;
};

} // namespace testsupport
