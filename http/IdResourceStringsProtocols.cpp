#include "http/IdResourceStringsProtocols.h"

QString RSURIProtocolFieldEmpty() { return QStringLiteral("Protocol field is empty"); }
QString RSURIHostFieldEmpty() { return QStringLiteral("Host field is empty"); }
