// marquelo-get: fetches addresses with Marquelo's HTTP client, set up exactly as the window sets
// up its own, for diagnostics and benchmarks. One client serves every address given, so later
// ones reuse the connection, the current address and the cookies of earlier ones.
//
// Exit status: 0 when every address was fetched, 1 for an HTTP status error, 2 for any other
// failure, 64 for a command line that cannot be understood.

#include "app/BuildConfig.h"
#include "app/DesktopProxy.h"
#include "app/PageClient.h"
#include "http/IdHTTP.h"
#include "net/IdGlobal.h"
#include "net/IdIntercept.h"
#include "net/IdResourceStrings.h"
#include "net/IdTLSIOHandler.h"

#include <QFile>
#include <QStringList>

#include <cstdio>
#include <exception>
#include <optional>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitStatusError = 1;
constexpr int kExitFailure = 2;
constexpr int kExitUsage = 64;

constexpr const char* kUsage = R"(Usage: marquelo-get [options] URL [URL ...]

Fetches each URL in order with one client: later URLs reuse the connection, the cookies and
the current address of earlier ones (a relative URL applies to the previous one). Without -o,
each body is written to standard output as text, decoded by its character set, in UTF-8.

Options:
  -o FILE               write each body's bytes to FILE ("/dev/null" discards them)
  -i                    before each body, write the final response's status line and header
                        lines and an empty line to standard output
  --max-redirects N     the redirect limit (default 15: the 15th redirect is not followed)
  --no-follow           do not follow redirects (a redirect is then an error)
  --http1.0             send HTTP/1.0 requests
  --connect-timeout MS  give up connecting after MS milliseconds (default 15000, as in the
                        window; 0 waits as long as the system's connect does)
  --read-timeout MS     give up waiting for data after MS milliseconds (default 30000, as in
                        the window; 0 waits without limit)
  --max-time MS         give up on an address after MS milliseconds in all, its redirects
                        and retries included (default 60000, as in the window; 0: no limit)
  -H "Name: value"      add a request header (repeatable); a header the client writes
                        itself keeps the client's value
  -u USER:PASSWORD      credentials for servers that ask (Basic or Digest)
  --cacert FILE         trust only the certificates in the PEM file FILE for https, in place
                        of the system's trusted certificates (or those SSL_CERT_FILE names)
  --proxy URL           use the proxy http://[USER:PASSWORD@]HOST[:PORT] (port 1080 when
                        none is written) for every address, in place of the environment's
                        and the desktop's; an empty URL turns the proxy off
  --noproxy LIST        hosts reached directly, in place of no_proxy: comma-separated names
                        (each covers the names under it), IP addresses, or "*" for all
  -v                    report connection status, redirects, each request head and what
                        each TLS handshake agreed on (version, cipher, the certificate's
                        subject and issuer) on standard error
  --cookies             after the last URL, write each stored cookie on standard error
  --version             print the version and exit
  --help                print this help and exit

Without --proxy, http addresses go through http_proxy, https addresses through https_proxy
(or HTTPS_PROXY), either through all_proxy (or ALL_PROXY) when its own is not set, except for
the hosts in no_proxy (or NO_PROXY). When no variable covers the address's scheme, the
desktop's proxy settings (GNOME's or KDE's, or their proxy auto-config file) choose; else it
goes direct. https addresses go through a CONNECT tunnel.

https certificates are always verified: the chain against the system's trusted certificates
(SSL_CERT_FILE or SSL_CERT_DIR name others) or those of --cacert, and the host against the
names the certificate holds. There is no way to skip the check.

Exit status: 0 all fetched, 1 HTTP status error, 2 other failure, 64 bad usage.
)";

struct Options {
  QString outputFile;
  bool includeHeaders = false;
  std::optional<int32_t> maxRedirects;
  bool noFollow = false;
  bool http10 = false;
  std::optional<int32_t> connectTimeout;
  std::optional<int32_t> readTimeout;
  std::optional<int32_t> maxTime;
  QStringList headers;
  std::optional<QString> credentials;
  QString trustedCertificates;
  std::optional<QString> proxy;
  std::optional<QString> noProxy;
  bool verbose = false;
  bool listCookies = false;
  bool help = false;
  bool version = false;
  QStringList urls;
};

struct UsageError {
  QString problem;
};

void WriteOut(FILE* file, const QString& text) {
  const QByteArray bytes = text.toUtf8();
  std::fwrite(bytes.constData(), 1, size_t(bytes.size()), file);
}

int32_t NumberArgument(const QString& option, const QString& text) {
  // Decimal digits, with blanks around them as a shell may leave.
  const std::optional<int32_t> value = TextToInt32(Trim(text), IntegerSyntax::Decimal);
  if (!value || *value < 0) {
    throw UsageError{
        QStringLiteral("%1 needs a number of 0 or more, not \"%2\"").arg(option, text)};
  }
  return *value;
}

Options ParseArguments(const QStringList& arguments) {
  Options options;
  bool optionsEnd = false;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
    if (optionsEnd || !argument.startsWith(u'-') || argument == u"-") {
      options.urls << argument;
      continue;
    }
    const auto value = [&]() -> QString {
      if (i + 1 >= arguments.size()) {
        throw UsageError{QStringLiteral("%1 needs a value").arg(argument)};
      }
      return arguments[++i];
    };
    if (argument == u"--") {
      optionsEnd = true;
    } else if (argument == u"-o") {
      options.outputFile = value();
    } else if (argument == u"-i") {
      options.includeHeaders = true;
    } else if (argument == u"--max-redirects") {
      options.maxRedirects = NumberArgument(argument, value());
    } else if (argument == u"--no-follow") {
      options.noFollow = true;
    } else if (argument == u"--http1.0") {
      options.http10 = true;
    } else if (argument == u"--connect-timeout") {
      options.connectTimeout = NumberArgument(argument, value());
    } else if (argument == u"--read-timeout") {
      options.readTimeout = NumberArgument(argument, value());
    } else if (argument == u"--max-time") {
      options.maxTime = NumberArgument(argument, value());
    } else if (argument == u"-H") {
      const QString header = value();
      if (header.indexOf(u':') < 1) {
        throw UsageError{QStringLiteral("-H needs \"Name: value\", not \"%1\"").arg(header)};
      }
      options.headers << header;
    } else if (argument == u"-u") {
      options.credentials = value();
    } else if (argument == u"--cacert") {
      options.trustedCertificates = value();
    } else if (argument == u"--proxy") {
      options.proxy = value();
    } else if (argument == u"--noproxy") {
      options.noProxy = value();
    } else if (argument == u"-v") {
      options.verbose = true;
    } else if (argument == u"--cookies") {
      options.listCookies = true;
    } else if (argument == u"--help") {
      options.help = true;
    } else if (argument == u"--version") {
      options.version = true;
    } else {
      throw UsageError{QStringLiteral("unknown option %1").arg(argument)};
    }
  }
  if (!options.help && !options.version && options.urls.isEmpty()) {
    throw UsageError{QStringLiteral("no URL given")};
  }
  return options;
}

// The environment's proxy choice as the options change it, and the desktop's settings where
// neither has a say, as in the window. Raises EIdProxyAddressInvalid for a --proxy address that
// cannot be used.
TIdProxySettings ProxySettings(const Options& options) {
  TIdProxySettings settings = TIdProxySettings::FromEnvironment();
  settings.SetFallback(DesktopProxyRoutes);
  if (options.proxy) {
    settings.SetProxyForAll(*options.proxy, QStringLiteral("--proxy"));
  }
  if (options.noProxy) {
    settings.SetNoProxy(*options.noProxy);
  }
  return settings;
}

void Configure(TIdHTTP& client, const Options& options) {
  ConfigurePageClient(client, ProxySettings(options));
  if (options.maxRedirects) {
    client.SetRedirectMaximum(*options.maxRedirects);
  }
  if (options.noFollow) {
    client.SetHandleRedirects(false);
  }
  if (options.http10) {
    client.SetProtocolVersion(pv1_0);
  }
  if (options.connectTimeout) {
    client.SetConnectTimeout(*options.connectTimeout);
  }
  if (options.readTimeout) {
    client.SetReadTimeout(*options.readTimeout);
  }
  if (options.maxTime) {
    client.SetCallTimeout(*options.maxTime);
  }
  for (const QString& header : options.headers) {
    client.Request().CustomHeaders().Add(header);
  }
  if (options.credentials) {
    const qsizetype colon = options.credentials->indexOf(u':');
    client.Request().SetUsername(options.credentials->left(colon));
    client.Request().SetPassword(colon < 0 ? QString() : options.credentials->mid(colon + 1));
  }
}

// A peer's text as it may reach a terminal: no byte a server sends can drive the user's
// terminal, and each report stays one line.
QString Printable(QStringView text) {
  return EscapePeerText(text);
}

// A failure's text for the terminal: the library's own line breaks as line breaks (its CR LF
// as one), what a peer sent escaped.
QString FailureText(const Exception& failure) {
  QString text = failure.ShownText();
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return text;
}

// Each line of text on standard error behind prefix.
void ReportLines(const QString& prefix, const QString& text) {
  for (const QString& line : text.split(u'\n', Qt::SkipEmptyParts)) {
    WriteOut(stderr, prefix + Printable(line.endsWith(u'\r') ? line.chopped(1) : line) + u'\n');
  }
}

// What the handler's latest handshake agreed on, once for each handshake: called before each
// request head is reported, so the lines come after the connection's and before its request.
void ReportNewHandshake(const TIdTLSIOHandler& handler, int& reportedHandshakes) {
  if (handler.HandshakeCount() == reportedHandshakes) {
    return;
  }
  reportedHandshakes = handler.HandshakeCount();
  const TIdTLSSessionInfo& session = handler.LastSession();
  ReportLines(QStringLiteral("* "),
              QStringLiteral("TLS %1, cipher %2%3")
                  .arg(session.Version, session.Cipher,
                       session.Resumed ? QStringLiteral(", resumed") : QString()));
  ReportLines(QStringLiteral("* "), QStringLiteral("Certificate subject: ") + session.Subject);
  ReportLines(QStringLiteral("* "), QStringLiteral("Certificate issuer: ") + session.Issuer);
}

void WatchVerbosely(TIdHTTP& client, TIdTLSIOHandler& handler, TIdConnectionIntercept& intercept) {
  client.OnStatus = [](TIdComponent*, TIdStatus, const QString& text) {
    ReportLines(QStringLiteral("* "), text);
  };
  handler.OnStatus = client.OnStatus;
  client.OnRedirect = [](TIdCustomHTTP* sender, QString& dest, int32_t& count, bool& handled,
                         QString&) {
    if (handled && sender->RedirectCounter() < sender->RedirectMaximum()) {
      ReportLines(QStringLiteral("* "), QStringLiteral("Redirect %1 to %2").arg(count).arg(dest));
    }
  };
  intercept.OnSend = [&handler, reported = 0](TIdConnectionIntercept*, QByteArray& bytes) mutable {
    ReportNewHandshake(handler, reported);
    ReportLines(QStringLiteral("> "), QString::fromLatin1(bytes));
  };
  client.SetIntercept(&intercept);
}

void WriteResponseHead(TIdHTTP& client) {
  QString head = Printable(client.CurrentResponse().StatusLine()) + u'\n';
  for (const QString& line : client.CurrentResponse().HeaderLines()) {
    head += Printable(line) + u'\n';
  }
  WriteOut(stdout, head + u'\n');
}

void ListCookies(TIdHTTP& client) {
  TIdCookieManager* manager = client.CookieManager();
  if (!manager) {
    return;
  }
  TIdCookies& cookies = manager->CookieCollection();
  TIdCookieListLock lock(cookies, ReadAccess);
  for (qsizetype i = 0; i < cookies.Count(); ++i) {
    WriteOut(stderr, cookies.Items(i)->CookieTextForm() + u'\n');
  }
}

int Fetch(const Options& options) {
  // Declared before the client, which closes its connection through them as it goes.
  TIdTLSIOHandler handler;
  TIdConnectionIntercept intercept;
  TIdHTTP client;
  handler.SetTrustedCertificatesFile(options.trustedCertificates);
  client.SetIOHandler(&handler);
  Configure(client, options);
  if (options.verbose) {
    WatchVerbosely(client, handler, intercept);
  }

  QFile output(options.outputFile);
  if (!options.outputFile.isEmpty() &&
      !output.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
    throw EIdFileOpenFailed(RSFileOpenFailed().arg(options.outputFile));
  }
  for (const QString& url : options.urls) {
    if (output.isOpen()) {
      client.GetToStream(url, output);
      if (options.includeHeaders) {
        WriteResponseHead(client);
      }
    } else {
      const QString text = client.Get(url);
      if (options.includeHeaders) {
        WriteResponseHead(client);
      }
      WriteOut(stdout, text);
    }
  }
  if (options.listCookies) {
    ListCookies(client);
  }
  return kExitOk;
}

} // namespace

int main(int argc, char* argv[]) {
  QStringList arguments;
  for (int i = 1; i < argc; ++i) {
    arguments << QString::fromLocal8Bit(argv[i]);
  }

  Options options;
  try {
    options = ParseArguments(arguments);
  } catch (const UsageError& error) {
    WriteOut(stderr,
             QStringLiteral("marquelo-get: %1\nTry \"marquelo-get --help\".\n").arg(error.problem));
    return kExitUsage;
  }
  if (options.help) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (options.version) {
    std::printf("marquelo-get %s\n", MARQUELO_VERSION);
    return kExitOk;
  }

  try {
    return Fetch(options);
  } catch (const EIdHTTPProtocolException& e) {
    WriteOut(stderr,
             QStringLiteral("%1: %2 [%3]\n").arg(e.ClassName(), FailureText(e)).arg(e.ReplyCode()));
    return kExitStatusError;
  } catch (const Exception& e) {
    WriteOut(stderr, QStringLiteral("%1: %2\n").arg(e.ClassName(), FailureText(e)));
    return kExitFailure;
  } catch (const std::exception& e) {
    WriteOut(stderr, QStringLiteral("Exception: %1\n").arg(Printable(QString::fromUtf8(e.what()))));
    return kExitFailure;
  }
}
