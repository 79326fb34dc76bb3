#pragma once

#include <QUrl>

#include <functional>

class QNetworkAccessManager;
class QObject;

// Opens web addresses in the user's browser. Only http and https addresses
// are ever passed on: an address that arrived from outside must not start
// a program or open a local file.
namespace Browser {

// True when the address was handed to the browser.
bool open(const QUrl &url);

// Opens the address once its server has answered, if the answer came from a
// trusted user's server: on this machine's loopback any user may be the one
// listening, and the person's browser is not sent to another user's page.
// Any other address opens at once. The program does not end before the
// answer has come, or five seconds have passed; the check belongs to
// context.
void openWhenTrusted(const QUrl &url, QNetworkAccessManager *network, QObject *context);

// Replaces the browser, for tests; an empty function restores it.
using Opener = std::function<bool(const QUrl &)>;
void setOpener(Opener opener);

} // namespace Browser
