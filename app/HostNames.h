#pragma once

// The four host names the embed-code tool uses, and the two addresses derived from the
// service's hosts. All are compiled in; only the service's two hosts can be replaced when
// configuring.

#include "app/BuildConfig.h"

#include <QString>

// The photo-sharing service's web host.
inline const QString ServiceHost = QStringLiteral(MARQUELO_SERVICE_HOST);
// Where the service answers https: the same host on the standard port for the real service,
// a second port of the local stand-in in a demo build.
inline const QString SecureServiceHost = QStringLiteral(MARQUELO_SERVICE_HTTPS_HOST);
// The product web site, opened by the link label.
inline const QString ProductSiteHost = QStringLiteral("www.marquelo.app");
// First link of the embed code's credit line.
inline const QString CreditLinkHost = QStringLiteral("get.marquelo.app");
// The maker's web site, second link of the credit line.
inline const QString MakerSiteHost = QStringLiteral("www.tarnwick.com");

// The address field's initial text, and the value for which no page is fetched.
inline const QString PlaceholderAddress =
    QStringLiteral("http://") + ServiceHost + QStringLiteral("/photos/username/");
// The slideshow player's address up to and including the "?" that starts its query.
inline const QString SlideshowBaseAddress =
    QStringLiteral("http://") + ServiceHost + QStringLiteral("/slideShow/index.gne?");
// The same for the player embedded in an https page.
inline const QString SecureSlideshowBaseAddress =
    QStringLiteral("https://") + SecureServiceHost + QStringLiteral("/slideShow/index.gne?");
