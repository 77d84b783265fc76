#pragma once

// The wait cursor over the program's windows while the user waits for something (a page read).

#include <QtGlobal>

// Shows the wait cursor from construction to destruction, on every way out of the scope,
// exceptions included. Guards nest: the cursor the user had comes back when the outermost one
// ends. Construct and destroy on the GUI thread, with a QGuiApplication in place.
class BusyCursor {
public:
  BusyCursor();
  ~BusyCursor();
  Q_DISABLE_COPY(BusyCursor)
};
