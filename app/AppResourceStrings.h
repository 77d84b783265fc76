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
