#include "http/IdAuthentication.h"
#include "http/IdAuthenticationDigest.h"

#include "tests/http/HeaderListOf.h"
#include "tests/support/NamedRow.h"
#include "tests/support/QtPrinters.h"

#include <gtest/gtest.h>

namespace {

// --- Challenge parameters -------------------------------------------------------------------

struct ParamsCase {
  const char* line;
  QStringList expected;
};

class ChallengeParams : public testing::TestWithParam<ParamsCase> {};

TEST_P(ChallengeParams, CutAtCommasOutsideQuotesAndUnquoted) {
  EXPECT_EQ(ParseChallengeParams(QString::fromUtf8(GetParam().line)).Lines(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ChallengeParams,
    testing::Values(ParamsCase{"Basic", {}},
                    // Any blank ends the scheme name.
                    ParamsCase{"Basic\trealm=x", {"realm: x"}},
                    ParamsCase{"Basic realm=\"WallyWorld\"", {"realm: WallyWorld"}},
                    // Commas and escaped quotes inside a quoted value belong to the value.
                    ParamsCase{R"(Digest realm="a, b", nonce="n\"1\"", qop="auth, auth-int")",
                               {"realm: a, b", "nonce: n\"1\"", "qop: auth, auth-int"}},
                    // No space after the comma, blanks around "=", an unquoted value.
                    ParamsCase{"Digest realm=\"r\",algorithm = MD5,stale=TRUE",
                               {"realm: r", "algorithm: MD5", "stale: TRUE"}},
                    // Empty items vanish; an item without "=" has an empty value.
                    ParamsCase{"X a , , b=,", {"a: ", "b: "}},
                    // A lone quote is not a quoted value.
                    ParamsCase{"X v=\"", {"v: \""}}));

TEST(ChallengeParams, QuotedValuesReadBackAsWritten) {
  for (const QString& value :
       {QStringLiteral("plain"), QStringLiteral("a \"b\" c"), QStringLiteral("back\\slash"),
        QStringLiteral("x, y=z"), QStringLiteral("\\\"")}) {
    const QString line = QStringLiteral("X v=") + QuotedParamValue(value) + QStringLiteral(", w=1");
    const TIdHeaderList params = ParseChallengeParams(line);
    EXPECT_EQ(params.ReadHeader(u"v"), value) << line.toStdString();
    EXPECT_EQ(params.ReadHeader(u"w"), QStringLiteral("1")) << line.toStdString();
  }
}

// --- ChallengeLine --------------------------------------------------------------------------

TEST(ChallengeLine, FirstLineOfTheSchemeWholeWordWithoutRegardToCase) {
  TIdBasicAuthentication scheme;
  scheme.SetChallenges(ListOf(
      {"Negotiate abc", "BasicX realm=\"1\"", "basic realm=\"2\"", "Basic realm=\"3\"", "Digest"}));
  EXPECT_EQ(scheme.ChallengeLine(u"Basic"), QStringLiteral("basic realm=\"2\""));
  EXPECT_EQ(scheme.ChallengeLine(u"DIGEST"), QStringLiteral("Digest"));
  EXPECT_EQ(scheme.ChallengeLine(u"NTLM"), QString());
  scheme.SetChallenges(ListOf({"Basic\trealm=\"tab\""}));
  EXPECT_EQ(scheme.ChallengeLine(u"Basic"), QStringLiteral("Basic\trealm=\"tab\""));
}

// --- Basic ----------------------------------------------------------------------------------

struct BasicValueCase {
  QString username;
  QString password;
  const char* expected;
};

class BasicValue : public testing::TestWithParam<BasicValueCase> {};

TEST_P(BasicValue, Base64OfLowBytesOfUserColonPassword) {
  TIdBasicAuthentication scheme;
  scheme.SetUsername(GetParam().username);
  scheme.SetPassword(GetParam().password);
  EXPECT_EQ(scheme.AuthorizationValue(), QString::fromLatin1(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Credentials, BasicValue,
    testing::Values(BasicValueCase{"Aladdin", "open sesame", "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ=="},
                    BasicValueCase{"", "", "Basic Og=="},
                    // U+00E9 is byte E9; U+0141 keeps its low byte 41 ("A").
                    BasicValueCase{QStringLiteral("\u00e9"), "", "Basic 6To="},
                    BasicValueCase{QStringLiteral("\u0141"), "", "Basic QTo="}));

struct BasicStepCase {
  QStringList challenges;
  QString username;
  TIdAuthWhatsNext expected;
  QString realm;
};

class BasicStep : public testing::TestWithParam<BasicStepCase> {};

TEST_P(BasicStep, AnswersWithAUserNameAndTakesTheRealm) {
  TIdBasicAuthentication scheme;
  scheme.SetUsername(GetParam().username);
  scheme.SetChallenges(ListOf(GetParam().challenges));
  EXPECT_EQ(scheme.NextStep(), GetParam().expected);
  EXPECT_EQ(scheme.RealmValue(), GetParam().realm);
  EXPECT_EQ(scheme.StepIndex(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Challenges, BasicStep,
    testing::Values(
        BasicStepCase{
            {"Basic realm=\"WallyWorld\""}, "u", TIdAuthWhatsNext::SendAgain, "WallyWorld"},
        BasicStepCase{
            {"Basic realm=\"WallyWorld\""}, "", TIdAuthWhatsNext::NeedCredentials, "WallyWorld"},
        BasicStepCase{{"Digest nonce=\"n\"", "basic realm=\"a, \\\"b\\\"\", charset=\"UTF-8\""},
                      "u",
                      TIdAuthWhatsNext::SendAgain,
                      "a, \"b\""},
        // Without a Basic line there is no realm, but credentials are still worth sending.
        BasicStepCase{{"Negotiate"}, "u", TIdAuthWhatsNext::SendAgain, ""}));

TEST(BasicStep, ChallengeParametersNeitherPileUpNorTouchCredentials) {
  TIdBasicAuthentication scheme;
  scheme.SetUsername(QStringLiteral("user"));
  scheme.SetPassword(QStringLiteral("secret"));
  scheme.SetChallenges(ListOf({"Basic realm=\"one\", password=\"stolen\", Username=x"}));
  scheme.NextStep();
  scheme.SetChallenges(ListOf({"Basic realm=\"two\", charset=\"UTF-8\""}));
  scheme.NextStep();
  EXPECT_EQ(scheme.SchemeParams().Lines(),
            QStringList({"Username: user", "Password: secret", "realm: two", "charset: UTF-8"}));
  EXPECT_EQ(scheme.RealmValue(), QStringLiteral("two"));
}

// --- Digest ---------------------------------------------------------------------------------

// The client nonce is the only input an answer does not take from its caller or the server;
// fixing it makes answers comparable with published ones.
class FixedNonceDigest : public TIdDigestAuthentication {
protected:
  QString NewClientNonce() const override { return QStringLiteral("0a4f113b"); }
};

const QString kRfcNonce = QStringLiteral("dcd98b7102dd2f0e8b11d0f600bfb0c093");
const QString kRfcOpaque = QStringLiteral("5ccc069c403ebaf9f0171e9517f40e41");

QString RfcChallenge(const QString& qopParam, const QString& nonce = kRfcNonce) {
  return QStringLiteral("Digest realm=\"testrealm@host.com\", ") + qopParam +
         QStringLiteral("nonce=\"") + nonce + QStringLiteral("\", opaque=\"") + kRfcOpaque +
         QStringLiteral("\", algorithm=MD5");
}

// A scheme for Mufasa of the published example, having evaluated challenge for GET of
// /dir/index.html.
void Evaluate(TIdDigestAuthentication& scheme, const QString& challenge) {
  scheme.SetUsername(QStringLiteral("Mufasa"));
  scheme.SetPassword(QStringLiteral("Circle Of Life"));
  scheme.SetRequestMethod(QStringLiteral("GET"));
  scheme.SetRequestUri(QStringLiteral("/dir/index.html"));
  scheme.SetChallenges(ListOf({challenge}));
  ASSERT_EQ(scheme.NextStep(), TIdAuthWhatsNext::SendAgain);
}

// The value of parameter name in an answer; empty when absent.
QString AnswerParam(const QString& answer, QStringView name) {
  return ParseChallengeParams(answer).ReadHeader(name);
}

TEST(Digest, PublishedExampleWithQopAuth) {
  FixedNonceDigest scheme;
  Evaluate(scheme, RfcChallenge(QStringLiteral("qop=\"auth\", ")));
  EXPECT_EQ(scheme.AuthorizationValue(),
            QStringLiteral("Digest username=\"Mufasa\", realm=\"testrealm@host.com\", "
                           "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", algorithm=\"MD5\", "
                           "uri=\"/dir/index.html\", qop=\"auth\", nc=00000001, "
                           "cnonce=\"0a4f113b\", response=\"6629fae49393a05397450978507c4ef1\", "
                           "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\""));
}

struct DigestVariantCase {
  const char* name;
  QString qopParam;
  QString method;
  QString uri;
  QStringList body;
  const char* qop;      // empty: no qop, nc or cnonce in the answer
  const char* response; // computed apart from this code
};

class DigestVariant : public testing::TestWithParam<DigestVariantCase> {};

TEST_P(DigestVariant, ResponseHashAndQop) {
  const DigestVariantCase& c = GetParam();
  FixedNonceDigest scheme;
  Evaluate(scheme, RfcChallenge(c.qopParam));
  scheme.SetRequestMethod(c.method);
  scheme.SetRequestUri(c.uri);
  scheme.SetEntityBody(c.body);
  const QString answer = scheme.AuthorizationValue();
  EXPECT_EQ(AnswerParam(answer, u"response"), QString::fromLatin1(c.response))
      << answer.toStdString();
  EXPECT_EQ(AnswerParam(answer, u"qop"), QString::fromLatin1(c.qop));
  EXPECT_EQ(answer.contains(QStringLiteral("nc=")), *c.qop != 0);
  EXPECT_EQ(answer.contains(QStringLiteral("cnonce=")), *c.qop != 0);
  EXPECT_EQ(AnswerParam(answer, u"uri"), c.uri);
}

INSTANTIATE_TEST_SUITE_P(
    Qop, DigestVariant,
    testing::Values(
        // Integrity protection is preferred when offered; an empty body hashes as "".
        DigestVariantCase{"AuthIntPreferred",
                          "qop=\"auth,auth-int\", ",
                          "GET",
                          "/dir/index.html",
                          {},
                          "auth-int",
                          "5e6610ecf9ba3017a4870ad48e3ad30b"},
        DigestVariantCase{"AuthIntOverBodyLines",
                          "qop=\"auth-int\", ",
                          "POST",
                          "/form",
                          {"a=1", "b=2"},
                          "auth-int",
                          "afbe10c3416df9411db3c12e2c6d5daa"},
        DigestVariantCase{
            "NoQop", "", "GET", "/dir/index.html", {}, "", "670fd8c2df070c60b045671b8b24ff02"},
        // An offer listed with blanks after its commas is understood the same way.
        DigestVariantCase{"SpacedQopList",
                          "qop=\"auth, auth-int\", ",
                          "GET",
                          "/dir/index.html",
                          {},
                          "auth-int",
                          "5e6610ecf9ba3017a4870ad48e3ad30b"}),
    testsupport::RowName());

TEST(Digest, SameNonceCountsOnNewNonceRestarts) {
  FixedNonceDigest scheme;
  QStringList counts;
  QStringList responses;
  for (const QString& nonce : {kRfcNonce, kRfcNonce, kRfcNonce, QStringLiteral("fresh")}) {
    Evaluate(scheme, RfcChallenge(QStringLiteral("qop=\"auth\", "), nonce));
    const QString answer = scheme.AuthorizationValue();
    counts << AnswerParam(answer, u"nc");
    responses << AnswerParam(answer, u"response");
  }
  EXPECT_EQ(counts, QStringList({"00000001", "00000002", "00000003", "00000001"}));
  EXPECT_EQ(responses[1], QStringLiteral("15b6bb427e3fecd23a43cb702ce447d5"));
  EXPECT_EQ(scheme.NonceCount(), 2);
}

TEST(Digest, NonceCountIsUpperCaseHexadecimal) {
  FixedNonceDigest scheme;
  QString answer;
  for (int i = 0; i < 11; ++i) {
    Evaluate(scheme, RfcChallenge(QStringLiteral("qop=\"auth\", ")));
    answer = scheme.AuthorizationValue();
  }
  EXPECT_EQ(AnswerParam(answer, u"nc"), QStringLiteral("0000000B"));
}

TEST(Digest, AnsweringReturnsToTheBareSchemeName) {
  FixedNonceDigest scheme;
  EXPECT_EQ(scheme.AuthorizationValue(), QStringLiteral("Digest"));
  Evaluate(scheme, RfcChallenge(QStringLiteral("qop=\"auth\", ")));
  EXPECT_EQ(scheme.StepIndex(), 1);
  EXPECT_TRUE(scheme.AuthorizationValue().startsWith(QStringLiteral("Digest username=")));
  EXPECT_EQ(scheme.StepIndex(), 0);
  EXPECT_EQ(scheme.AuthorizationValue(), QStringLiteral("Digest"));
  EXPECT_EQ(scheme.NonceCount(), 2);
}

TEST(Digest, ChallengeFieldsAreKept) {
  TIdDigestAuthentication scheme;
  scheme.SetUsername(QStringLiteral("u"));
  scheme.SetChallenges(ListOf({"Basic realm=\"other\"",
                               "Digest realm=\"r\", domain=\"/a  /b http://h.invalid/c\", "
                               "nonce=\"n\", stale=TRUE, algorithm=\"md5\", qop=\"auth\""}));
  EXPECT_EQ(scheme.NextStep(), TIdAuthWhatsNext::SendAgain);
  EXPECT_EQ(scheme.RealmValue(), QStringLiteral("r"));
  EXPECT_EQ(scheme.NonceValue(), QStringLiteral("n"));
  EXPECT_EQ(scheme.DomainList(), QStringList({"/a", "/b", "http://h.invalid/c"}));
  EXPECT_TRUE(scheme.StaleFlag());
  EXPECT_EQ(scheme.AlgorithmName(), QStringLiteral("md5"));
  EXPECT_EQ(scheme.QopValues(), QStringList({"auth"}));
  EXPECT_EQ(scheme.OpaqueValue(), QString());
  const QString answer = scheme.AuthorizationValue();
  EXPECT_FALSE(answer.contains(QStringLiteral("opaque=")));
  EXPECT_EQ(AnswerParam(answer, u"algorithm"), QStringLiteral("md5"));

  // The next challenge replaces the lists rather than adding to them.
  scheme.SetChallenges(ListOf({"Digest realm=\"r\", nonce=\"n\", algorithm=MD5"}));
  scheme.NextStep();
  EXPECT_TRUE(scheme.DomainList().isEmpty());
  EXPECT_TRUE(scheme.QopValues().isEmpty());
  EXPECT_FALSE(scheme.StaleFlag());
}

TEST(Digest, QuotesInValuesAreEscapedButHashedAsTheyAre) {
  FixedNonceDigest scheme;
  scheme.SetUsername(QStringLiteral("Mu\"fasa"));
  scheme.SetPassword(QStringLiteral("pw"));
  scheme.SetRequestMethod(QStringLiteral("GET"));
  scheme.SetRequestUri(QStringLiteral("/"));
  scheme.SetChallenges(ListOf({"Digest realm=\"r\", nonce=\"n\", algorithm=MD5"}));
  scheme.NextStep();
  const QString answer = scheme.AuthorizationValue();
  EXPECT_TRUE(answer.contains(QStringLiteral("username=\"Mu\\\"fasa\""))) << answer.toStdString();
  EXPECT_EQ(AnswerParam(answer, u"username"), QStringLiteral("Mu\"fasa"));
  EXPECT_EQ(AnswerParam(answer, u"response"), QStringLiteral("5db3e065b5d284db3adee012e593204e"));
}

TEST(Digest, WithoutUserNameAsksForCredentialsThenAnswers) {
  TIdDigestAuthentication scheme;
  scheme.SetChallenges(ListOf({"Digest realm=\"r\", nonce=\"n\", algorithm=MD5"}));
  EXPECT_EQ(scheme.NextStep(), TIdAuthWhatsNext::NeedCredentials);
  EXPECT_EQ(scheme.StepIndex(), 1);
  EXPECT_EQ(scheme.NextStep(), TIdAuthWhatsNext::SendAgain);
}

class DigestAlgorithm : public testing::TestWithParam<const char*> {};

TEST_P(DigestAlgorithm, AnythingButMd5Raises) {
  TIdDigestAuthentication scheme;
  scheme.SetUsername(QStringLiteral("u"));
  scheme.SetChallenges(ListOf(
      {QStringLiteral("Digest realm=\"r\", nonce=\"n\"") + QString::fromLatin1(GetParam())}));
  try {
    scheme.NextStep();
    FAIL() << "no exception";
  } catch (const EIdInvalidAlgorithm& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("Unsupported hash algorithm. This implementation "
                                          "supports only MD5 encoding."));
  }
  EXPECT_EQ(scheme.StepIndex(), 0);
  EXPECT_EQ(scheme.AuthorizationValue(), QStringLiteral("Digest"));
}

INSTANTIATE_TEST_SUITE_P(Challenges, DigestAlgorithm,
                         testing::Values("", ", algorithm=SHA-256", ", algorithm=MD5-sess",
                                         ", algorithm=\"\""));

TEST(Md5Hex, KnownDigests) {
  EXPECT_EQ(Md5Hex(u""), QStringLiteral("d41d8cd98f00b204e9800998ecf8427e"));
  EXPECT_EQ(Md5Hex(u"abc"), QStringLiteral("900150983cd24fb0d6963f7d28e17f72"));
  // Characters outside ASCII count as "?".
  EXPECT_EQ(Md5Hex(u"\u00e9"), Md5Hex(u"?"));
}

// --- Registry -------------------------------------------------------------------------------

class CustomScheme : public TIdAuthentication {
public:
  static constexpr const char* kClassName = "CustomScheme";
  QString AuthorizationValue() override { return QStringLiteral("Custom"); }

protected:
  TIdAuthWhatsNext Next() override { return TIdAuthWhatsNext::SendAgain; }
};

TEST(AuthRegistry, BuiltInSchemesFoundWithoutRegardToCase) {
  EXPECT_EQ(FindAuthScheme(u"basic"), TIdAuthenticationClass::Of<TIdBasicAuthentication>());
  EXPECT_EQ(FindAuthScheme(u"DIGEST"), TIdAuthenticationClass::Of<TIdDigestAuthentication>());
  EXPECT_EQ(FindAuthScheme(u"Ntlm"), TIdAuthenticationClass::Of<TIdNTLMAuthentication>());
  EXPECT_FALSE(FindAuthScheme(u"Negotiate"));
  EXPECT_FALSE(FindAuthScheme(u""));
  EXPECT_NE(dynamic_cast<TIdDigestAuthentication*>(FindAuthScheme(u"Digest").Create().get()),
            nullptr);
}

TEST(AuthRegistry, SecondRegistrationNamesTheClassAlreadyThere) {
  try {
    RegisterAuthScheme(QStringLiteral("bASIC"), TIdAuthenticationClass::Of<CustomScheme>());
    FAIL() << "no exception";
  } catch (const EIdAlreadyRegisteredAuthenticationMethod& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("This authentication method is already registered "
                                          "with class name TIdBasicAuthentication."));
  }
  EXPECT_EQ(FindAuthScheme(u"Basic"), TIdAuthenticationClass::Of<TIdBasicAuthentication>());
}

TEST(AuthRegistry, RegisterAndUnregister) {
  RegisterAuthScheme(QStringLiteral("Custom"), TIdAuthenticationClass::Of<CustomScheme>());
  EXPECT_EQ(FindAuthScheme(u"custom").ClassName(), QStringLiteral("CustomScheme"));
  EXPECT_THROW(
      RegisterAuthScheme(QStringLiteral("CUSTOM"), TIdAuthenticationClass::Of<CustomScheme>()),
      EIdAlreadyRegisteredAuthenticationMethod);
  UnregisterAuthScheme(u"CUSTOM");
  EXPECT_FALSE(FindAuthScheme(u"Custom"));
  UnregisterAuthScheme(u"Custom");
  EXPECT_TRUE(FindAuthScheme(u"Basic"));
}

} // namespace
