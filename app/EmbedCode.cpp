#include "app/EmbedCode.h"

#include "app/HostNames.h"
#include "net/IdGlobal.h"

namespace {

bool StaysUnencoded(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~' || c == ',' || c == '@' || c == ':';
}

void AppendPiece(QString& address, QStringView key, QStringView value) {
  if (value.isEmpty()) {
    return;
  }
  address += u'&';
  address += key;
  address += u'=';
  address += EncodeQueryValue(value);
}

} // namespace

QString EncodeQueryValue(QStringView value) {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  const QByteArray bytes = value.toUtf8();
  QString encoded;
  encoded.reserve(bytes.size() * 3);
  for (const char c : bytes) {
    if (StaysUnencoded(c)) {
      encoded += QLatin1Char(c);
    } else {
      const auto byte = static_cast<unsigned char>(c);
      encoded += u'%';
      encoded += QLatin1Char(kHexDigits[byte >> 4]);
      encoded += QLatin1Char(kHexDigits[byte & 0x0F]);
    }
  }
  return encoded;
}

PlayerScheme PlayerSchemeOf(QStringView scheme) {
  return TextIsSame(scheme, u"https") ? PlayerScheme::Https : PlayerScheme::Http;
}

QString SlideshowAddress(const SlideshowIds& ids, const SlideshowFilters& filters,
                         PlayerScheme scheme) {
  QString address =
      scheme == PlayerScheme::Https ? SecureSlideshowBaseAddress : SlideshowBaseAddress;
  AppendPiece(address, u"user_id", ids.OwnerId);
  AppendPiece(address, u"group_id", ids.GroupId);
  AppendPiece(address, u"set_id", ids.SetId);
  AppendPiece(address, u"tags", filters.Tags);
  AppendPiece(address, u"text", filters.Text);
  if (filters.Favorites) {
    address += QStringLiteral("&favorites=own");
  }
  // Every piece starts with "&"; the first must follow the "?" directly. Values are encoded,
  // so the only "?&" that can occur is this one.
  const qsizetype joint = address.indexOf(QStringLiteral("?&"));
  if (joint >= 0) {
    address.remove(joint + 1, 1);
  }
  return address;
}

QString NormalisedDimension(QStringView text, int32_t fallback) {
  const std::optional<int32_t> number = TextToInt32(text);
  return QString::number(number && *number > 0 ? *number : fallback);
}

QString EmbedCode(const QString& address, const QString& width, const QString& height) {
  return QStringLiteral("<iframe align=\"center\" src=\"") + address +
         QStringLiteral("\" frameBorder=\"0\" width=\"") + width + QStringLiteral("\" height=\"") +
         height +
         QStringLiteral("\" scrolling=\"no\"></iframe><br /><center><small>Created with "
                        "<a href=\"http://") +
         CreditLinkHost +
         QStringLiteral("\" title=\"marquelo\">marquelo</a> from <a href=\"http://") +
         MakerSiteHost + QStringLiteral("\">Tarnwick</a>.</small></center>");
}
