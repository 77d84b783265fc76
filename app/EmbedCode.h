#pragma once

// The slideshow address and the embed code, as plain functions of their inputs: no window,
// no network, no failure. The Create handler composes them in order.

#include <QString>
#include <QStringView>
#include <cstdint>

// The service's internal identifiers found in a photo page; each may be empty.
struct SlideshowIds {
  QString OwnerId;
  QString GroupId;
  QString SetId;

  bool operator==(const SlideshowIds&) const = default;
};

// What the user asked the player to show beyond the identifiers.
struct SlideshowFilters {
  QString Tags;     // trimmed text of the tags field; empty when not wanted
  QString Text;     // trimmed full-text filter; empty when not wanted
  bool Favorites{}; // show the owner's favourite photos
};

// Width and height used when a field does not hold a positive whole number.
inline constexpr int32_t kDefaultSlideshowWidth = 500;
inline constexpr int32_t kDefaultSlideshowHeight = 400;

// The value percent-encoded as UTF-8 for the player's query: A-Z, a-z, 0-9 and "-._~,@:"
// stay as they are, every other byte becomes "%" and two upper-case hexadecimal digits.
// A quote, "&", "#", "?" or a space typed by the user can therefore neither end the src
// attribute nor change the query's structure.
QString EncodeQueryValue(QStringView value);

// Which of the service's two player addresses the code embeds. A browser refuses an http frame
// inside an https page, so a page read over https leads to the https player.
enum class PlayerScheme { Http, Https };

// Https when scheme (a URI's Scheme, letter case free) is "https", else Http.
PlayerScheme PlayerSchemeOf(QStringView scheme);

// SlideshowBaseAddress (SecureSlideshowBaseAddress for Https) followed by the query pieces
// that apply ("user_id", "group_id", "set_id", "tags", "text", "favorites=own", in that order,
// each value encoded), with the first "?&" made "?". With nothing to append the address ends
// in "?".
QString SlideshowAddress(const SlideshowIds& ids, const SlideshowFilters& filters,
                         PlayerScheme scheme);

// The decimal form (no sign, no leading zeros) of the number in text, or of fallback when the
// text does not convert or gives 0 or less. Conversion follows TextToInt32.
QString NormalisedDimension(QStringView text, int32_t fallback);

// The one-line iframe embed code for the address at the given width and height texts, with
// the credit line. No line breaks.
QString EmbedCode(const QString& address, const QString& width, const QString& height);

// The frame's name for screen readers and page checkers: "vantrel slideshow", then " of set ",
// " of group " or " of user " and that identifier (the first known of set, group and owner, the
// most specific), encoded as EncodeQueryValue encodes it, so that a page planting quotes or
// markup in an identifier cannot leave the attribute. "vantrel slideshow" alone when none is
// known.
QString FrameTitle(const SlideshowIds& ids);

// The height as a percentage of the width, in decimal with at most four places and no
// trailing zeros ("80", "62.5", "33.3333"). width and height are positive.
QString HeightPercentOfWidth(int32_t width, int32_t height);

// A one-line code whose frame fills the width of its container up to width pixels and keeps
// width:height at every width, named by title, loading only when the reader nears it and
// allowed full screen; then the credit line of EmbedCode (without the line break before it,
// which the block makes needless). The shape comes from a block whose top padding is
// HeightPercentOfWidth of its width (laid out alike by every engine that has CSS 2); the frame
// lies over that block. The width and height attributes stay, so a reader
// that strips style attributes (a feed reader) still shows the frame at width x height.
// address and title go in as given (compose them with SlideshowAddress and FrameTitle);
// width and height are positive.
QString FittingEmbedCode(const QString& address, int32_t width, int32_t height,
                         const QString& title);
