#pragma once

#include <QUrl>

#include <functional>

// Opens web addresses in the user's browser. Only http and https addresses
// are ever passed on: an address that arrived from outside must not start
// a program or open a local file.
namespace Browser {

// True when the address was handed to the browser.
bool open(const QUrl &url);

// Replaces the browser, for tests; an empty function restores it.
using Opener = std::function<bool(const QUrl &)>;
void setOpener(Opener opener);

} // namespace Browser
