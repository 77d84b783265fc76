// Compressed bodies against scripted loopback peers: every coding in every framing, whole, cut
// short, corrupt and followed by stray bytes; what the client asks for; codings it does not
// know; and the memory a decompression bomb costs.

#include "http/IdContentDecoding.h"
#include "http/IdDiscardStream.h"
#include "http/IdHTTP.h"
#include "http/IdTextDecoding.h"

#include "tests/support/NamedRow.h"
#include "tests/support/NginxServer.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/ScriptedHTTPServer.h"

#include <QBuffer>
#include <QFile>
#include <brotli/encode.h>
#include <gtest/gtest.h>
#include <zlib.h>
#include <zstd.h>

#include <tuple>

namespace {

using testsupport::Reply;
using testsupport::Response;
using testsupport::ScriptedHTTPServer;

// --- Coders for the peer's side, on the libraries' one-shot calls --------------------------

// windowBits as deflateInit2 takes them: 15 zlib, -15 raw, 31 gzip.
QByteArray Deflated(const QByteArray& data, int windowBits) {
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, 6, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY), Z_OK);
  QByteArray out(int(deflateBound(&stream, uLong(data.size()))), Qt::Uninitialized);
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = uInt(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = uInt(out.size());
  EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(qsizetype(stream.total_out));
  deflateEnd(&stream);
  return out;
}

QByteArray Brotli(const QByteArray& data) {
  size_t size = BrotliEncoderMaxCompressedSize(size_t(data.size()));
  QByteArray out(qsizetype(size), Qt::Uninitialized);
  EXPECT_TRUE(BrotliEncoderCompress(5, BROTLI_DEFAULT_WINDOW, BROTLI_MODE_TEXT, size_t(data.size()),
                                    reinterpret_cast<const uint8_t*>(data.data()), &size,
                                    reinterpret_cast<uint8_t*>(out.data())));
  out.resize(qsizetype(size));
  return out;
}

QByteArray Zstd(const QByteArray& data) {
  QByteArray out(qsizetype(ZSTD_compressBound(size_t(data.size()))), Qt::Uninitialized);
  const size_t size =
      ZSTD_compress(out.data(), size_t(out.size()), data.data(), size_t(data.size()), 3);
  EXPECT_FALSE(ZSTD_isError(size));
  out.resize(qsizetype(size));
  return out;
}

// Text that compresses well but not to nothing, long enough for many runs of decoded output.
QByteArray PageText() {
  QByteArray text;
  for (int i = 0; text.size() < 300000; ++i) {
    text += "<li data-id=\"" + QByteArray::number(i * 7919 % 100003) + "\">photo " +
            QByteArray::number(i) + "</li>\n";
  }
  return text;
}

// --- Codings x framings x endings -----------------------------------------------------------

struct CodingRow : testsupport::NamedRow {
  const char* contentEncoding;
  const char* noticedBy; // the coding whose decoder sees a cut or corrupt stream first
  QByteArray (*encode)(const QByteArray&);
};

const CodingRow kCodingRows[] = {
    {"Gzip", "gzip", "gzip",
     [](const QByteArray& d) {
       return Deflated(d, 31);
     }},
    {"DeflateZlib", "deflate", "deflate",
     [](const QByteArray& d) {
       return Deflated(d, 15);
     }},
    {"DeflateRaw", "deflate", "deflate",
     [](const QByteArray& d) {
       return Deflated(d, -15);
     }},
    {"Brotli", "br", "br", &Brotli},
    {"Zstd", "zstd", "zstd", &Zstd},
    {"DeflateThenGzip", "deflate, GZIP", "gzip",
     [](const QByteArray& d) {
       return Deflated(Deflated(d, 15), 31);
     }},
};

enum class Framing { Length, Chunked, UntilClose };
enum class Ending { Whole, Cut, Corrupt, Trailing };

using Cell = std::tuple<CodingRow, Framing, Ending>;

// The body framed as the peer sends it; a cut body stops at half and the peer closes.
Reply Framed(Framing framing, const QByteArray& contentEncoding, const QByteArray& body, bool cut) {
  const QByteArray head =
      "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Encoding: " + contentEncoding + "\r\n";
  const QByteArray sent = cut ? body.left(body.size() / 2) : body;
  switch (framing) {
  case Framing::Length:
    return {head + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + sent, cut};
  case Framing::Chunked: {
    QByteArray chunks;
    for (qsizetype at = 0; at < sent.size(); at += 1000) {
      const QByteArray chunk = sent.mid(at, 1000);
      chunks += QByteArray::number(chunk.size(), 16) + "\r\n" + chunk + "\r\n";
    }
    return {head + "Transfer-Encoding: chunked\r\n\r\n" + chunks + (cut ? "" : "0\r\n\r\n"), cut};
  }
  case Framing::UntilClose:
    return {head + "\r\n" + sent, true};
  }
  return {};
}

class CodedBody : public testing::TestWithParam<Cell> {};

TEST_P(CodedBody, DecodesWholeBodiesAndFailsCutOrCorruptOnesKeepingWhatCame) {
  const auto& [coding, framing, ending] = GetParam();
  static const QByteArray text = PageText();
  QByteArray body = coding.encode(text);
  if (ending == Ending::Corrupt) {
    // Data further on may be wrong without any format noticing (raw deflate and br carry no
    // check value); a wrong start is seen by every one.
    body.replace(0, 4, "\xff\xff\xff\xff");
  } else if (ending == Ending::Trailing) {
    body += "\r\n<!-- stray bytes a server appended -->\r\n";
  }
  const bool failing = ending == Ending::Cut || ending == Ending::Corrupt;
  ScriptedHTTPServer server({Framed(framing, coding.contentEncoding, body, ending == Ending::Cut),
                             Reply{Response("HTTP/1.1 200 OK", "next")}});
  TIdHTTP client;
  client.SetCompressor(&TIdCompressor::Standard());
  QBuffer page;
  page.open(QIODevice::ReadWrite);

  QString raised;
  try {
    client.GetToStream(server.Url(), page);
  } catch (const Exception& e) {
    raised = e.ClassName() + QStringLiteral(": ") + e.Message();
  }
  const QString noticedBy = QString::fromLatin1(coding.noticedBy);
  if (!failing) {
    EXPECT_EQ(raised, QString());
    EXPECT_EQ(page.data(), text);
  } else {
    EXPECT_TRUE(text.startsWith(page.data())) << "decoded bytes out of place";
    if (ending == Ending::Corrupt) {
      EXPECT_TRUE(
          raised.startsWith(QStringLiteral("EIdHTTPContentDecodingError: Response body in ") +
                            noticedBy + QStringLiteral(" coding is corrupt: ")))
          << raised.toStdString();
    } else if (framing == Framing::UntilClose) {
      EXPECT_EQ(raised, QStringLiteral("EIdHTTPContentDecodingError: Response body in ") +
                            noticedBy + QStringLiteral(" coding ends before its end mark."));
    } else {
      EXPECT_TRUE(raised.startsWith(u"EIdHTTPBodyCutShort: ")) << raised.toStdString();
    }
  }
  // A whole body framed by length or chunks leaves the connection for the next call.
  EXPECT_EQ(client.Get(server.Url()), QStringLiteral("next"));
  const bool reused = !failing && framing != Framing::UntilClose;
  EXPECT_EQ(server.Connections(), reused ? 1 : 2);
}

std::string CellName(const testing::TestParamInfo<Cell>& info) {
  static const char* const framings[] = {"Length", "Chunked", "UntilClose"};
  static const char* const endings[] = {"Whole", "Cut", "Corrupt", "Trailing"};
  const auto& [coding, framing, ending] = info.param;
  return std::string(coding.name) + framings[int(framing)] + endings[int(ending)];
}

INSTANTIATE_TEST_SUITE_P(Cells, CodedBody,
                         testing::Combine(testing::ValuesIn(kCodingRows),
                                          testing::Values(Framing::Length, Framing::Chunked,
                                                          Framing::UntilClose),
                                          testing::Values(Ending::Whole, Ending::Cut,
                                                          Ending::Corrupt, Ending::Trailing)),
                         CellName);

// --- What the client asks for, and bodies with codings it cannot or need not undo ---------

QByteArray Gzip(const QByteArray& data) {
  return Deflated(data, 31);
}

const QByteArray kUtf8Page = "Seite \xc3\xbc \xe2\x82\xac";

struct ClientCase : testsupport::NamedRow {
  bool compressor;
  const char* method;
  QByteArray reply;
  QByteArray acceptEncoding; // what the request offers
  QString outcome;           // the text the call returns, or the class and body it raises
};

class CodingsOfACall : public testing::TestWithParam<ClientCase> {};

TEST_P(CodingsOfACall, OffersWhatItUndoesAndUndoesOnlyThat) {
  const ClientCase& c = GetParam();
  ScriptedHTTPServer server({Reply{c.reply}, Reply{Response("HTTP/1.1 200 OK", "next")}});
  TIdHTTP client;
  if (c.compressor) {
    client.SetCompressor(&TIdCompressor::Standard());
  }
  QString outcome;
  try {
    QBuffer body;
    body.open(QIODevice::ReadWrite);
    client.PerformRequest(QString::fromLatin1(c.method), server.Url(), nullptr, &body, {});
    body.seek(0);
    outcome = ReadStreamText(body, kRestOfStream,
                             EncodingFromContentType(client.CurrentResponse().ContentType()));
  } catch (const EIdHTTPProtocolException& e) {
    outcome = e.ClassName() + QStringLiteral(": ") + e.ReplyBody();
  }
  EXPECT_EQ(outcome, c.outcome);
  EXPECT_EQ(server.Header(0, "Accept-Encoding"), c.acceptEncoding);
  // Nothing of the first response is left for the second to read.
  EXPECT_EQ(client.Get(server.Url()), QStringLiteral("next"));
  EXPECT_EQ(server.Connections(), 1);
}

const QByteArray kOffered = "gzip, deflate, br, zstd, identity";
const QByteArray kGzipHtml = "Content-Encoding: gzip\r\nContent-Type: text/html; charset=utf-8\r\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, CodingsOfACall,
    testing::Values(
        ClientCase{"NoCompressorKeepsTheBodyAsItCame", false, "GET",
                   Response("HTTP/1.1 200 OK", Gzip("x"), "Content-Encoding: gzip\r\n"), "identity",
                   QString::fromLatin1(Gzip("x"))},
        ClientCase{"CharsetAppliesToTheDecodedPage", true, "GET",
                   Response("HTTP/1.1 200 OK", Gzip(kUtf8Page), kGzipHtml), kOffered,
                   QString::fromUtf8(kUtf8Page)},
        ClientCase{"ErrorPageDecoded", true, "GET",
                   Response("HTTP/1.1 404 Not Found", Gzip(kUtf8Page), kGzipHtml), kOffered,
                   QStringLiteral("EIdHTTPProtocolException: ") + QString::fromUtf8(kUtf8Page)},
        ClientCase{"UnknownCodingKeptAsItCame", true, "GET",
                   Response("HTTP/1.1 200 OK", "packed", "Content-Encoding: x-unknown\r\n"),
                   kOffered, QStringLiteral("packed")},
        ClientCase{"UnknownCodingLastKeepsTheBodyAsItCame", true, "GET",
                   Response("HTTP/1.1 200 OK", Gzip("x"), "Content-Encoding: gzip, compress\r\n"),
                   kOffered, QString::fromLatin1(Gzip("x"))},
        ClientCase{"KnownCodingsLastUndoneDownToAnUnknownOne", true, "GET",
                   Response("HTTP/1.1 200 OK", Gzip("packed"),
                            "Content-Encoding: compress\r\nContent-Encoding: gzip\r\n"),
                   kOffered, QStringLiteral("packed")},
        ClientCase{"HeadAnnouncingACodedBody", true, "HEAD",
                   "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 20\r\n\r\n",
                   kOffered, QString()},
        ClientCase{"NoContentWithACoding", true, "GET",
                   "HTTP/1.1 204 No Content\r\nContent-Encoding: br\r\n\r\n", kOffered, QString()},
        ClientCase{"NotModifiedWithACoding", true, "GET",
                   "HTTP/1.1 304 Not Modified\r\nContent-Encoding: zstd\r\n\r\n", kOffered,
                   QStringLiteral("EIdHTTPProtocolException: ")},
        ClientCase{"EmptyBodyWithACoding", true, "GET",
                   Response("HTTP/1.1 200 OK", {}, "Content-Encoding: gzip\r\n"), kOffered,
                   QString()}),
    testsupport::RowName());

TEST(CodingsOfACall, ACorruptBodyOfARedirectIsDroppedUnread) {
  ScriptedHTTPServer server(
      {Reply{Response("HTTP/1.1 302 Found", "\xff\xff not gzip",
                      "Location: /there\r\nContent-Encoding: gzip\r\n")},
       Reply{Response("HTTP/1.1 200 OK", Gzip("arrived"), "Content-Encoding: gzip\r\n")}});
  TIdHTTP client;
  client.SetCompressor(&TIdCompressor::Standard());
  client.SetHandleRedirects(true);
  EXPECT_EQ(client.Get(server.Url()), QStringLiteral("arrived"));
  EXPECT_EQ(server.Connections(), 1);
}

// --- A decompression bomb -------------------------------------------------------------------

// A gzip stream of `mib` MiB of zeros, made in a moment: after a full flush each further MiB
// compresses to the same bytes, so they are made once and repeated, and the trailer is computed.
QByteArray GzipOfZeros(int mib) {
  const QByteArray zeros(1 << 20, '\0');
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, 9, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY), Z_OK);
  const auto step = [&](const QByteArray& in, int flush) {
    QByteArray out(1 << 16, Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    stream.avail_in = uInt(in.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    EXPECT_NE(deflate(&stream, flush), Z_STREAM_ERROR);
    EXPECT_EQ(stream.avail_in, 0u);
    out.resize(out.size() - qsizetype(stream.avail_out));
    return out;
  };
  QByteArray bomb = step(zeros, Z_FULL_FLUSH);
  const QByteArray repeated = step(zeros, Z_FULL_FLUSH);
  QByteArray last = step({}, Z_FINISH);
  deflateEnd(&stream);
  for (int i = 2; i < mib; ++i) {
    bomb += repeated;
  }
  bomb += repeated + last.chopped(8);
  uLong crc = crc32(0, nullptr, 0);
  const uLong crcOfOneMiB =
      crc32(0, reinterpret_cast<const Bytef*>(zeros.data()), uInt(zeros.size()));
  for (int i = 0; i < mib; ++i) {
    crc = crc32_combine(crc, crcOfOneMiB, 1 << 20);
  }
  const auto size = uint32_t(int64_t(mib) << 20);
  for (const uint32_t word : {uint32_t(crc), size}) {
    for (int shift = 0; shift < 32; shift += 8) {
      bomb += char(word >> shift & 0xff);
    }
  }
  return bomb;
}

// The most memory the process has held since the mark was cleared, in KiB.
int64_t PeakResidentKiB() {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) {
    return -1;
  }
  for (const QByteArray& line : status.readAll().split('\n')) {
    if (line.startsWith("VmHWM:")) {
      return line.mid(6).trimmed().split(' ').front().toLongLong();
    }
  }
  return -1;
}

bool ClearPeakResident() {
  QFile clear(QStringLiteral("/proc/self/clear_refs"));
  return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}

TEST(DecompressionBomb, AGibibyteOfZerosCostsWhatItsPiecesCost) {
  const QByteArray bomb = GzipOfZeros(1024);
  ASSERT_LT(bomb.size(), 2 << 20);
  ScriptedHTTPServer server(
      {Reply{Response("HTTP/1.1 200 OK", bomb, "Content-Encoding: gzip\r\n")}});
  TIdHTTP client;
  client.SetCompressor(&TIdCompressor::Standard());
  // The count of what reaches the caller, without keeping it.
  class Counter final : public QIODevice {
  public:
    Counter() { open(QIODevice::WriteOnly); }
    bool isSequential() const override { return true; }
    qint64 count = 0;

  protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char*, qint64 length) override {
      count += length;
      return length;
    }
  } counter;
  if (!ClearPeakResident()) {
    GTEST_SKIP() << "the peak of resident memory cannot be reset here";
  }
  const int64_t before = PeakResidentKiB();
  client.GetToStream(server.Url(), counter);
  const int64_t grown = PeakResidentKiB() - before;
  EXPECT_EQ(counter.count, int64_t(1) << 30);
  EXPECT_LT(grown, 32 * 1024) << "KiB";
}

// --- A real server ------------------------------------------------------------------------

TEST(CodedBodyFromNginx, GzipOnIsDecodedAndTheConnectionServesAgain) {
  if (!testsupport::NginxServer::Available()) {
    GTEST_SKIP() << "nginx is not installed";
  }
  testsupport::NginxServer nginx(QStringLiteral(R"(
    add_header X-Connection $connection always;
    charset utf-8;
    gzip on;
    gzip_min_length 1;
  )"));
  const QByteArray text = PageText();
  nginx.AddFile(QStringLiteral("page.html"), text);
  TIdHTTP client;
  client.SetCompressor(&TIdCompressor::Standard());
  const QString url = nginx.BaseUrl() + QStringLiteral("/page.html");

  EXPECT_EQ(client.Get(url).toUtf8(), text);
  EXPECT_EQ(client.CurrentResponse().ContentEncoding(), QStringLiteral("gzip"));
  const QString connection = client.CurrentResponse().HeaderLines().ReadHeader(u"X-Connection");
  EXPECT_EQ(client.Get(url).toUtf8(), text);
  EXPECT_EQ(client.CurrentResponse().HeaderLines().ReadHeader(u"X-Connection"), connection);
}

} // namespace
