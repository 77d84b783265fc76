#pragma once

// A loopback HTTP peer that answers each request head with the next scripted reply, in order
// across connections, and records every request head it received. For what a real server will
// not send: odd framings, closes at chosen moments, challenges, endless redirects.

#include "tests/support/LoopbackServer.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <mutex>
#include <vector>

namespace testsupport {

struct Reply {
  QByteArray bytes;
  // Close the connection once the reply has gone.
  bool closeAfter = false;
};

class ScriptedHTTPServer {
public:
  // Makes the reply to request number index (from 0, over all connections) with head the
  // request line and headers it answers.
  using Responder = std::function<Reply(const QByteArray& head, int index)>;

  explicit ScriptedHTTPServer(Responder responder, Family family = Family::IPv4)
      : responder_(std::move(responder)),
        server_([this](LoopbackPeer& peer) { Serve(peer); }, family) {}
  // The replies in order; a request beyond the last one is answered by closing.
  explicit ScriptedHTTPServer(std::vector<Reply> replies, Family family = Family::IPv4)
      : ScriptedHTTPServer(
            [replies = std::move(replies)](const QByteArray&, int index) {
              return size_t(index) < replies.size() ? replies[size_t(index)] : Reply{{}, true};
            },
            family) {}

  // "http://127.0.0.1:<port>" (or "http://[::1]:<port>") followed by path.
  QString Url(const QString& path = QStringLiteral("/")) const {
    const QString host =
        server_.Host().contains(u':') ? u'[' + server_.Host() + u']' : server_.Host();
    return QStringLiteral("http://%1:%2%3").arg(host).arg(server_.Port()).arg(path);
  }
  uint16_t Port() const { return server_.Port(); }
  int Connections() const { return server_.ConnectionCount(); }
  LoopbackServer& Server() { return server_; }

  // The request heads received so far, in order.
  QList<QByteArray> Heads() const {
    std::lock_guard lock(lock_);
    return heads_;
  }
  // The request line of request index; empty when there is none.
  QByteArray RequestLine(int index) const {
    const QList<QByteArray> heads = Heads();
    return index < heads.size() ? heads[index].left(heads[index].indexOf("\r\n")) : QByteArray();
  }
  // The value of header name in request index, or empty.
  QByteArray Header(int index, const QByteArray& name) const {
    const QList<QByteArray> heads = Heads();
    if (index >= heads.size()) {
      return {};
    }
    for (const QByteArray& line : heads[index].split('\n')) {
      const qsizetype colon = line.indexOf(':');
      if (colon > 0 && line.left(colon).compare(name, Qt::CaseInsensitive) == 0) {
        return line.mid(colon + 1).trimmed();
      }
    }
    return {};
  }

private:
  void Serve(LoopbackPeer& peer) {
    for (;;) {
      const QByteArray head = peer.ReadRequestHead();
      if (head.isEmpty()) {
        return;
      }
      int index = 0;
      {
        std::lock_guard lock(lock_);
        index = int(heads_.size());
        heads_.append(head);
      }
      const Reply reply = responder_(head, index);
      if (!reply.bytes.isEmpty()) {
        peer.Send(reply.bytes);
      }
      if (reply.closeAfter) {
        peer.Close();
        return;
      }
    }
  }

  Responder responder_;
  mutable std::mutex lock_;
  QList<QByteArray> heads_;
  LoopbackServer server_; // last: its threads start at once and use the members above
};

// A complete response with a "Content-Length" body.
inline QByteArray Response(const QByteArray& statusLine, const QByteArray& body = {},
                           const QByteArray& extraHeaders = {}) {
  return statusLine + "\r\n" + extraHeaders + "Content-Length: " + QByteArray::number(body.size()) +
         "\r\n\r\n" + body;
}

} // namespace testsupport
