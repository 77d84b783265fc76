// Credentials against two loopback servers on different ports, that is two origins: what each
// server receives of the credentials given for the other, across redirects and later calls.

#include "http/IdHTTP.h"

#include "tests/support/QtPrinters.h"
#include "tests/support/ScriptedHTTPServer.h"

#include <gtest/gtest.h>

namespace {

using testsupport::Reply;
using testsupport::Response;
using testsupport::ScriptedHTTPServer;

const QByteArray kBasic401 =
    Response("HTTP/1.1 401 Unauthorized", "who are you", "WWW-Authenticate: Basic realm=\"x\"\r\n");
const QByteArray kDigest401 =
    Response("HTTP/1.1 401 Unauthorized", "who are you",
             "WWW-Authenticate: Digest realm=\"x\", nonce=\"n\", qop=\"auth\", algorithm=MD5\r\n");
const QByteArray kAliceBasic = "Basic YWxpY2U6c2VjcmV0";

Reply Ok(const QByteArray& body = "ok") {
  return Reply{Response("HTTP/1.1 200 OK", body)};
}

Reply Redirect(const QString& location) {
  return Reply{Response("HTTP/1.1 302 Found", {}, "Location: " + location.toLatin1() + "\r\n")};
}

// A server that answers with a Basic challenge unless the request carries an Authorization line.
Reply Guarded(const QByteArray& head) {
  return head.contains("\r\nAuthorization: ") ? Ok("welcome") : Reply{kBasic401};
}

int StatusOfGet(TIdHTTP& client, const QString& address) {
  try {
    client.Get(address);
    return 200;
  } catch (const EIdHTTPProtocolException& e) {
    return e.ReplyCode();
  }
}

class CredentialScope : public testing::Test {
protected:
  CredentialScope() {
    client_.SetHandleRedirects(true);
    client_.SetHTTPOptions(hoInProcessAuth);
  }
  void GiveAlice() {
    client_.Request().SetUsername(QStringLiteral("alice"));
    client_.Request().SetPassword(QStringLiteral("secret"));
  }
  TIdHTTP client_;
};

TEST_F(CredentialScope, ARedirectToAnotherOriginCarriesNoneAndIsNotAnswered) {
  ScriptedHTTPServer other([](const QByteArray& head, int) { return Guarded(head); });
  ScriptedHTTPServer home({Reply{kBasic401}, Redirect(other.Url("/elsewhere"))});
  GiveAlice();
  EXPECT_EQ(StatusOfGet(client_, home.Url("/start")), 401);
  EXPECT_EQ(home.Header(1, "Authorization"), kAliceBasic);
  ASSERT_EQ(other.Heads().size(), 1);
  EXPECT_EQ(other.Header(0, "Authorization"), QByteArray());
}

TEST_F(CredentialScope, CredentialsFromAnAddressStayWithItsOriginInLaterCalls) {
  ScriptedHTTPServer home([](const QByteArray& head, int) { return Guarded(head); });
  ScriptedHTTPServer other([](const QByteArray& head, int) { return Guarded(head); });
  const QString withBob = home.Url("/a").replace(QStringLiteral("//"), QStringLiteral("//bob:pw@"));
  EXPECT_EQ(client_.Get(withBob), QStringLiteral("welcome"));
  EXPECT_EQ(StatusOfGet(client_, other.Url("/b")), 401);
  ASSERT_EQ(other.Heads().size(), 1);
  EXPECT_EQ(other.Header(0, "Authorization"), QByteArray());
  // Back at their origin they still serve.
  EXPECT_EQ(client_.Get(home.Url("/c")), QStringLiteral("welcome"));
  EXPECT_EQ(home.Header(2, "Authorization"), QByteArray("Basic Ym9iOnB3"));
}

TEST_F(CredentialScope, CredentialsSetForALaterCallGoToThatCallsOrigin) {
  ScriptedHTTPServer home([](const QByteArray& head, int) { return Guarded(head); });
  ScriptedHTTPServer other([](const QByteArray& head, int) { return Guarded(head); });
  GiveAlice();
  EXPECT_EQ(client_.Get(home.Url("/a")), QStringLiteral("welcome"));
  client_.Request().SetUsername(QStringLiteral("carol"));
  EXPECT_EQ(client_.Get(other.Url("/b")), QStringLiteral("welcome"));
  EXPECT_EQ(other.Header(1, "Authorization"), QByteArray("Basic Y2Fyb2w6c2VjcmV0"));
}

TEST_F(CredentialScope, ARedirectTargetsUserPartNeverBecomesCredentials) {
  ScriptedHTTPServer home([&home](const QByteArray& head, int index) {
    if (index == 0) {
      return Redirect(
          home.Url("/next").replace(QStringLiteral("//"), QStringLiteral("//mallory:pw@")));
    }
    return Guarded(head);
  });
  GiveAlice();
  EXPECT_EQ(client_.Get(home.Url("/a")), QStringLiteral("welcome"));
  EXPECT_EQ(home.Header(2, "Authorization"), kAliceBasic);
  EXPECT_EQ(client_.Request().Username(), QStringLiteral("alice"));
}

TEST_F(CredentialScope, AChallengeThatOffersOnlyDigestGetsNoBasicAnswer) {
  ScriptedHTTPServer home({Reply{kBasic401}, Ok("welcome"), Reply{kDigest401}, Ok("digest")});
  GiveAlice();
  EXPECT_EQ(client_.Get(home.Url("/a")), QStringLiteral("welcome"));
  EXPECT_EQ(client_.Get(home.Url("/b")), QStringLiteral("digest"));
  ASSERT_EQ(home.Heads().size(), 4);
  EXPECT_TRUE(home.Header(3, "Authorization").startsWith("Digest "))
      << home.Header(3, "Authorization").constData();
}

TEST_F(CredentialScope, APreparedAnswerNotSentWithinTheCallLeavesTheCallRefused) {
  ScriptedHTTPServer home([](const QByteArray& head, int) { return Guarded(head); });
  client_.SetHTTPOptions({});
  GiveAlice();
  EXPECT_EQ(StatusOfGet(client_, home.Url("/a")), 401);
  EXPECT_EQ(client_.Get(home.Url("/a")), QStringLiteral("welcome"));
}

TEST_F(CredentialScope, ProxyCredentialsNeverGoStraightToAServer) {
  ScriptedHTTPServer home({Ok()});
  TIdProxyConnectionInfo& proxy = client_.ProxyParams();
  proxy.SetProxyUsername(QStringLiteral("p"));
  proxy.SetProxyPassword(QStringLiteral("q"));
  proxy.SetBasicAuthentication(true);
  client_.Get(home.Url());
  EXPECT_EQ(home.Header(0, "Proxy-Authorization"), QByteArray());
}

} // namespace
