#include "http/IdURI.h"

#include <gtest/gtest.h>

#include <ostream>

namespace {

// Every part of a parsed address, so that one comparison shows all differences at once.
struct Parts {
  QString scheme, user, password, host, port, directory, fileName, query, fragment;
  TIdIPVersion ipVersion = Id_IPv4;

  bool operator==(const Parts&) const = default;
};

Parts PartsOf(const TIdURI& uri) {
  return {uri.Scheme(),    uri.UserPart(), uri.PasswordPart(), uri.HostPart(), uri.PortPart(),
          uri.Directory(), uri.FileName(), uri.Query(),        uri.Fragment(), uri.IPVersion()};
}

void PrintTo(const Parts& p, std::ostream* os) {
  *os << "{scheme '" << p.scheme.toStdString() << "' user '" << p.user.toStdString()
      << "' password '" << p.password.toStdString() << "' host '" << p.host.toStdString()
      << "' port '" << p.port.toStdString() << "' dir '" << p.directory.toStdString() << "' file '"
      << p.fileName.toStdString() << "' query '" << p.query.toStdString() << "' fragment '"
      << p.fragment.toStdString() << "' " << (p.ipVersion == Id_IPv6 ? "IPv6" : "IPv4") << "}";
}

struct ParseCase {
  const char16_t* address;
  Parts expected;
};

void PrintTo(const ParseCase& c, std::ostream* os) {
  *os << QString::fromUtf16(c.address).toStdString();
}

class URIParse : public testing::TestWithParam<ParseCase> {};

TEST_P(URIParse, SplitsIntoParts) {
  const ParseCase& c = GetParam();
  EXPECT_EQ(PartsOf(TIdURI(QStringView(c.address))), c.expected);
}

// Field order: scheme, user, password, host, port, directory, file name, query, fragment.
INSTANTIATE_TEST_SUITE_P(
    Absolute, URIParse,
    testing::Values(
        ParseCase{u"http://photos.test:8080/a/b/page.html?x=1",
                  {"http", "", "", "photos.test", "8080", "/a/b/", "page.html", "x=1", ""}},
        ParseCase{u"http://photos.test:8080/a/b/page.html#top",
                  {"http", "", "", "photos.test", "8080", "/a/b/", "page.html", "", "top"}},
        ParseCase{u"http://photos.test", {"http", "", "", "photos.test", "", "/", "", "", ""}},
        ParseCase{u"http://photos.test/a/b/",
                  {"http", "", "", "photos.test", "", "/a/b/", "", "", ""}},
        ParseCase{u"HTTPS://Photos.Test/p", {"HTTPS", "", "", "Photos.Test", "", "/", "p", "", ""}},
        // With a "?", a fragment belongs to the query and goes into the request target.
        ParseCase{u"http://h/p?x=1#top", {"http", "", "", "h", "", "/", "p", "x=1#top", ""}},
        ParseCase{u"http://h/p?a=1?b=2", {"http", "", "", "h", "", "/", "p", "a=1?b=2", ""}},
        ParseCase{u"http://h?x=1", {"http", "", "", "h", "", "/", "", "x=1", ""}},
        // Without a "?", the first "=" anywhere after the scheme starts the query.
        ParseCase{u"http://h/a/p.cgi=5#f", {"http", "", "", "h", "", "/a/", "p.cgi", "5#f", ""}},
        ParseCase{u"http://h/a=b/c", {"http", "", "", "h", "", "/", "a", "b/c", ""}},
        ParseCase{u"http://u:p=w@h/x", {"http", "", "", "u", "p", "/", "", "w@h/x", ""}},
        // "#" splits the last segment only.
        ParseCase{u"http://h/a#b/c", {"http", "", "", "h", "", "/a#b/", "c", "", ""}},
        ParseCase{u"http://h/#", {"http", "", "", "h", "", "/", "", "", ""}},
        ParseCase{u"http://h/f#a#b", {"http", "", "", "h", "", "/", "f", "", "a#b"}}));

INSTANTIATE_TEST_SUITE_P(
    Credentials, URIParse,
    testing::Values(ParseCase{u"http://user:secret@h:81/d/",
                              {"http", "user", "secret", "h", "81", "/d/", "", "", ""}},
                    ParseCase{u"http://:secret@h/", {"http", "", "", "h", "", "/", "", "", ""}},
                    ParseCase{u"http://user@h/", {"http", "user", "", "h", "", "/", "", "", ""}},
                    ParseCase{u"http://user:@h/", {"http", "user", "", "h", "", "/", "", "", ""}},
                    ParseCase{u"http://user:a:b@h/",
                              {"http", "user", "a:b", "h", "", "/", "", "", ""}},
                    ParseCase{u"http://u@v@h/", {"http", "u", "", "v@h", "", "/", "", "", ""}},
                    ParseCase{u"http://h/x@y", {"http", "", "", "h", "", "/", "x@y", "", ""}}));

INSTANTIATE_TEST_SUITE_P(
    Brackets, URIParse,
    testing::Values(
        ParseCase{u"http://[::1]:8080/x",
                  {"http", "", "", "::1", "8080", "/", "x", "", "", Id_IPv6}},
        ParseCase{u"http://[fe80::1:2]/",
                  {"http", "", "", "fe80::1:2", "", "/", "", "", "", Id_IPv6}},
        ParseCase{u"http://u:p@[::1]:1/", {"http", "u", "p", "::1", "1", "/", "", "", "", Id_IPv6}},
        ParseCase{u"http://[::1]x:9/", {"http", "", "", "::1", "9", "/", "", "", "", Id_IPv6}},
        // A "]" before the "[" (or none at all) is no bracketed host.
        ParseCase{u"http://a]b[c:7/", {"http", "", "", "a]b[c", "7", "/", "", "", ""}},
        ParseCase{u"http://[::1/", {"http", "", "", "[", ":1", "/", "", "", ""}}));

INSTANTIATE_TEST_SUITE_P(
    Relative, URIParse,
    testing::Values(ParseCase{u"a/b/c.html?x=1", {"", "", "", "", "", "a/b/", "c.html", "x=1", ""}},
                    ParseCase{u"page.html", {"", "", "", "", "", "", "page.html", "", ""}},
                    ParseCase{u"/abs/p#frag", {"", "", "", "", "", "/abs/", "p", "", "frag"}},
                    ParseCase{u"?q", {"", "", "", "", "", "", "", "q", ""}},
                    ParseCase{u"../up/x=1/y", {"", "", "", "", "", "../up/", "x", "1/y", ""}},
                    ParseCase{u"photos.test:80/p",
                              {"", "", "", "", "", "photos.test:80/", "p", "", ""}},
                    ParseCase{u"", {"", "", "", "", "", "", "", "", ""}}));

// Backslashes read as slashes everywhere, before any other rule runs.
INSTANTIATE_TEST_SUITE_P(
    Backslashes, URIParse,
    testing::Values(ParseCase{u"http:\\\\h\\a\\b.html",
                              {"http", "", "", "h", "", "/a/", "b.html", "", ""}},
                    ParseCase{u"http://h/p?a=\\x", {"http", "", "", "h", "", "/", "p", "a=/x", ""}},
                    ParseCase{u"\\dir\\f", {"", "", "", "", "", "/dir/", "f", "", ""}}));

// Nothing is encoded or decoded: spaces, "%", "+" and non-ASCII letters stay as typed.
INSTANTIATE_TEST_SUITE_P(Unencoded, URIParse,
                         testing::Values(ParseCase{
                             u"http://h/\u00fc x%20+/f\u00e9.html?q=a b+%41",
                             {"http", "", "", "h", "", QStringLiteral("/\u00fc x%20+/"),
                              QStringLiteral("f\u00e9.html"), "q=a b+%41", ""}}));

TEST(URIParse, ReplacesEveryPartAndTheIPVersion) {
  TIdURI uri(u"http://u:p@[::1]:8080/a/b?x#y");
  uri.SetAddressText(u"page.html");
  EXPECT_EQ(PartsOf(uri), (Parts{"", "", "", "", "", "", "page.html", "", ""}));
}

TEST(URIParse, AcceptsItsOwnPartAsInput) {
  TIdURI uri(u"http://h/d/f?http://other:81/x/y#z");
  uri.SetAddressText(uri.Query());
  EXPECT_EQ(PartsOf(uri), (Parts{"http", "", "", "other", "81", "/x/", "y", "", "z"}));
}

TEST(URIParts, AssigningOnePartLeavesTheOthers) {
  TIdURI uri(u"http://h:81/d/f?q#x");
  uri.SetHostPart(QStringLiteral("other"));
  uri.SetQuery(QString());
  EXPECT_EQ(PartsOf(uri), (Parts{"http", "", "", "other", "81", "/d/", "f", "", ""}));
  EXPECT_EQ(uri.AddressText(), u"http://other:81/d/f");
}

TEST(SlashBackslashes, TurnsEveryBackslashAndKeepsSurrogatePairs) {
  // U+1F600 is the pair D83D DE00; a lone high surrogate before a backslash must not hide it.
  const QString text = QString::fromUtf16(u"a\\\U0001F600\\b\xD83D\\c\\\\");
  EXPECT_EQ(SlashBackslashes(text), QString::fromUtf16(u"a/\U0001F600/b\xD83D/c//"));
  EXPECT_EQ(SlashBackslashes(u""), u"");
}

struct ComposeCase {
  const char16_t* address;
  TIdURIOptions options;
  const char16_t* expected;
};

void PrintTo(const ComposeCase& c, std::ostream* os) {
  *os << QString::fromUtf16(c.address).toStdString() << " options " << c.options.toInt();
}

class URICompose : public testing::TestWithParam<ComposeCase> {};

TEST_P(URICompose, RebuildsTheAddress) {
  const ComposeCase& c = GetParam();
  EXPECT_EQ(TIdURI(QStringView(c.address)).ComposeAddress(c.options),
            QString::fromUtf16(c.expected));
}

INSTANTIATE_TEST_SUITE_P(DefaultPorts, URICompose,
                         testing::Values(ComposeCase{u"http://h:80/p", {}, u"http://h/p"},
                                         ComposeCase{u"HTTP://h:80/p", {}, u"HTTP://h/p"},
                                         ComposeCase{u"HTTPS://h:443/p", {}, u"HTTPS://h/p"},
                                         ComposeCase{u"ftp://h:21/p", {}, u"ftp://h/p"},
                                         ComposeCase{u"http://h:443/p", {}, u"http://h:443/p"},
                                         ComposeCase{u"https://h:80/p", {}, u"https://h:80/p"},
                                         ComposeCase{u"http://h:080/p", {}, u"http://h:080/p"},
                                         ComposeCase{u"gopher://h:70/p", {}, u"gopher://h:70/p"},
                                         ComposeCase{u"http://h:8080", {}, u"http://h:8080/"}));

INSTANTIATE_TEST_SUITE_P(
    Options, URICompose,
    testing::Values(ComposeCase{u"http://u:pw@h/d/f#frag", {}, u"http://h/d/f"},
                    ComposeCase{u"http://u:pw@h/d/f#frag", IncludeCredentials,
                                u"http://u:pw@h/d/f"},
                    ComposeCase{u"http://u:pw@h/d/f#frag", IncludeFragment, u"http://h/d/f#frag"},
                    ComposeCase{u"http://u:pw@h/d/f#frag", IncludeCredentials | IncludeFragment,
                                u"http://u:pw@h/d/f#frag"},
                    ComposeCase{u"http://u@h/", IncludeCredentials, u"http://u@h/"},
                    ComposeCase{u"http://:pw@h/", IncludeCredentials, u"http://h/"},
                    ComposeCase{u"http://h/f?q=1#x", IncludeFragment, u"http://h/f?q=1#x"},
                    ComposeCase{u"http://[::1]:8080/x", {}, u"http://[::1]:8080/x"},
                    ComposeCase{u"http://[::1]:80/x", {}, u"http://[::1]/x"},
                    ComposeCase{u"http://h/\u00fc x%41+?a b", {}, u"http://h/\u00fc x%41+?a b"}));

struct MissingCase {
  const char16_t* address;
  const char16_t* message;
};

class URIComposeRefuses : public testing::TestWithParam<MissingCase> {};

TEST_P(URIComposeRefuses, WithoutSchemeOrHost) {
  const TIdURI uri(QStringView(GetParam().address));
  for (const TIdURIOptions options : {TIdURIOptions(), IncludeCredentials | IncludeFragment}) {
    try {
      uri.ComposeAddress(options);
      ADD_FAILURE() << "no exception";
    } catch (const EIdURIException& e) {
      EXPECT_EQ(e.Message(), QString::fromUtf16(GetParam().message));
    }
  }
  EXPECT_THROW(uri.AddressText(), EIdURIException);
}

INSTANTIATE_TEST_SUITE_P(Table, URIComposeRefuses,
                         testing::Values(MissingCase{u"", u"Protocol field is empty"},
                                         MissingCase{u"/d/page.html", u"Protocol field is empty"},
                                         MissingCase{u"http://", u"Host field is empty"},
                                         MissingCase{u"http://u:p@:8080/x",
                                                     u"Host field is empty"}));

class URIRoundTrip : public testing::TestWithParam<const char16_t*> {};

// Parsing the full rebuilt form gives the parts back, IPv6 hosts included.
TEST_P(URIRoundTrip, ComposedAddressParsesToTheSameParts) {
  const TIdURI first{QStringView(GetParam())};
  const TIdURI second(first.ComposeAddress(IncludeCredentials | IncludeFragment));
  Parts expected = PartsOf(first);
  if (TextIsSame(expected.scheme, u"http") && expected.port == u"80") {
    expected.port.clear();
  }
  EXPECT_EQ(PartsOf(second), expected);
}

INSTANTIATE_TEST_SUITE_P(Table, URIRoundTrip,
                         testing::Values(u"http://h/", u"http://user:pw@h:81/a/b/c.html?x=1#y",
                                         u"http://[::1]:8080/x/", u"http://u:p@[fe80::2]/f#top",
                                         u"http://[::1]:80/d/f", u"https://h:8443/?q",
                                         u"http://h/\u00e9/ x"));

TEST(PathAndQuery, IsTheRequestTargetAsTyped) {
  EXPECT_EQ(TIdURI(u"http://h").PathAndQuery(), u"/");
  EXPECT_EQ(TIdURI(u"http://h/a/b/").PathAndQuery(), u"/a/b/");
  EXPECT_EQ(TIdURI(u"http://h/a/f#top").PathAndQuery(), u"/a/f");
  EXPECT_EQ(TIdURI(u"http://h/a/f?x=1#top").PathAndQuery(), u"/a/f?x=1#top");
  EXPECT_EQ(TIdURI(u"http://h/\u00e9 t/f x?a=%20+b").PathAndQuery(), u"/\u00e9 t/f x?a=%20+b");
  EXPECT_EQ(TIdURI().PathAndQuery(), u"");
}

struct MergeCase {
  const char16_t* base;
  const char16_t* path;
  const char16_t* expected;
};

void PrintTo(const MergeCase& c, std::ostream* os) {
  *os << "'" << QString::fromUtf16(c.base).toStdString() << "' + '"
      << QString::fromUtf16(c.path).toStdString() << "'";
}

class MergePathTest : public testing::TestWithParam<MergeCase> {};

TEST_P(MergePathTest, ResolvesAgainstTheBase) {
  const MergeCase& c = GetParam();
  EXPECT_EQ(MergePath(c.base, c.path), QString::fromUtf16(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Table, MergePathTest,
    testing::Values(
        MergeCase{u"a/b/", u"../c", u"a/c"}, MergeCase{u"/a/b/", u"../c", u"/a/c"},
        MergeCase{u"/a/b/c/", u"../../d/", u"/a/d/"}, MergeCase{u"/a/b/", u"../../../c", u"/c"},
        MergeCase{u"/", u"../c", u"/c"}, MergeCase{u"/a/b/", u"./c", u"/a/b/./c"},
        MergeCase{u"/a/b/", u"c/./d/", u"/a/b/c/./d/"}, MergeCase{u"/a//b/", u"c//d", u"/a/b/c/d"},
        MergeCase{u"//a", u"b///", u"/a/b/"}, MergeCase{u"/a/b", u"c", u"/a/b/c"},
        MergeCase{u"/a/b/", u"c/", u"/a/b/c/"}, MergeCase{u"/a/b/", u"", u"/a/b/"},
        MergeCase{u"/a/b/", u"..", u"/a"}, MergeCase{u"/a/", u"..", u"/"},
        MergeCase{u"a", u"b", u"a/b"}, MergeCase{u"", u"", u""}, MergeCase{u"", u"x/", u"x/"},
        // An absolute path is taken as it stands, dot segments and all.
        MergeCase{u"/a/b/", u"/x/../y", u"/x/../y"}, MergeCase{u"/a/", u"/", u"/"},
        // ".." at the start of a relative result stays as text.
        MergeCase{u"", u"../c", u"../c"}, MergeCase{u"..", u"x", u"../x"}));

} // namespace
