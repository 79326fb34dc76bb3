#pragma once

#include <QByteArrayView>
#include <QDate>
#include <QString>
#include <QStringView>

// The pages of the fortune site that the offline service stands in for.
//
// A sign's page for a day is made up from a small random generator seeded by
// the sign's slug and the day, so the same sign and day always give the same
// page, down to the byte. The fortune block follows the site's markup to the
// letter, because the program cuts it apart with fixed text markers; the rest
// of the page is the usual clutter of a real site, there to prove that the
// program reads past it.
//
// Every page names its charset in a <meta> tag; pass the name the page will be
// sent in ("utf-8" or "gbk"). The text itself does not change with it, and it
// holds only characters that GBK has.
namespace FortunePages {

// The page of the sign the site files under `slug`; empty when the site has no
// such sign or the date is invalid.
QString pageForSlug(QStringView slug, QDate date, QByteArrayView charset = "utf-8");

// True when the site has a sign filed under `slug`.
bool knowsSlug(QStringView slug);

// The home page, linking the twelve signs.
QString indexPage(QByteArrayView charset = "utf-8");

// The two forums the program's buttons open.
QString makerForumPage(QByteArrayView charset = "utf-8");
QString partnerForumPage(QByteArrayView charset = "utf-8");

// What the site shows for anything it does not have.
QString notFoundPage(QByteArrayView charset = "utf-8");

} // namespace FortunePages
