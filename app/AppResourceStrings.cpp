#include "app/AppResourceStrings.h"

QString RSCantReadServicePage() {
  return QStringLiteral("Can't read this vantrel web page.");
}
QString RSCantCreateTempFile() {
  return QStringLiteral("Can't create temp file \"%1\".");
}
QString RSCannotCreateFile() {
  return QStringLiteral("Cannot create file \"%1\". %2");
}
QString RSCannotWriteFile() {
  return QStringLiteral("Cannot write file \"%1\". %2");
}
QString RSCantReadResource() {
  return QStringLiteral("Can't read the resource \"%1\".");
}
QString RSJpegDecodeFailed() {
  return QStringLiteral("The JPEG picture cannot be decoded: %1");
}
QString RSJpegUnsupportedComponents() {
  return QStringLiteral("The JPEG picture has %1 colour components; 1 or 3 are supported.");
}
QString RSJpegTooLarge() {
  return QStringLiteral("The JPEG picture announces %1 x %2 pixels, more than a picture may have.");
}
QString RSUnknownFailure() {
  return QStringLiteral("An unknown failure occurred.");
}
QString RSPageRedirectLimit() {
  return QStringLiteral("The page redirected too many times.");
}
QString RSPageTooLarge() {
  return QStringLiteral("The page is larger than %1 MiB.");
}
QString RSCantLoadPreviewModule() {
  return QStringLiteral("Can't load the preview module \"%1\": %2");
}
QString RSPreviewModuleNotFound() {
  return QStringLiteral("it is in none of %1");
}
QString RSCreateButton() {
  return QStringLiteral("Create");
}
QString RSCancelButton() {
  return QStringLiteral("Cancel");
}
QString RSDesktopProxyEntryNotAddress() {
  return QStringLiteral("%1 gave an entry that is not a proxy address; passed over.");
}
QString RSDesktopProxyEntryPassedOver() {
  return QStringLiteral("%1; passed over.");
}
QString RSDesktopProxySocksPassedOver() {
  return QStringLiteral("%1 names the SOCKS proxy %2, which is not supported; passed over.");
}
QString RSDesktopProxySchemePassedOver() {
  return QStringLiteral("%1 names a proxy of kind \"%2\", which is not supported; passed over.");
}
QString RSDesktopProxyNoUsableEntry() {
  return QStringLiteral("%1 gave no proxy that can be used; going direct.");
}
QString RSDesktopProxyPacDirect() {
  return QStringLiteral("%1 gave no proxy: it says DIRECT, or it could not be fetched or run, or "
                        "its answer could not be read; going direct.");
}
QString RSDesktopProxyPacUnreadable() {
  return QStringLiteral("%1 cannot be read; going direct.");
}
QString RSDesktopProxyManualIncomplete() {
  return QStringLiteral(
      "The desktop's manual proxy for %1 addresses has no host or port; going direct.");
}
QString RSDesktopProxyCancelled() {
  return QStringLiteral(
      "The call was cancelled while the desktop's proxy settings were asked; going direct.");
}
QString RSDesktopProxyPastDeadline() {
  return QStringLiteral(
      "The desktop's proxy settings gave no answer before the call's time limit; going direct.");
}
QString RSDesktopProxyTooSlow() {
  return QStringLiteral("The desktop's proxy settings gave no answer within %1 s; going direct.");
}
QString RSDesktopProxyStillBusy() {
  return QStringLiteral(
      "The desktop's proxy settings are still stuck on an earlier address; going direct.");
}
QString RSDesktopProxyUnavailable() {
  return QStringLiteral("The desktop's proxy settings cannot be asked: %1; going direct.");
}
