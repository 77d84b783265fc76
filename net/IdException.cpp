#include "net/IdException.h"

Exception::Exception(QString message) : message_(std::move(message)), utf8_(message_.toUtf8()) {}

Exception::~Exception() = default;

const char* Exception::what() const noexcept {
  return utf8_.constData();
}

EIdSocketError::EIdSocketError(int32_t code, QString message)
    : EIdException(std::move(message)), code_(code) {}

QString EscapePeerText(QStringView text) {
  QString out;
  out.reserve(text.size());
  for (const QChar c : text) {
    const char16_t u = c.unicode();
    if (u == u'\r') {
      out += QStringLiteral("\\r");
    } else if (u == u'\n') {
      out += QStringLiteral("\\n");
    } else if (u == u'\t') {
      out += QStringLiteral("\\t");
    } else if (u < 0x20 || (u >= 0x7f && u < 0xa0)) {
      out += QStringLiteral("\\x%1").arg(uint(u), 2, 16, QLatin1Char('0'));
    } else {
      out += c;
    }
  }
  return out;
}
