#include "app/EmbedCode.h"

#include "app/HostNames.h"
#include "net/IdGlobal.h"

#include <utility>

namespace {

bool StaysUnencoded(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~' || c == ',' || c == '@' || c == ':';
}

// The frame's name before the identifier it shows; the service's name, not its host, which a
// demo build points elsewhere.
constexpr QStringView kFrameTitle = u"vantrel slideshow";
// Places of the shape's percentage: at the widest frame (9999 px) the last place moves the
// height by a two-hundredth of a pixel, below what a layout engine resolves.
constexpr int kPercentPlaces = 4;

QString CreditLine() {
  return QStringLiteral("<center><small>Created with <a href=\"http://") + CreditLinkHost +
         QStringLiteral("\" title=\"marquelo\">marquelo</a> from <a href=\"http://") +
         MakerSiteHost + QStringLiteral("\">Tarnwick</a>.</small></center>");
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
         height + QStringLiteral("\" scrolling=\"no\"></iframe><br />") + CreditLine();
}

QString FrameTitle(const SlideshowIds& ids) {
  const std::pair<QStringView, const QString&> named[] = {
      {u" of set ", ids.SetId}, {u" of group ", ids.GroupId}, {u" of user ", ids.OwnerId}};
  for (const auto& [kind, id] : named) {
    if (!id.isEmpty()) {
      QString title = kFrameTitle.toString();
      title += kind;
      title += EncodeQueryValue(id);
      return title;
    }
  }
  return kFrameTitle.toString();
}

QString HeightPercentOfWidth(int32_t width, int32_t height) {
  QString percent = QString::number(100.0 * height / width, 'f', kPercentPlaces);
  while (percent.endsWith(u'0')) {
    percent.chop(1);
  }
  if (percent.endsWith(u'.')) {
    percent.chop(1);
  }
  return percent;
}

QString FittingEmbedCode(const QString& address, int32_t width, int32_t height,
                         const QString& title) {
  const QString widthText = QString::number(width);
  // The frame's box is the outer block's: as wide as the container allows up to the width,
  // and as high as the spacer's padding, which a percentage takes from that same width. The
  // credit follows without the fixed code's line break: the block already ends the line, and
  // a break would leave an empty line between the frame and its credit.
  return QStringLiteral("<div style=\"position:relative;max-width:") + widthText +
         QStringLiteral("px;\"><div style=\"padding-top:") + HeightPercentOfWidth(width, height) +
         QStringLiteral("%;\"></div><iframe src=\"") + address + QStringLiteral("\" title=\"") +
         title + QStringLiteral("\" frameBorder=\"0\" width=\"") + widthText +
         QStringLiteral("\" height=\"") + QString::number(height) +
         QStringLiteral("\" scrolling=\"no\" loading=\"lazy\" allowfullscreen "
                        "style=\"position:absolute;top:0;left:0;width:100%;height:100%;\">"
                        "</iframe></div>") +
         CreditLine();
}
