// What asking the desktop's proxy settings adds to a fetch: DesktopProxyRoutes called for COUNT
// addresses in a row (http://example.test/1, /2, ...), as the client calls it once per exchange.
// Prints the first query's time (it makes libproxy's factory and, with a PAC file, fetches and
// compiles it), the median and the largest of the others, and the routes of the last. Run by
// bench/desktop_proxy.sh inside a private session with the desktop's settings made.
//
//   desktop_proxy_bench [COUNT [--prepared]]
//
// With --prepared, PrepareDesktopProxy is called a second before the first query, as the
// window calls it once it shows.

#include "app/DesktopProxy.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

int main(int argc, char* argv[]) {
  const int count = argc > 1 ? std::max(2, std::atoi(argv[1])) : 200;
  // As the window does once it shows, a second before the first Create.
  if (argc > 2 && std::strcmp(argv[2], "--prepared") == 0) {
    PrepareDesktopProxy();
    std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  std::vector<double> times;
  TIdProxyRoutes last;
  for (int i = 1; i <= count; ++i) {
    const TIdURI address(QStringLiteral("http://example.test/%1").arg(i));
    const auto start = std::chrono::steady_clock::now();
    last = DesktopProxyRoutes(address, {});
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
  }
  const double first = times.front();
  std::vector<double> rest(times.begin() + 1, times.end());
  std::sort(rest.begin(), rest.end());
  std::printf("first %.3f ms  median %.3f ms  max %.3f ms  (%d queries)  last:", first,
              rest[rest.size() / 2], rest.back(), count);
  for (const TIdProxyRoute& route : last.routes) {
    std::printf(" %s;", qPrintable(route.Text()));
  }
  for (const QString& note : last.notes) {
    std::printf(" note: %s", qPrintable(note));
  }
  std::printf("\n");
  return 0;
}
