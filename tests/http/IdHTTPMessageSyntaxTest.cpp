// The text rules the exchange writes and reads by: the request target's encoding, status codes,
// chunk sizes and the header lines that frame a body.

#include "http/IdHTTPMessageSyntax.h"

#include "tests/support/QtPrinters.h"

#include <cstdint>
#include <gtest/gtest.h>

namespace {

struct TargetCase {
  const char16_t* target;
  const char16_t* encoded;
};

class RequestTargetEncoding : public testing::TestWithParam<TargetCase> {};

TEST_P(RequestTargetEncoding, EncodesWhatWouldBreakTheRequestLine) {
  EXPECT_EQ(EncodeRequestTarget(GetParam().target), QString::fromUtf16(GetParam().encoded));
}

INSTANTIATE_TEST_SUITE_P(
    Targets, RequestTargetEncoding,
    testing::Values(TargetCase{u"/photos/set?id=72&x=a+b", u"/photos/set?id=72&x=a+b"},
                    TargetCase{u"/a b", u"/a%20b"},
                    TargetCase{u"/already%20encoded%zz", u"/already%20encoded%zz"},
                    TargetCase{u"/caf\u00e9", u"/caf%C3%A9"},
                    TargetCase{u"/\U0001F600", u"/%F0%9F%98%80"},
                    TargetCase{u"/a\rb\nc\td\x7f", u"/a%0Db%0Ac%09d%7F"},
                    TargetCase{u"/\"<>\\^`{|}", u"/%22%3C%3E%5C%5E%60%7B%7C%7D"},
                    TargetCase{u"/~!$&'()*+,;=:@[]#", u"/~!$&'()*+,;=:@[]#"},
                    TargetCase{u"/lone\xd800", u"/lone%EF%BF%BD"}, TargetCase{u"", u""}));

struct CodeCase {
  const char* statusLine;
  int32_t code;
};

class StatusCodes : public testing::TestWithParam<CodeCase> {};

TEST_P(StatusCodes, AreTheWordAfterTheVersion) {
  EXPECT_EQ(StatusCodeOf(QString::fromLatin1(GetParam().statusLine)), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, StatusCodes,
    testing::Values(CodeCase{"HTTP/1.1 200 OK", 200}, CodeCase{"HTTP/1.1 404", 404},
                    CodeCase{"HTTP/1.0   302   Found", 302}, CodeCase{"HTTP/1.1", -1},
                    CodeCase{"", -1}, CodeCase{"HTTP/1.1 OK 200", -1},
                    CodeCase{"HTTP/1.1 2x0 OK", -1}, CodeCase{"HTTP/1.1 0x1F4 Error", -1}));

struct ChunkCase {
  const char* line;
  std::optional<int64_t> size;
};

class ChunkSizes : public testing::TestWithParam<ChunkCase> {};

TEST_P(ChunkSizes, AreHexadecimalUpToTheExtension) {
  EXPECT_EQ(ChunkSizeOf(GetParam().line), GetParam().size);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ChunkSizes,
    testing::Values(ChunkCase{"1a", 26}, ChunkCase{"1A", 26}, ChunkCase{" 1a ", 26},
                    ChunkCase{"1a ext=1", 26}, ChunkCase{"1a;ext=1", 26},
                    ChunkCase{"1a ; a=b;c", 26}, ChunkCase{"0", 0}, ChunkCase{"00000001a", 26},
                    ChunkCase{"ffffffff", 0xffffffffLL}, ChunkCase{"100000000", 0x100000000LL},
                    ChunkCase{"7fffffffffffffff", INT64_MAX},
                    ChunkCase{"8000000000000000", std::nullopt}, ChunkCase{"", std::nullopt},
                    ChunkCase{";ext", std::nullopt}, ChunkCase{"1g", std::nullopt},
                    ChunkCase{"0x1a", std::nullopt}, ChunkCase{"-1", std::nullopt}));

struct FramingLineCase {
  const char* line;
  bool framing;
};

class FramingLines : public testing::TestWithParam<FramingLineCase> {};

TEST_P(FramingLines, AreNamedByTheirTrimmedNameInAnyCase) {
  EXPECT_EQ(IsFramingLine(QString::fromLatin1(GetParam().line)), GetParam().framing)
      << GetParam().line;
}

INSTANTIATE_TEST_SUITE_P(Lines, FramingLines,
                         testing::Values(FramingLineCase{"Transfer-Encoding: chunked", true},
                                         FramingLineCase{"content-length:5", true},
                                         FramingLineCase{" CONNECTION : close", true},
                                         FramingLineCase{"Connection", false},
                                         FramingLineCase{"Content-Type: a", false},
                                         FramingLineCase{"Content-Length-X: 5", false},
                                         FramingLineCase{"X: Content-Length: 5", false},
                                         FramingLineCase{"", false}));

} // namespace
