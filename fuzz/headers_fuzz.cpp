// A response's header block as a server sends it. The list splits it into lines and finds each
// named line again; the response record reads its fields from it without failing, and fields
// written out and read back come out the same. A value written with folding on reads back with
// the same visible characters, and wrapping only ever inserts its break text.
//
// Input: the header block as 8-bit text. The last bytes also choose a fold width.

#include "fuzz/FuzzSupport.h"
#include "http/IdHTTPHeaderInfo.h"
#include "http/IdHeaderList.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>

namespace {

QString WithoutControls(QStringView text) {
  QString visible;
  for (QChar c : text) {
    if (c.unicode() > 32) {
      visible += c;
    }
  }
  return visible;
}

void CheckLineList(const QString& block) {
  TIdHeaderList list;
  list.SetText(block);
  for (const QString& line : list) {
    FUZZ_CHECK(!line.contains(u'\r'));
    FUZZ_CHECK(!line.contains(u'\n'));
  }
  TIdHeaderList again;
  again.SetText(list.Text());
  FUZZ_CHECK(again.Lines() == list.Lines());

  for (qsizetype i = 0; i < list.Count(); ++i) {
    FUZZ_CHECK(!HasUntrimmedEnds(list.HeaderValueOfLine(i)));
    if (!list[i].contains(u':')) {
      continue;
    }
    const qsizetype found = list.FindHeader(list.HeaderNameOfLine(i));
    FUZZ_CHECK(found >= 0 && found <= i);
  }
}

constexpr double kHalfSecond = 0.5 / 86400;

// Whether a date comes back from its written form: records write only dates after day 0, years
// below 100 read back as two-digit years, and the written form cannot hold a moment past 9999.
bool IsWrittenAsItStands(TDateTime value) {
  if (value <= 0) {
    return false;
  }
  const TDateTimeParts p = DecodeDateTime(value);
  const auto encoded = EncodeDateTime(p.year, p.month, p.day, p.hour, p.minute, p.second, p.msec);
  return p.year >= 100 && encoded && std::abs(*encoded - value) < kHalfSecond;
}

// Whether a value fits on one composed line of a record, which folds at 1024 columns.
bool FitsOneLine(const QString& value) {
  return value.size() < 900;
}

void CheckResponseRecord(const QString& block) {
  TIdResponseHeaderInfo response;
  response.HeaderLines().SetText(block);
  response.ParseHeaderLines();
  FUZZ_CHECK(std::isfinite(response.Date()));
  FUZZ_CHECK(std::isfinite(response.Expires()));
  FUZZ_CHECK(std::isfinite(response.LastModified()));
  FUZZ_CHECK(response.WWWAuthenticate().Count() <= response.HeaderLines().Count());

  response.ComposeHeaderLines();
  TIdResponseHeaderInfo reread;
  reread.HeaderLines().Assign(response.HeaderLines());
  reread.ParseHeaderLines();
  for (const auto field :
       {&TIdEntityHeaderInfo::Connection, &TIdEntityHeaderInfo::ContentVersion,
        &TIdEntityHeaderInfo::ContentDisposition, &TIdEntityHeaderInfo::ContentEncoding,
        &TIdEntityHeaderInfo::ContentLanguage, &TIdEntityHeaderInfo::ContentType,
        &TIdEntityHeaderInfo::CacheControl, &TIdEntityHeaderInfo::ETag,
        &TIdEntityHeaderInfo::Pragma}) {
    const QString& written = (response.*field)();
    if (FitsOneLine(written)) {
      FUZZ_CHECK((reread.*field)() == written);
    }
  }
  if (FitsOneLine(response.AcceptRanges())) {
    FUZZ_CHECK(reread.AcceptRanges() == response.AcceptRanges());
  }
  // A negative length is kept as read but means "unknown", which is written as no line at all.
  if (response.ContentLengthKnown()) {
    FUZZ_CHECK(reread.ContentLength() == response.ContentLength());
  } else {
    FUZZ_CHECK(!reread.ContentLengthKnown());
  }
  if (IsWrittenAsItStands(response.Date())) {
    FUZZ_CHECK(std::abs(reread.Date() - response.Date()) < kHalfSecond);
  }
  if (response.ContentRangeEnd() > 0 && response.ContentRangeInstanceLength() > 0) {
    FUZZ_CHECK(reread.ContentRangeStart() == response.ContentRangeStart());
    FUZZ_CHECK(reread.ContentRangeEnd() == response.ContentRangeEnd());
    FUZZ_CHECK(reread.ContentRangeInstanceLength() == response.ContentRangeInstanceLength());
  }
}

void CheckRequestRecord(const QString& block) {
  TIdRequestHeaderInfo request;
  request.HeaderLines().SetText(block);
  request.ParseHeaderLines();
  request.ComposeHeaderLines();
  // Request lines are never folded, and no value read can break a line of its own.
  for (const QString& line : request.HeaderLines()) {
    FUZZ_CHECK(!IsHeaderContinuationLine(line));
    FUZZ_CHECK(!line.contains(u'\r') && !line.contains(u'\n'));
  }
}

// The block's text as one header value, folded at width and read back.
void CheckFoldedValue(const QString& block, int width) {
  QString value = block;
  value.replace(u'\r', u' ').replace(u'\n', u' ');
  const QString name = QStringLiteral("X-Fuzz");
  TIdHeaderList list;
  list.SetFoldWidth(width);
  list.WriteHeader(name, value);
  if (WithoutControls(value).isEmpty()) {
    return;
  }
  FUZZ_CHECK(list.FindHeader(name) == 0);
  FUZZ_CHECK(WithoutControls(list.ReadHeader(name)) == WithoutControls(value));

  // Without CR in the text, every "\r\n " in the result was put there by the wrapping.
  const QString wrapped = WrapText(value, u"\r\n ", u"\t ,", width);
  FUZZ_CHECK(QString(wrapped).remove(QStringLiteral("\r\n ")) == value);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  PinTimeZoneToUtc();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const int width = input.ConsumeIntegralInRange(1, 120);
  const std::string rest = input.ConsumeRemainingBytesAsString();
  const QString block = QString::fromLatin1(rest.data(), qsizetype(rest.size()));
  CheckLineList(block);
  CheckResponseRecord(block);
  CheckRequestRecord(block);
  CheckFoldedValue(block, width);
  return 0;
}
