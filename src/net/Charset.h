#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Turns the bytes of a downloaded page into text. A byte-order mark (UTF-8,
// UTF-16LE, UTF-16BE) wins over everything and is not part of the text; else
// the charset comes from the Content-Type header, else from a <meta> charset
// in the page, else UTF-8 when the bytes are valid UTF-8, else GB18030.
// GB2312 and GBK are read as GB18030, their superset.
namespace Charset {

// The canonical name of the charset the page will be decoded with
// ("UTF-8", "GB18030", "ISO-8859-1", ...).
QByteArray detect(QByteArrayView body, QByteArrayView contentType);

// The page as text, decoded with detect()'s charset. Invalid sequences become
// U+FFFD; the result is never null for a non-empty body.
QString decode(QByteArrayView body, QByteArrayView contentType, QByteArray *charsetUsed = nullptr);

} // namespace Charset
