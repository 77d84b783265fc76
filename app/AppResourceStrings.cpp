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
