#pragma once

// TIdBodySink: where the bytes of a body go as they are read.
//
// A body is framed (by a length, in chunks, or up to the peer's close) and then handed on, in
// pieces as they arrive, to whatever wants it: the caller's stream, nothing at all for a body
// that is read only to be dropped, or a decoder that undoes a content coding and hands its
// output to the next sink. Framing calls Write for every piece and Finish once the framing says
// the body is whole; it never calls Finish for a body cut short, so that a sink's Finish may
// check that what it received was complete. Sinks are used by one thread at a time.

#include <QByteArrayView>

class TIdBodySink {
public:
  virtual ~TIdBodySink() = default;

  // Takes the next piece of the body (valid only during the call). Raises what the sink's
  // target raises; after a raise the sink takes nothing further.
  virtual void Write(QByteArrayView bytes) = 0;
  // The body is whole: hands on whatever is held back and checks that the body is complete by
  // the sink's own rule. Raises when it is not, or when the target refuses; what was handed on
  // before stays with the target either way.
  virtual void Finish() = 0;

protected:
  TIdBodySink() = default;
  TIdBodySink(const TIdBodySink&) = default;
  TIdBodySink& operator=(const TIdBodySink&) = default;
};

// A sink that keeps nothing: bodies that must come off the connection but are of no use to
// anyone cost no memory. Never raises.
class TIdDiscardSink final : public TIdBodySink {
public:
  void Write(QByteArrayView) override {}
  void Finish() override {}
};
