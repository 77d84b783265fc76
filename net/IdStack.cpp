#include "net/IdStack.h"

#include "net/IdGlobal.h"
#include "net/IdIPv4Text.h"
#include "net/IdResourceStrings.h"

#include <algorithm>
#include <atomic>

#include <QStringList>

#include <arpa/inet.h>

namespace {

// Standard IPv6 text. Characters outside Latin-1 become "?" and a NUL would cut the text short
// for the parser, so both are refused before it sees them.
bool ParseIPv6(QStringView text, in6_addr& address) {
  if (text.contains(QChar(0))) {
    return false;
  }
  return inet_pton(AF_INET6, text.toLatin1().constData(), &address) == 1;
}

std::mutex g_stackLock;
int32_t g_stackUsageCount = 0;
std::unique_ptr<TIdStack> g_stack;
std::atomic<TIdStack*> g_stackInstance{nullptr};
TIdStackClass g_stackClass = &CreateDefaultStack;

} // namespace

TIdStack::~TIdStack() = default;

QString TIdStack::ResolveHost(const QString& host, TIdIPVersion version) {
  switch (version) {
  case Id_IPv4:
    if (TextIsSame(host, u"LOCALHOST")) {
      return QStringLiteral("127.0.0.1");
    }
    if (IsIPv4Literal(host)) {
      return host;
    }
    return LookupHost(host, Id_IPv4);
  case Id_IPv6:
    if (auto canonical = CanonicalIPv6(host)) {
      return *canonical;
    }
    return LookupHost(host, Id_IPv6);
  }
  throw EIdIPVersionUnsupported(RSIPVersionUnsupported());
}

bool TIdStack::IsIPv4Literal(QStringView text) {
  return ReadIPv4(text, TIdIPv4Form::DottedQuad, TIdIPv4Digits::Integer).fault ==
         TIdIPv4Fault::None;
}

std::optional<QString> TIdStack::CanonicalIPv6(QStringView text) {
  in6_addr address{};
  if (!ParseIPv6(text, address)) {
    return std::nullopt;
  }
  return AddressToText(QByteArrayView(reinterpret_cast<const char*>(&address), sizeof address));
}

QString TIdStack::AddressToText(QByteArrayView address) {
  const auto byte = [&](qsizetype i) {
    return uint8_t(address[i]);
  };
  QStringList parts;
  if (address.size() == 4) {
    for (qsizetype i = 0; i < 4; ++i) {
      parts << QString::number(byte(i));
    }
    return parts.join(u'.');
  }
  if (address.size() == 16) {
    for (qsizetype i = 0; i < 16; i += 2) {
      parts << QString::number((byte(i) << 8) | byte(i + 1), 16).toUpper();
    }
    return parts.join(u':');
  }
  return {};
}

QByteArray TIdStack::TextToAddress(QStringView text, TIdIPVersion version) {
  if (version == Id_IPv6) {
    in6_addr address{};
    if (!ParseIPv6(text, address)) {
      throw EConvertError(RSInvalidIntegerValue().arg(text));
    }
    return QByteArray(reinterpret_cast<const char*>(&address), sizeof address);
  }
  // A "." after the fourth part and what follows it are ignored here; IsIPv4Literal is the
  // test that refuses them.
  const TIdIPv4Reading reading =
      ReadIPv4(text, TIdIPv4Form::DottedQuadThenAnything, TIdIPv4Digits::Integer);
  if (reading.fault == TIdIPv4Fault::NotANumber) {
    throw EConvertError(RSInvalidIntegerValue().arg(Trim(reading.failedPart)));
  }
  if (reading.fault != TIdIPv4Fault::None) {
    throw ERangeError(RSRangeCheckError());
  }
  QByteArray bytes(4, '\0');
  for (int i = 0; i < 4; ++i) {
    bytes[i] = char(reading.address >> (8 * (3 - i)));
  }
  return bytes;
}

QString TIdStack::SocketErrorText(int32_t code) const {
  return RSSocketError().arg(code).arg(ErrorCodeText(code));
}

QString TIdStack::ErrorCodeText(int32_t code) const {
  return RSSocketErrorText(code);
}

void TIdStack::RaiseForSocketError(int32_t code) const {
  if (code == Id_WSAENOTSOCK) {
    throw EIdNotASocket(code, SocketErrorText(code));
  }
  throw EIdSocketError(code, SocketErrorText(code));
}

int TIdStack::CheckSocketResult(int result) const {
  if (result == Id_SOCKET_ERROR) {
    RaiseLastSocketError();
  }
  return result;
}

int TIdStack::CheckSocketResultExcept(int result, std::initializer_list<int32_t> codes) const {
  if (result != Id_SOCKET_ERROR) {
    return result;
  }
  const int32_t code = LastError();
  if (std::find(codes.begin(), codes.end(), code) != codes.end()) {
    return code;
  }
  RaiseForSocketError(code);
}

TIdStackClass StackClass() {
  std::lock_guard lock(g_stackLock);
  return g_stackClass;
}

void SetStackClass(TIdStackClass stackClass) {
  std::lock_guard lock(g_stackLock);
  g_stackClass = stackClass;
}

void AcquireStack() {
  std::lock_guard lock(g_stackLock);
  if (g_stackUsageCount == 0) {
    if (!g_stackClass) {
      throw EIdException(RSStackClassUndefined());
    }
    if (g_stack) {
      throw EIdException(RSStackAlreadyCreated());
    }
    // A failed construction leaves the count as it was, so the next caller tries again.
    try {
      g_stack = g_stackClass();
    } catch (const Exception& e) {
      throw EIdStackInitializationFailed(e.Message());
    }
    g_stackInstance.store(g_stack.get(), std::memory_order_release);
  }
  ++g_stackUsageCount;
}

void ReleaseStack() noexcept {
  std::lock_guard lock(g_stackLock);
  if (g_stackUsageCount <= 0) {
    return;
  }
  if (--g_stackUsageCount == 0) {
    g_stackInstance.store(nullptr, std::memory_order_release);
    g_stack.reset();
  }
}

int32_t StackUsageCount() {
  std::lock_guard lock(g_stackLock);
  return g_stackUsageCount;
}

std::mutex& StackLock() {
  return g_stackLock;
}

TIdStack* GStack() noexcept {
  return g_stackInstance.load(std::memory_order_acquire);
}
