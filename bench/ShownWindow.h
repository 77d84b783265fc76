#pragma once

// What the window benchmarks share: the window shown and made the active one, as a user's is
// before the first press (keys reach the window, and Esc its shortcut, only while it is active).

#include <QTest>
#include <QWidget>

#include <cstdio>

// Shows window and waits until it is exposed and active; false, with a line on standard error
// naming who, when either does not happen within QTest's default wait.
inline bool ShowActive(QWidget& window, const char* who) {
  window.show();
  if (!QTest::qWaitForWindowExposed(&window)) {
    std::fprintf(stderr, "%s: the window was not shown\n", who);
    return false;
  }
  window.activateWindow();
  if (!QTest::qWaitForWindowActive(&window)) {
    std::fprintf(stderr, "%s: the window did not become active\n", who);
    return false;
  }
  return true;
}
