#pragma once

// Public suffixes: the names under which anyone may register a name of their own ("com",
// "co.uk", "github.io"), read from the Public Suffix List through libpsl. A cookie set for
// such a name would reach every site registered under it.

#include <QStringView>

// Whether domain (a host name without a leading dot; any letter case) is a public suffix. A name
// under a top-level label the list does not know counts as one when it is that label alone
// ("test", "localhost"). Takes the newer of the list built into libpsl and the system's copy,
// read once per process. Thread-safe; raises nothing.
bool IsPublicSuffix(QStringView domain);
