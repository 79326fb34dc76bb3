#pragma once

#include <QString>

class QImage;

// The system clipboard, with an answer to whether a copy arrived: another
// program may hold the clipboard, and then the person must be told.
namespace Clipboard {

// Replaces the clipboard with plain text; true when it reads back the same.
bool setText(const QString &text);

// Replaces the clipboard with a picture; true when it reads back a picture
// of the same size.
bool setImage(const QImage &image);

// For tests: while refusing, every set leaves the clipboard untouched and
// fails, as when another program holds it open.
void setRefusingForTesting(bool refusing);

} // namespace Clipboard
