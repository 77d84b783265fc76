#include "net/IdIPAddress.h"
#include "net/IdResourceStrings.h"
#include "net/IdSocketList.h"
#include "net/IdStackPosix.h"

#include "tests/support/ExpectSocketError.h"
#include "tests/support/NamedRow.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// --- Literal tests and resolution -----------------------------------------------------------

struct LiteralCase {
  const char16_t* text;
  bool literal;
};

class IPv4LiteralTest : public testing::TestWithParam<LiteralCase> {};

TEST_P(IPv4LiteralTest, AcceptsFourByteParts) {
  const LiteralCase& c = GetParam();
  EXPECT_EQ(TIdStack::IsIPv4Literal(QStringView(c.text)), c.literal)
      << QString::fromUtf16(c.text).toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Table, IPv4LiteralTest,
    testing::Values(LiteralCase{u"127.0.0.1", true}, LiteralCase{u"0.0.0.0", true},
                    LiteralCase{u"255.255.255.255", true}, LiteralCase{u" 10 . 0 .0. 1 ", true},
                    LiteralCase{u"0x7F.0.0.$1", true}, LiteralCase{u"10.0.0.300", false},
                    LiteralCase{u"1.2.3.4.5", false}, LiteralCase{u"1.2.3.4.", false},
                    LiteralCase{u"1.2.3", false}, LiteralCase{u"1..2.3", false},
                    LiteralCase{u"-1.0.0.0", false}, LiteralCase{u"", false},
                    LiteralCase{u"localhost", false}, LiteralCase{u"a.b.c.d", false},
                    LiteralCase{u"::1", false}));

// A POSIX stack whose name service is a recorder, so that resolution can be tested for what
// it sends to the name service without sending anything.
class RecordingStack : public TIdStackPosix {
public:
  QString LookupHost(const QString& host, TIdIPVersion version) override {
    lookups.push_back({host, version});
    return QStringLiteral("192.0.2.7");
  }
  std::vector<std::pair<QString, TIdIPVersion>> lookups;
};

struct ResolveCase {
  const char16_t* host;
  TIdIPVersion version;
  const char16_t* address;
  bool queried;
};

class ResolveHostTest : public testing::TestWithParam<ResolveCase> {};

TEST_P(ResolveHostTest, AsksTheNameServiceOnlyForNames) {
  const ResolveCase& c = GetParam();
  RecordingStack stack;
  EXPECT_EQ(stack.ResolveHost(QString::fromUtf16(c.host), c.version),
            QString::fromUtf16(c.address));
  EXPECT_EQ(stack.lookups.size(), c.queried ? 1u : 0u);
  if (c.queried && !stack.lookups.empty()) {
    EXPECT_EQ(stack.lookups[0].first, QString::fromUtf16(c.host));
    EXPECT_EQ(stack.lookups[0].second, c.version);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ResolveHostTest,
    testing::Values(ResolveCase{u"localhost", Id_IPv4, u"127.0.0.1", false},
                    ResolveCase{u"LocalHost", Id_IPv4, u"127.0.0.1", false},
                    ResolveCase{u"10.1.2.3", Id_IPv4, u"10.1.2.3", false},
                    ResolveCase{u"10.0.0.300", Id_IPv4, u"192.0.2.7", true},
                    ResolveCase{u"1.2.3.4.5", Id_IPv4, u"192.0.2.7", true},
                    ResolveCase{u"photos.example", Id_IPv4, u"192.0.2.7", true},
                    ResolveCase{u"::1", Id_IPv6, u"0:0:0:0:0:0:0:1", false},
                    ResolveCase{u"fe80::aBc:0", Id_IPv6, u"FE80:0:0:0:0:0:ABC:0", false},
                    ResolveCase{u"localhost", Id_IPv6, u"192.0.2.7", true}));

TEST(ResolveHost, RefusesAnUnknownIPVersion) {
  RecordingStack stack;
  EXPECT_THROW(stack.ResolveHost("localhost", TIdIPVersion(7)), EIdIPVersionUnsupported);
}

// A name holding U+0000 would reach the name service cut at the NUL, and the part before it
// would be resolved while the caller goes on believing in the whole name.
struct UnknownNameCase : testsupport::NamedRow {
  QString host;
  TIdIPVersion version;
};

class UnknownName : public testing::TestWithParam<UnknownNameCase> {};

TEST_P(UnknownName, IsHostNotFound) {
  TIdStackHold stack;
  testsupport::ExpectSocketError([&] { stack->ResolveHost(GetParam().host, GetParam().version); },
                                 11001, "Socket Error # 11001\r\nHost not found.");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnknownName,
    testing::Values(
        UnknownNameCase{"Invalid", QStringLiteral("marquelo-unknown.invalid"), Id_IPv4},
        UnknownNameCase{"NulAfterAnAddress",
                        QStringLiteral("127.0.0.1") + QChar(0) + QStringLiteral(".evil"), Id_IPv4},
        UnknownNameCase{"NulAfterAName",
                        QStringLiteral("localhost") + QChar(0) + QStringLiteral("x"), Id_IPv4},
        UnknownNameCase{"NulAfterAnIPv6Address", QStringLiteral("::1") + QChar(0), Id_IPv6}),
    testsupport::RowName());

// --- Address texts --------------------------------------------------------------------------

struct AddressCase {
  const char16_t* text;
  TIdIPVersion version;
  QByteArray bytes;
  const char16_t* canonical;
};

class AddressTextTest : public testing::TestWithParam<AddressCase> {};

TEST_P(AddressTextTest, ConvertsBothWays) {
  const AddressCase& c = GetParam();
  EXPECT_EQ(TIdStack::TextToAddress(QStringView(c.text), c.version), c.bytes);
  EXPECT_EQ(TIdStack::AddressToText(c.bytes), QString::fromUtf16(c.canonical));
}

INSTANTIATE_TEST_SUITE_P(
    Table, AddressTextTest,
    testing::Values(
        AddressCase{u"10.0.0.1", Id_IPv4, QByteArray("\x0a\x00\x00\x01", 4), u"10.0.0.1"},
        AddressCase{u" 192 .168.0. 255", Id_IPv4, QByteArray("\xc0\xa8\x00\xff", 4),
                    u"192.168.0.255"},
        AddressCase{u"::1", Id_IPv6, QByteArray(15, '\0') + '\x01', u"0:0:0:0:0:0:0:1"},
        AddressCase{u"2001:DB8::ff00:42:8329", Id_IPv6,
                    QByteArray("\x20\x01\x0d\xb8\0\0\0\0\0\0\xff\x00\x00\x42\x83\x29", 16),
                    u"2001:DB8:0:0:0:FF00:42:8329"}));

TEST(TextToAddress, RefusesPartsThatAreNotBytes) {
  EXPECT_THROW(TIdStack::TextToAddress(u"1.2.x.4", Id_IPv4), EConvertError);
  EXPECT_THROW(TIdStack::TextToAddress(u"1.2.3", Id_IPv4), EConvertError);
  EXPECT_THROW(TIdStack::TextToAddress(u"1.2.3.256", Id_IPv4), ERangeError);
  EXPECT_THROW(TIdStack::TextToAddress(u"1:2:3", Id_IPv6), EConvertError);
  EXPECT_TRUE(TIdStack::AddressToText(QByteArray(5, '\1')).isEmpty());
}

struct IPAddressCase {
  const char16_t* text;
  std::optional<QByteArray> bytes;
};

class IPAddressTest : public testing::TestWithParam<IPAddressCase> {};

TEST_P(IPAddressTest, ParsesTheClassicForms) {
  const IPAddressCase& c = GetParam();
  const std::optional<TIdIPAddress> address = TIdIPAddress::MakeAddressObject(QStringView(c.text));
  ASSERT_EQ(address.has_value(), c.bytes.has_value()) << QString::fromUtf16(c.text).toStdString();
  if (address) {
    EXPECT_EQ(address->HToNBytes(), *c.bytes);
    EXPECT_EQ(address->AddrType(), c.bytes->size() == 4 ? Id_IPv4 : Id_IPv6);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, IPAddressTest,
    testing::Values(
        IPAddressCase{u"127.0.0.1", QByteArray("\x7f\0\0\x01", 4)},
        IPAddressCase{u"127.1", QByteArray("\x7f\0\0\x01", 4)},
        IPAddressCase{u"10.65535", QByteArray("\x0a\0\xff\xff", 4)},
        IPAddressCase{u"0x7f.0.0.0X1", QByteArray("\x7f\0\0\x01", 4)},
        IPAddressCase{u"010.0.0.017", QByteArray("\x08\0\0\x0f", 4)},
        IPAddressCase{u"4294967295", QByteArray("\xff\xff\xff\xff", 4)},
        IPAddressCase{u"::ffff:1.2.3.4", QByteArray(10, '\0') + QByteArray("\xff\xff\1\2\3\4", 6)},
        IPAddressCase{u"1.2.3.256", std::nullopt}, IPAddressCase{u"1.16777216", std::nullopt},
        IPAddressCase{u"1.2.3.4.5", std::nullopt}, IPAddressCase{u"08.1.1.1", std::nullopt},
        IPAddressCase{u"1..2", std::nullopt}, IPAddressCase{u"", std::nullopt},
        IPAddressCase{u"host.example", std::nullopt}));

TEST(IPAddress, WritesItsNumberAndText) {
  const auto address = TIdIPAddress::MakeAddressObject(u"192.168.1");
  ASSERT_TRUE(address);
  EXPECT_EQ(address->IPv4(), 0xC0A80001u);
  EXPECT_EQ(address->IPAsString(), "192.168.0.1");
}

// --- Errors ---------------------------------------------------------------------------------

struct ErrorTextCase {
  int32_t code;
  const char* message;
};

class SocketErrorTextTest : public testing::TestWithParam<ErrorTextCase> {};

TEST_P(SocketErrorTextTest, RaisesTheCodeWithItsText) {
  const ErrorTextCase& c = GetParam();
  TIdStackHold stack;
  EXPECT_EQ(stack->SocketErrorText(c.code), QString::fromUtf8(c.message));
  try {
    stack->RaiseForSocketError(c.code);
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.SocketErrorCode(), c.code);
    EXPECT_EQ(e.Message(), QString::fromUtf8(c.message));
    EXPECT_EQ(e.ClassName(), c.code == 10038 ? "EIdNotASocket" : "EIdSocketError");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SocketErrorTextTest,
    testing::Values(ErrorTextCase{10061, "Socket Error # 10061\r\nConnection refused."},
                    ErrorTextCase{10054, "Socket Error # 10054\r\nConnection reset by peer."},
                    ErrorTextCase{10060, "Socket Error # 10060\r\nConnection timed out."},
                    ErrorTextCase{10038, "Socket Error # 10038\r\nSocket operation on non-socket."},
                    ErrorTextCase{10066, "Socket Error # 10066\r\nDirectory not empty"},
                    ErrorTextCase{11001, "Socket Error # 11001\r\nHost not found."},
                    ErrorTextCase{11002,
                                  "Socket Error # 11002\r\nTemporary failure in name resolution."},
                    ErrorTextCase{12345, "Socket Error # 12345\r\n"}));

TEST(SocketErrorTranslation, MapsErrnoAndResolverResultsToTheTransportNumbers) {
  const std::vector<std::pair<int, int32_t>> errnos = {
      {ECONNREFUSED, 10061}, {ETIMEDOUT, 10060},    {ECONNRESET, 10054}, {ECONNABORTED, 10053},
      {ENETUNREACH, 10051},  {EHOSTUNREACH, 10065}, {EADDRINUSE, 10048}, {EADDRNOTAVAIL, 10049},
      {EBADF, 10009},        {ENOTSOCK, 10038},     {EINVAL, 10022},     {EPIPE, 10058},
      {EINTR, 10004},        {EACCES, 10013},       {EMFILE, 10024},     {EWOULDBLOCK, 10035},
      {EINPROGRESS, 10036},  {EALREADY, 10037},     {EISCONN, 10056},    {ENOTCONN, 10057},
      {EAFNOSUPPORT, 10047}, {ENOBUFS, 10055},      {EIO, EIO}};
  for (const auto& [errnum, code] : errnos) {
    EXPECT_EQ(PosixErrorToSocketError(errnum), code) << "errno " << errnum;
  }
  const std::vector<std::pair<int, int32_t>> results = {{EAI_NONAME, 11001}, {EAI_AGAIN, 11002},
                                                        {EAI_FAIL, 11003},   {EAI_NODATA, 11004},
                                                        {EAI_FAMILY, 10047}, {EAI_MEMORY, 8}};
  for (const auto& [result, code] : results) {
    EXPECT_EQ(AddrInfoErrorToSocketError(result, 0), code) << "getaddrinfo " << result;
  }
  EXPECT_EQ(AddrInfoErrorToSocketError(EAI_SYSTEM, ECONNREFUSED), 10061);
}

TEST(CheckSocketResult, PassesResultsAndListedCodes) {
  TIdStackHold stack;
  EXPECT_EQ(stack->CheckSocketResult(5), 5);
  errno = EWOULDBLOCK;
  EXPECT_EQ(stack->CheckSocketResultExcept(Id_SOCKET_ERROR, {Id_WSAEWOULDBLOCK}), 10035);
  errno = ECONNRESET;
  EXPECT_THROW(stack->CheckSocketResultExcept(Id_SOCKET_ERROR, {Id_WSAEWOULDBLOCK}),
               EIdSocketError);
  errno = ENOTSOCK;
  EXPECT_THROW(stack->CheckSocketResult(Id_SOCKET_ERROR), EIdNotASocket);
}

// --- Stack life -----------------------------------------------------------------------------

TEST(StackLife, TenThreadsAcquireAndReleaseWithoutLosingCount) {
  const int32_t before = StackUsageCount();
  std::atomic<bool> sawNoStack{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 10; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        TIdStackHold hold;
        if (GStack() == nullptr) {
          sawNoStack = true;
        }
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_FALSE(sawNoStack);
  EXPECT_EQ(StackUsageCount(), before);
  if (before == 0) {
    EXPECT_EQ(GStack(), nullptr);
  }
}

TEST(StackLife, FailuresOfCreationLeaveTheCountAlone) {
  ASSERT_EQ(StackUsageCount(), 0) << "another holder keeps the stack alive";
  const TIdStackClass original = StackClass();
  SetStackClass(nullptr);
  testsupport::ExpectRaises<EIdException>([&] { AcquireStack(); }, "Stack Class is undefined.");
  SetStackClass([]() -> std::unique_ptr<TIdStack> { throw EIdSocketError(10024, "no sockets"); });
  testsupport::ExpectRaises<EIdStackInitializationFailed>([&] { AcquireStack(); }, "no sockets");
  EXPECT_EQ(StackUsageCount(), 0);
  SetStackClass(original);
  {
    TIdStackHold hold;
    EXPECT_EQ(StackUsageCount(), 1);
    EXPECT_NE(GStack(), nullptr);
  }
  EXPECT_EQ(GStack(), nullptr);
}

// --- Socket sets ----------------------------------------------------------------------------

TEST(SocketList, HoldsAtMostSixtyFourSockets) {
  TIdSocketListPosix set;
  for (int i = 0; i < 64; ++i) {
    set.Add(1000 + i);
  }
  testsupport::ExpectRaises<EIdStackSetSizeExceeded>([&] { set.Add(2000); }, "Set Size Exceeded.");
  EXPECT_EQ(set.Count(), 64);
  EXPECT_THROW(set.Item(64), EIdStackSetSizeExceeded);
  EXPECT_THROW(set.Item(-1), EIdStackSetSizeExceeded);
  // Removing frees a slot again; the last value fills the hole.
  set.Remove(1005);
  EXPECT_EQ(set.Item(5), 1063);
  EXPECT_FALSE(set.Contains(1005));
  set.Add(2000);
  EXPECT_TRUE(set.Contains(2000));
  set.Remove(4242);
  EXPECT_EQ(set.Count(), 64);
  const std::unique_ptr<TIdSocketList> copy = set.Clone();
  set.Clear();
  EXPECT_EQ(set.Count(), 0);
  EXPECT_EQ(copy->Count(), 64);
}

// A connected pair of local sockets, closed at the end.
struct SocketPair {
  int fd[2] = {-1, -1};
  SocketPair() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fd), 0); }
  ~SocketPair() {
    for (int f : fd) {
      if (f >= 0) {
        ::close(f);
      }
    }
  }
};

TEST(SocketList, SelectReadSeesDataAndTheClose) {
  TIdStackHold stack;
  SocketPair pair;
  TIdSocketListPosix set;
  set.Add(pair.fd[0]);
  EXPECT_FALSE(set.SelectRead(0));
  ASSERT_EQ(::write(pair.fd[1], "x", 1), 1);
  EXPECT_TRUE(set.SelectRead(1000));
  char byte;
  ASSERT_EQ(::read(pair.fd[0], &byte, 1), 1);
  EXPECT_FALSE(set.SelectRead(0));
  ::close(pair.fd[1]);
  pair.fd[1] = -1;
  EXPECT_TRUE(set.SelectRead(-2));
}

TEST(SocketList, WaitsOnDescriptorsAboveTheOldSelectLimit) {
  TIdStackHold stack;
  SocketPair pair;
  // A descriptor number past FD_SETSIZE (1024), which an fd_set could not hold.
  const int high = ::fcntl(pair.fd[0], F_DUPFD_CLOEXEC, 1500);
  if (high < 0) {
    GTEST_SKIP() << "the descriptor limit is below 1500";
  }
  TIdSocketListPosix set;
  set.Add(high);
  EXPECT_FALSE(set.SelectRead(0));
  ASSERT_EQ(::write(pair.fd[1], "x", 1), 1);
  EXPECT_TRUE(set.SelectRead(1000));
  ::close(high);
  // A value that is no longer open is an error, not a wait.
  testsupport::ExpectSocketError([&] { set.SelectRead(0); }, 10009,
                                 "Socket Error # 10009\r\nBad file number.");
}

} // namespace
