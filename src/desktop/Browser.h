#pragma once

#include <QUrl>

#include <functional>

// Opens web addresses, and the offline build's installed forum pages, in the
// user's browser. An address that arrived from outside must not start a
// program or open any other local file: only http and https addresses, and
// the index.html of a local folder, are ever passed on.
namespace Browser {

// True when the address was handed to the browser. A file: address of a
// folder (ending in '/') opens the folder's index.html when that is a plain
// page: a regular file, not a link, not executable; and the folder and the
// page both owned by root or the person and writable by nobody else.
bool open(const QUrl &url);

// Replaces the browser, for tests; an empty function restores it.
using Opener = std::function<bool(const QUrl &)>;
void setOpener(Opener opener);

} // namespace Browser
