#include "app/EmbedCode.h"
#include "app/HostNames.h"

#include "tests/support/NamedRow.h"

#include <QSet>
#include <QStringList>
#include <gtest/gtest.h>

#include <ostream>
#include <tuple>

namespace {

struct EncodeCase {
  const char16_t* value;
  const char* encoded;
};

// Names the case in test listings instead of its bytes.
void PrintTo(const EncodeCase& c, std::ostream* out) {
  *out << QString::fromUtf16(c.value).toStdString();
}

class EncodeQueryValueTest : public testing::TestWithParam<EncodeCase> {};

TEST_P(EncodeQueryValueTest, EncodesAllButTheSafeCharacters) {
  const EncodeCase& c = GetParam();
  EXPECT_EQ(EncodeQueryValue(QStringView(c.value)), QString::fromLatin1(c.encoded));
}

INSTANTIATE_TEST_SUITE_P(
    Table, EncodeQueryValueTest,
    testing::Values(EncodeCase{u"", ""}, EncodeCase{u"red,blue", "red,blue"},
                    EncodeCase{u"AZaz09-._~,@:", "AZaz09-._~,@:"}, EncodeCase{u"a\"b", "a%22b"},
                    EncodeCase{u"?&", "%3F%26"}, EncodeCase{u"a b", "a%20b"},
                    EncodeCase{u"#top", "%23top"}, EncodeCase{u"x=1+2", "x%3D1%2B2"},
                    EncodeCase{u"50%", "50%25"}, EncodeCase{u"<i>", "%3Ci%3E"},
                    EncodeCase{u"a/b\\c", "a%2Fb%5Cc"}, EncodeCase{u"tab\there", "tab%09here"},
                    EncodeCase{u"\u00e9", "%C3%A9"}, EncodeCase{u"\u20ac", "%E2%82%AC"},
                    EncodeCase{u"\U0001F600", "%F0%9F%98%80"}));

// The address after SlideshowBaseAddress.
struct AddressCase : testsupport::NamedRow {
  SlideshowIds ids;
  SlideshowFilters filters;
  const char* query;
};

class SlideshowAddressTest : public testing::TestWithParam<std::tuple<AddressCase, PlayerScheme>> {
};

TEST_P(SlideshowAddressTest, ComposesTheQueryAfterTheBaseOfTheScheme) {
  const auto& [c, scheme] = GetParam();
  const QString base =
      scheme == PlayerScheme::Https
          ? QStringLiteral("https://%1/slideShow/index.gne?").arg(SecureServiceHost)
          : QStringLiteral("http://%1/slideShow/index.gne?").arg(ServiceHost);
  EXPECT_EQ(SlideshowAddress(c.ids, c.filters, scheme), base + QString::fromUtf8(c.query));
}

INSTANTIATE_TEST_SUITE_P(
    Table, SlideshowAddressTest,
    testing::Combine(
        testing::Values(
            AddressCase{"Nothing", {}, {}, ""},
            AddressCase{"TagsAndFavourites", {}, {"red", "", true}, "tags=red&favorites=own"},
            AddressCase{"FavouritesAlone", {}, {"", "", true}, "favorites=own"},
            AddressCase{"OwnerAndSet", {"12@N01", "", "7215"}, {}, "user_id=12@N01&set_id=7215"},
            AddressCase{"EveryPieceInOrder",
                        {"O1", "G1", "S1"},
                        {"red", "sea", true},
                        "user_id=O1&group_id=G1&set_id=S1&tags=red&text=sea&favorites=own"},
            AddressCase{"GroupAndText",
                        {"", "G1", ""},
                        {"", "sun set", false},
                        "group_id=G1&text=sun%20set"},
            AddressCase{"TagsHoldingTheJoint", {}, {"?&", "", false}, "tags=%3F%26"},
            AddressCase{"QuoteCannotLeaveTheAttribute", {}, {"a\"b", "", false}, "tags=a%22b"},
            AddressCase{
                "AmpersandStaysInsideItsValue", {}, {"", "cats&dogs", false}, "text=cats%26dogs"},
            AddressCase{"IdentifiersAreEncodedToo", {"a&b", "", ""}, {}, "user_id=a%26b"}),
        testing::Values(PlayerScheme::Http, PlayerScheme::Https)),
    [](const testing::TestParamInfo<std::tuple<AddressCase, PlayerScheme>>& info) {
      const bool https = std::get<1>(info.param) == PlayerScheme::Https;
      return std::string(std::get<0>(info.param).name) + (https ? "Https" : "Http");
    });

struct SchemeCase {
  const char16_t* scheme;
  PlayerScheme player;
};

class PlayerSchemeOfTest : public testing::TestWithParam<SchemeCase> {};

TEST_P(PlayerSchemeOfTest, OnlyHttpsInAnyCaseLeadsToTheHttpsPlayer) {
  EXPECT_EQ(PlayerSchemeOf(QStringView(GetParam().scheme)), GetParam().player);
}

INSTANTIATE_TEST_SUITE_P(Table, PlayerSchemeOfTest,
                         testing::Values(SchemeCase{u"https", PlayerScheme::Https},
                                         SchemeCase{u"HTTPS", PlayerScheme::Https},
                                         SchemeCase{u"hTTpS", PlayerScheme::Https},
                                         SchemeCase{u"http", PlayerScheme::Http},
                                         SchemeCase{u"", PlayerScheme::Http},
                                         SchemeCase{u"https ", PlayerScheme::Http},
                                         SchemeCase{u"shttp", PlayerScheme::Http},
                                         SchemeCase{u"ftp", PlayerScheme::Http}));

struct DimensionCase {
  const char16_t* text;
  int32_t fallback;
  const char* normalised;
};

// Names the case in test listings instead of its bytes.
void PrintTo(const DimensionCase& c, std::ostream* out) {
  *out << QString::fromUtf16(c.text).toStdString() << " or " << c.fallback;
}

class NormalisedDimensionTest : public testing::TestWithParam<DimensionCase> {};

TEST_P(NormalisedDimensionTest, GivesThePositiveDecimalOrTheFallback) {
  const DimensionCase& c = GetParam();
  EXPECT_EQ(NormalisedDimension(QStringView(c.text), c.fallback),
            QString::fromLatin1(c.normalised));
}

INSTANTIATE_TEST_SUITE_P(
    Table, NormalisedDimensionTest,
    testing::Values(DimensionCase{u"300", 500, "300"}, DimensionCase{u" 300", 500, "300"},
                    DimensionCase{u"0500", 500, "500"}, DimensionCase{u"$64", 500, "100"},
                    DimensionCase{u"0x1F", 400, "31"}, DimensionCase{u"+7", 400, "7"},
                    DimensionCase{u"abc", 500, "500"}, DimensionCase{u"0", 500, "500"},
                    DimensionCase{u"-5", 500, "500"}, DimensionCase{u"", 500, "500"},
                    DimensionCase{u"abc", 400, "400"}, DimensionCase{u"0", 400, "400"},
                    DimensionCase{u"-5", 400, "400"}, DimensionCase{u"2147483648", 400, "400"},
                    DimensionCase{u"2147483647", 400, "2147483647"},
                    DimensionCase{u"300 ", 500, "500"}));

TEST(EmbedCode, WrapsTheAddressInTheIframeAndCreditLine) {
  const QString address = SlideshowBaseAddress + QStringLiteral("tags=red");
  const QString expected =
      QStringLiteral("<iframe align=\"center\" src=\"") + address +
      QStringLiteral("\" frameBorder=\"0\" width=\"320\" height=\"240\" scrolling=\"no\">"
                     "</iframe><br /><center><small>Created with <a href=\"http://") +
      CreditLinkHost + QStringLiteral("\" title=\"marquelo\">marquelo</a> from <a href=\"http://") +
      MakerSiteHost + QStringLiteral("\">Tarnwick</a>.</small></center>");
  EXPECT_EQ(EmbedCode(address, QStringLiteral("320"), QStringLiteral("240")), expected);
}

TEST(HostNames, AreFourDistinctHostsAndTheAddressesDeriveFromTheService) {
  const QStringList hosts{ServiceHost, ProductSiteHost, CreditLinkHost, MakerSiteHost};
  for (const QString& host : hosts) {
    EXPECT_FALSE(host.isEmpty());
    EXPECT_FALSE(host.contains(u'/')) << host.toStdString();
  }
  EXPECT_EQ(QSet<QString>(hosts.begin(), hosts.end()).size(), 4);
  EXPECT_EQ(PlaceholderAddress, QStringLiteral("http://%1/photos/username/").arg(ServiceHost));
  EXPECT_EQ(SlideshowBaseAddress,
            QStringLiteral("http://%1/slideShow/index.gne?").arg(ServiceHost));
}

} // namespace
