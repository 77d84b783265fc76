#pragma once

// The one exception tree of Marquelo. Every failure is an exception carrying a fixed message
// text and the name of its class; handlers show the message, tests check class and text.

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <exception>

// The general failure every other exception derives from. Carries the message as text;
// what() gives it as UTF-8 for code that only knows std::exception.
class Exception : public std::exception {
public:
  explicit Exception(QString message = {});
  ~Exception() override;

  // The message text exactly as constructed.
  const QString& Message() const noexcept { return message_; }
  // The class name as written in the source ("EIdSocketError"); each subclass overrides it.
  virtual QString ClassName() const { return QStringLiteral("Exception"); }
  // UTF-8 form of Message(); valid as long as the exception lives.
  const char* what() const noexcept override;
  // The message as it may be shown to a person: the library's own text as it stands, line
  // breaks included, and any part a peer sent passed through EscapePeerText, so that no byte a
  // server chose can drive a terminal or fake a line of its own. Only classes whose message
  // holds a peer's text override it.
  virtual QString ShownText() const { return message_; }

private:
  QString message_;
  QByteArray utf8_;
};

// text with every control character (C0, DEL and C1) written as an escape: "\r", "\n", "\t"
// or "\x" and two hex digits. Everything else stays as it is.
QString EscapePeerText(QStringView text);

// Declares an exception class that adds nothing but its name to its base. (Both arguments are
// class names, which cannot stand in parentheses.)
// NOLINTBEGIN(bugprone-macro-parentheses)
#define MARQUELO_DECLARE_EXCEPTION(Name, Base)                                                     \
  class Name : public Base {                                                                       \
  public:                                                                                          \
    using Base::Base;                                                                              \
    QString ClassName() const override { return QStringLiteral(#Name); }                           \
  };
// NOLINTEND(bugprone-macro-parentheses)

// Text that is not a number where one is required.
MARQUELO_DECLARE_EXCEPTION(EConvertError, Exception)
// A number outside the range its destination can hold.
MARQUELO_DECLARE_EXCEPTION(ERangeError, Exception)

// Root of every failure of the network library.
MARQUELO_DECLARE_EXCEPTION(EIdException, Exception)
// Conditions that are normal ends of an exchange rather than faults.
MARQUELO_DECLARE_EXCEPTION(EIdSilentException, EIdException)
// A conversion between text and bytes was asked for without an encoding.
MARQUELO_DECLARE_EXCEPTION(EIdNoEncodingSpecified, EIdException)

// --- Transport failures shared by several units -------------------------------------------------

// A socket call failed. SocketErrorCode() is the transport's error number (10061 for a refused
// connect, 11001 for an unknown host, ...) and the message reads "Socket Error # <code>", CR LF,
// then the text for that code.
class EIdSocketError : public EIdException {
public:
  EIdSocketError(int32_t code, QString message);
  // The transport's number for the failure; 0 when none was recorded.
  int32_t SocketErrorCode() const noexcept { return code_; }
  QString ClassName() const override { return QStringLiteral("EIdSocketError"); }

private:
  int32_t code_;
};
// The socket value was not (or no longer) a socket: it was closed under the caller (10038).
MARQUELO_DECLARE_EXCEPTION(EIdNotASocket, EIdSocketError)

// The peer closed the connection in an orderly way: a normal end rather than a fault.
MARQUELO_DECLARE_EXCEPTION(EIdConnClosedGracefully, EIdSilentException)
// An operation needed a connection and there was none.
MARQUELO_DECLARE_EXCEPTION(EIdNotConnected, EIdException)
// The socket went away while a read was waiting on it.
MARQUELO_DECLARE_EXCEPTION(EIdClosedSocket, EIdException)
// No data arrived within the read time limit.
MARQUELO_DECLARE_EXCEPTION(EIdReadTimeout, EIdException)
// The whole call outlasted its limit (TIdIOHandler::SetDeadline), however steadily data came.
MARQUELO_DECLARE_EXCEPTION(EIdCallTimeout, EIdException)
