#pragma once

#include <QString>
#include <QStringView>

#include <initializer_list>
#include <utility>

// The site's fixed markup lives in resource files (site/) with {{slot}}s the
// pages fill in, so the markup reads as markup and the code only makes what
// changes from page to page.
namespace SiteTemplate {

// A file of the site, built into the service.
QString read(const char *name);

using Slots = std::initializer_list<std::pair<QStringView, QStringView>>;

// `text` with each {{slot}} replaced by its value, in one pass: nothing filled
// in is ever taken for a slot. Single braces, like the {t} and {u} of the
// share links, belong to the page's scripts and stay as they are.
QString fill(QStringView text, Slots values);

} // namespace SiteTemplate
