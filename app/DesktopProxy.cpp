#include "app/DesktopProxy.h"

#include "app/AppResourceStrings.h"

#include <QFileInfo>
#include <QUrl>

#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <poll.h>
#include <proxy.h>
#include <sys/eventfd.h>
#include <unistd.h>

// gio's headers name a struct member "signals", which Qt's keywords would define away.
#undef signals
#include <gio/gio.h>

namespace {

using Clock = std::chrono::steady_clock;

// What the desktop said for one address, as the worker found it.
struct DesktopAnswer {
  // libproxy's entries in its order ("http://host:port", "direct://", "socks5://..."); none
  // when it gave no answer at all.
  std::vector<std::string> entries;
  // The PAC file GNOME's settings name, when they are in automatic mode with a file named.
  std::string pacUrl;
  // GNOME's settings are in manual mode without a host or port for the address's scheme.
  bool manualIncomplete = false;
};

// One query, shared by the caller that waits for it and the worker that answers it, so that
// either may be gone first.
struct Query {
  Q_DISABLE_COPY(Query)
  Query() : done(eventfd(0, EFD_CLOEXEC)) {}
  ~Query() {
    if (done >= 0) {
      close(done);
    }
  }

  std::string address;
  std::string scheme;
  int done; // readable once answer is set
  // Guarded by the worker's lock.
  bool abandoned = false;
  DesktopAnswer answer;
};

// A GObject reference that is let go with its owner.
struct GObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
using SettingsHandle = std::unique_ptr<GSettings, GObjectUnref>;

// The sessions whose settings libproxy reads, told as it tells them: GNOME's by
// GNOME_DESKTOP_SESSION_ID or DESKTOP_SESSION, KDE's by KDE_FULL_SESSION.
bool InGnomeSession() {
  const QString session = qEnvironmentVariable("DESKTOP_SESSION");
  return qEnvironmentVariableIsSet("GNOME_DESKTOP_SESSION_ID") || session == u"gnome" ||
         session == u"gnome-wayland";
}

bool InKdeSession() {
  return qEnvironmentVariableIsSet("KDE_FULL_SESSION");
}

// Outside such a session libproxy answers from the proxy variables alone, HTTP_PROXY and, for
// https, http_proxy among them: variables the environment's own rules have already weighed, and
// refuse for good reasons (a web server sets HTTP_PROXY from a request's header). So there is
// nothing to ask there.
bool InDesktopSession() {
  return InGnomeSession() || InKdeSession();
}

// GNOME's proxy settings, read the way libproxy reads them, for what its answer cannot say by
// itself: which PAC file an answer came from, and why a manual proxy gave none.
class GnomeProxySettings {
public:
  // Opens the settings only in a GNOME session, where they are what libproxy reads, and only
  // where their schemas are installed: GSettings ends the process when asked for a schema or
  // key it does not know.
  GnomeProxySettings() {
    if (!InGnomeSession()) {
      return;
    }
    proxy_ = Open("org.gnome.system.proxy");
    http_ = Open("org.gnome.system.proxy.http");
    https_ = Open("org.gnome.system.proxy.https");
  }

  // Sets answer's pacUrl and manualIncomplete from the settings for an address of scheme.
  void Describe(const std::string& scheme, DesktopAnswer& answer) const {
    const std::string mode = StringKey(proxy_.get(), "mode");
    if (mode == "auto") {
      answer.pacUrl = StringKey(proxy_.get(), "autoconfig-url");
    } else if (mode == "manual") {
      GSettings* own = scheme == "https" ? https_.get() : http_.get();
      answer.manualIncomplete = StringKey(own, "host").empty() || IntKey(own, "port") <= 0;
    }
  }

private:
  static SettingsHandle Open(const char* schemaId) {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (source == nullptr) {
      return {};
    }
    GSettingsSchema* schema = g_settings_schema_source_lookup(source, schemaId, TRUE);
    if (schema == nullptr) {
      return {};
    }
    SettingsHandle settings(g_settings_new_full(schema, nullptr, nullptr));
    g_settings_schema_unref(schema);
    return settings;
  }

  // Whether settings has key of the given GVariant type.
  static bool HasKey(GSettings* settings, const char* key, const GVariantType* type) {
    if (settings == nullptr) {
      return false;
    }
    GSettingsSchema* schema = nullptr;
    g_object_get(settings, "settings-schema", &schema, nullptr);
    bool found = false;
    if (schema != nullptr && g_settings_schema_has_key(schema, key)) {
      GSettingsSchemaKey* described = g_settings_schema_get_key(schema, key);
      found = g_variant_type_equal(g_settings_schema_key_get_value_type(described), type);
      g_settings_schema_key_unref(described);
    }
    if (schema != nullptr) {
      g_settings_schema_unref(schema);
    }
    return found;
  }

  static std::string StringKey(GSettings* settings, const char* key) {
    if (!HasKey(settings, key, G_VARIANT_TYPE_STRING)) {
      return {};
    }
    gchar* value = g_settings_get_string(settings, key);
    std::string text = value != nullptr ? value : "";
    g_free(value);
    return text;
  }

  static int IntKey(GSettings* settings, const char* key) {
    if (!HasKey(settings, key, G_VARIANT_TYPE_INT32)) {
      return 0;
    }
    return g_settings_get_int(settings, key);
  }

  SettingsHandle proxy_;
  SettingsHandle http_;
  SettingsHandle https_;
};

// The one thread that asks libproxy, and its queue. Made on first use and never destroyed: its
// thread may be stuck in a PAC fetch or script when the process ends, and exit must not wait
// for it or tear down what it is using.
class QueryWorker {
public:
  Q_DISABLE_COPY(QueryWorker)

  // The worker, started on the first call. Raises std::system_error when no thread can be
  // started (and tries again on the next call).
  static QueryWorker& Instance() {
    static std::mutex starting;
    static QueryWorker* worker = nullptr;
    const std::lock_guard<std::mutex> hold(starting);
    if (worker == nullptr) {
      auto made = std::unique_ptr<QueryWorker>(new QueryWorker);
      std::thread(&QueryWorker::Run, made.get()).detach();
      worker = made.release();
    }
    return *worker;
  }

  // Queues query; false (nothing queued) while the query being answered has taken longer than
  // kDesktopProxyQueryLimit, since a query behind it could only time out.
  bool Submit(const std::shared_ptr<Query>& query) {
    const std::lock_guard<std::mutex> hold(lock_);
    if (busySince_ && Clock::now() - *busySince_ > kDesktopProxyQueryLimit) {
      return false;
    }
    queue_.push_back(query);
    wake_.notify_one();
    return true;
  }

  // The answer, once the query's descriptor has become readable.
  DesktopAnswer TakeAnswer(Query& query) {
    const std::lock_guard<std::mutex> hold(lock_);
    return std::move(query.answer);
  }

  // The caller has stopped waiting: a query not yet started is then dropped.
  void Abandon(Query& query) {
    const std::lock_guard<std::mutex> hold(lock_);
    query.abandoned = true;
  }

private:
  QueryWorker() = default;

  void Run() {
    // GSettings delivers its change notices to the creating thread's main context; this thread
    // never runs one, and the notices must not land on the GUI thread's.
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    const GnomeProxySettings gnome;
    MakeFactory();
    for (;;) {
      std::shared_ptr<Query> query = Next();
      DesktopAnswer answer;
      gnome.Describe(query->scheme, answer);
      answer.entries = AskLibproxy(query->address);
      {
        const std::lock_guard<std::mutex> hold(lock_);
        query->answer = std::move(answer);
        busySince_.reset();
      }
      const uint64_t one = 1;
      [[maybe_unused]] const ssize_t written = write(query->done, &one, sizeof one);
    }
  }

  // The next query that someone still waits for, marked as being answered.
  std::shared_ptr<Query> Next() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
      wake_.wait(hold, [this] { return !queue_.empty(); });
      std::shared_ptr<Query> query = std::move(queue_.front());
      queue_.pop_front();
      if (!query->abandoned) {
        busySince_ = Clock::now();
        return query;
      }
    }
  }

  // One factory for the process, never freed. Freeing it unloads its modules, the PAC engine
  // among them, whose thread-specific data destructors would then run in unmapped code when a
  // thread that ran a script ends. It also keeps what the factory learnt, the PAC file above
  // all, which is then fetched once per process rather than once per query.
  void MakeFactory() {
    if (factory_ == nullptr) {
      factory_ = px_proxy_factory_new();
    }
  }

  std::vector<std::string> AskLibproxy(const std::string& address) {
    MakeFactory();
    if (factory_ == nullptr) {
      return {};
    }
    std::vector<std::string> entries;
    char** proxies = px_proxy_factory_get_proxies(factory_, address.c_str());
    if (proxies != nullptr) {
      for (char** entry = proxies; *entry != nullptr; ++entry) {
        entries.emplace_back(*entry);
      }
      px_proxy_factory_free_proxies(proxies);
    }
    return entries;
  }

  std::mutex lock_;
  std::condition_variable wake_;
  std::deque<std::shared_ptr<Query>> queue_;
  std::optional<Clock::time_point> busySince_;
  pxProxyFactory* factory_ = nullptr; // the worker thread's alone
};

// How a wait for the worker ended.
enum class WaitEnd { Answered, Cancelled, Deadline, OwnLimit, Failed };

// Sets error to errno when the wait itself fails.
WaitEnd WaitForAnswer(const Query& query, const TIdProxyQueryLimits& limits, int& error) {
  Clock::time_point until = Clock::now() + kDesktopProxyQueryLimit;
  WaitEnd timeout = WaitEnd::OwnLimit;
  if (limits.deadline && *limits.deadline < until) {
    until = *limits.deadline;
    timeout = WaitEnd::Deadline;
  }
  pollfd handles[2] = {{query.done, POLLIN, 0}, {limits.abortHandle, POLLIN, 0}};
  const nfds_t count = limits.abortHandle >= 0 ? 2 : 1;
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
    if (left.count() <= 0) {
      return timeout;
    }
    const int ready = poll(handles, count, int(left.count()));
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    if (ready < 0) {
      error = errno;
      return WaitEnd::Failed;
    }
    if (count == 2 && handles[1].revents != 0) {
      return WaitEnd::Cancelled;
    }
    if (handles[0].revents != 0) {
      return WaitEnd::Answered;
    }
  }
}

// The address as libproxy and a PAC script see it: no credentials, no fragment, and for https
// only scheme, host and port, as browsers hand it, so that a script fetched from the network
// never learns the path or query of a secure address.
std::string QueryAddress(const TIdURI& address, const QString& scheme) {
  TIdURI shown = address;
  shown.SetScheme(scheme);
  if (scheme == u"https") {
    shown.SetDirectory(QStringLiteral("/"));
    shown.SetFileName({});
    shown.SetQuery({});
  }
  return shown.ComposeAddress({}).toStdString();
}

// entry without what stands between "://" and an "@".
QString WithoutCredentials(const QString& entry) {
  const qsizetype schemeEnd = entry.indexOf(u"://");
  const qsizetype at = entry.lastIndexOf(u'@');
  if (schemeEnd < 0 || at < schemeEnd) {
    return entry;
  }
  return entry.first(schemeEnd + 3) + entry.sliced(at + 1);
}

QString SourceOf(const DesktopAnswer& answer) {
  if (answer.pacUrl.empty()) {
    return QStringLiteral("desktop settings");
  }
  return QStringLiteral("proxy auto-config ") +
         WithoutCredentials(QString::fromStdString(answer.pacUrl));
}

// Why a PAC file gave only "direct", as far as can be told from here: libproxy answers
// "direct" alike when the file says so, when it cannot be fetched and when its script fails.
QString PacDirectNote(const std::string& pacUrl, const QString& source) {
  const QUrl url(QString::fromStdString(pacUrl));
  if (url.isLocalFile() && !QFileInfo(url.toLocalFile()).isReadable()) {
    return RSDesktopProxyPacUnreadable().arg(source);
  }
  return RSDesktopProxyPacDirect().arg(source);
}

// One entry of libproxy's answer added to routes, or passed over with a note.
void AddEntry(const QString& entry, const QString& source, TIdProxyRoutes& routes) {
  const qsizetype schemeEnd = entry.indexOf(u"://");
  if (schemeEnd <= 0) {
    routes.notes << RSDesktopProxyEntryNotAddress().arg(source);
    return;
  }
  const QString scheme = entry.first(schemeEnd).toLower();
  if (scheme == u"direct") {
    routes.routes << TIdProxyRoute{std::nullopt, source};
  } else if (scheme == u"http") {
    try {
      routes.routes << TIdProxyRoute{TIdProxyAddress::Parse(entry, source), source};
    } catch (const EIdProxyAddressInvalid& failure) {
      routes.notes << RSDesktopProxyEntryPassedOver().arg(failure.Message());
    }
  } else if (scheme.startsWith(u"socks")) {
    routes.notes << RSDesktopProxySocksPassedOver().arg(source, WithoutCredentials(entry));
  } else {
    routes.notes << RSDesktopProxySchemePassedOver().arg(source, scheme);
  }
}

TIdProxyRoutes RoutesOf(const DesktopAnswer& answer, const QString& scheme) {
  const QString source = SourceOf(answer);
  TIdProxyRoutes routes;
  for (const std::string& entry : answer.entries) {
    AddEntry(QString::fromStdString(entry), source, routes);
  }
  if (routes.routes.isEmpty()) {
    routes.notes << RSDesktopProxyNoUsableEntry().arg(source);
    routes.routes << TIdProxyRoute{std::nullopt, source};
  } else if (routes.routes.size() == 1 && !routes.routes.front().proxy && routes.notes.isEmpty()) {
    if (!answer.pacUrl.empty()) {
      routes.notes << PacDirectNote(answer.pacUrl, source);
    } else if (answer.manualIncomplete) {
      routes.notes << RSDesktopProxyManualIncomplete().arg(scheme);
    }
  }
  return routes;
}

TIdProxyRoutes Direct(const QString& note) {
  return {{TIdProxyRoute{std::nullopt, QStringLiteral("desktop settings")}}, {note}};
}

} // namespace

TIdProxyRoutes DesktopProxyRoutes(const TIdURI& address, const TIdProxyQueryLimits& limits) {
  const QString scheme = address.Scheme().toLower();
  if ((scheme != u"http" && scheme != u"https") || address.HostPart().isEmpty() ||
      !InDesktopSession()) {
    return {{TIdProxyRoute{std::nullopt, {}}}, {}};
  }
  const auto query = std::make_shared<Query>();
  if (query->done < 0) {
    return Direct(RSDesktopProxyUnavailable().arg(QString::fromLocal8Bit(strerror(errno))));
  }
  query->address = QueryAddress(address, scheme);
  query->scheme = scheme.toStdString();

  QueryWorker* worker = nullptr;
  try {
    worker = &QueryWorker::Instance();
  } catch (const std::system_error& failure) {
    return Direct(RSDesktopProxyUnavailable().arg(QString::fromLocal8Bit(failure.what())));
  }
  if (!worker->Submit(query)) {
    return Direct(RSDesktopProxyStillBusy());
  }
  int error = 0;
  const WaitEnd end = WaitForAnswer(*query, limits, error);
  if (end == WaitEnd::Answered) {
    return RoutesOf(worker->TakeAnswer(*query), scheme);
  }
  worker->Abandon(*query);
  switch (end) {
  case WaitEnd::Cancelled:
    return Direct(RSDesktopProxyCancelled());
  case WaitEnd::Deadline:
    return Direct(RSDesktopProxyPastDeadline());
  case WaitEnd::OwnLimit:
    return Direct(RSDesktopProxyTooSlow().arg(kDesktopProxyQueryLimit.count() / 1000));
  default:
    return Direct(RSDesktopProxyUnavailable().arg(QString::fromLocal8Bit(strerror(error))));
  }
}

void PrepareDesktopProxy() {
  if (!InDesktopSession()) {
    return;
  }
  try {
    QueryWorker::Instance();
  } catch (const std::system_error&) {
    // The first query starts it again, and says why in its note when it still cannot.
    return;
  }
}
