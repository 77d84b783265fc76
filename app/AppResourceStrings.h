#pragma once

// The message texts of the embed-code tool, in one table. Each function returns the exact
// text; format strings keep "%1"-style placeholders for QString::arg.

#include <QString>

// Shown once when the photo page cannot be read, whatever the cause.
QString RSCantReadServicePage();
// %1: the preview name pattern with "{UniqueID}" where the number goes.
QString RSCantCreateTempFile();
// %1: the file name; %2: the system's reason.
QString RSCannotCreateFile();
// %1: the file name; %2: the system's reason.
QString RSCannotWriteFile();
// %1: the resource path.
QString RSCantReadResource();
// %1: what the JPEG decoder reported.
QString RSJpegDecodeFailed();
// %1: the number of colour components found in the picture.
QString RSJpegUnsupportedComponents();
// %1, %2: the width and height the picture announces.
QString RSJpegTooLarge();
// A failure that carries no message of its own.
QString RSUnknownFailure();
// The page's redirects reached the client's limit.
QString RSPageRedirectLimit();
// %1: the limit in MiB.
QString RSPageTooLarge();
// %1: the preview module's file; %2: why it cannot be loaded.
QString RSCantLoadPreviewModule();
// %1: the directories searched, comma-separated.
QString RSPreviewModuleNotFound();
// The Create button's caption, and its caption while a page is read.
QString RSCreateButton();
QString RSCancelButton();

// Notes on the desktop's proxy choice for an address; each ends in what was done instead.
// %1: where the entry came from ("desktop settings", "proxy auto-config <url>").
QString RSDesktopProxyEntryNotAddress();
// %1: why the entry's proxy address cannot be used, naming where it came from.
QString RSDesktopProxyEntryPassedOver();
// %1: where the entry came from; %2: the entry without credentials.
QString RSDesktopProxySocksPassedOver();
// %1: where the entry came from; %2: the entry's scheme.
QString RSDesktopProxySchemePassedOver();
// %1: where the answer came from.
QString RSDesktopProxyNoUsableEntry();
// %1: "proxy auto-config <url>".
QString RSDesktopProxyPacDirect();
QString RSDesktopProxyPacUnreadable();
// %1: the address's scheme.
QString RSDesktopProxyManualIncomplete();
QString RSDesktopProxyCancelled();
QString RSDesktopProxyPastDeadline();
// %1: the query's own limit in seconds.
QString RSDesktopProxyTooSlow();
QString RSDesktopProxyStillBusy();
// %1: the system's reason.
QString RSDesktopProxyUnavailable();
