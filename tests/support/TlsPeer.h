#pragma once

// A scripted TLS server for what no real server does on purpose: it accepts one connection on
// 127.0.0.1 at a time, runs the TLS handshake with the given certificate (OpenSSL, server
// side) and hands the live TLS connection to a script on a thread of its own. The script may
// send, renegotiate, or drop the socket without close_notify. Every wait is bounded (10 s);
// the destructor closes the listener and joins the thread.
//
//   testsupport::TlsPeer peer(certs.CertificateFile("valid"), certs.KeyFile("valid"),
//                             [](testsupport::TlsConnection& tls) { tls.Send("..."); });

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

struct ssl_st;
struct ssl_ctx_st;

namespace testsupport {

class TlsConnection {
public:
  // The request head the client sent (up to the empty line); empty when it did not come.
  QByteArray ReadRequestHead();
  // Sends all bytes as application data; false on failure.
  bool Send(const QByteArray& bytes);
  // Asks the client for a new handshake (TLS 1.2) and sends the request at once; false when
  // OpenSSL refuses.
  bool RequestRenegotiation();
  // Reads until the client closes or 10 s pass; true when the client sent a fatal alert or
  // closed (what it answers a renegotiation with).
  bool WaitForClientEnd();
  // Closes the socket without close_notify.
  void DropWithoutCloseNotify();

private:
  friend class TlsPeer;
  TlsConnection(ssl_st* ssl, int socket) : ssl_(ssl), socket_(socket) {}
  ssl_st* ssl_;
  int socket_;
};

class TlsPeer {
public:
  using Script = std::function<void(TlsConnection&)>;
  // Listens at once; `maxVersion` caps the TLS version (e.g. TLS 1.2 for renegotiation, 0 for
  // OpenSSL's highest). Raises std::runtime_error when it cannot listen or load the files.
  TlsPeer(const QString& certificate, const QString& key, Script script, int maxVersion = 0);
  ~TlsPeer();
  Q_DISABLE_COPY(TlsPeer)

  uint16_t Port() const { return port_; }
  // Scripts that have run to their end.
  int Finished() const { return finished_.load(); }

private:
  void Serve();

  ssl_ctx_st* context_ = nullptr;
  Script script_;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> finished_{0};
  std::thread thread_;
};

} // namespace testsupport
