// Fuzzes the charset detection and decoding. The input's first line stands
// for the Content-Type header, the rest is the page's body.

#include "net/Charset.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// A header line longer than this is taken as part of the body.
constexpr qsizetype HeaderBytes = 256;

[[noreturn]] void fail(const char *what, QByteArrayView contentType, QByteArrayView body,
                       QByteArrayView name)
{
    std::fprintf(stderr, "fuzz_charset: %s\nContent-Type: %s\ncharset: %s\nbody (%lld bytes): %s\n",
                 what, contentType.toByteArray().toPercentEncoding(" ;=/").constData(),
                 name.toByteArray().constData(), static_cast<long long>(body.size()),
                 body.first(std::min<qsizetype>(body.size(), 600))
                     .toByteArray()
                     .toPercentEncoding(" <>=/\"';:-_.")
                     .constData());
    std::abort();
}

bool isValidUtf8(QByteArrayView bytes)
{
    // Qt's own decoder marks every invalid sequence, and U+FFFD encodes back
    // to other bytes than the ones it stands for.
    return QString::fromUtf8(bytes).toUtf8() == bytes;
}

bool hasBom(QByteArrayView body)
{
    return body.startsWith("\xEF\xBB\xBF") || body.startsWith("\xFF\xFE") ||
           body.startsWith("\xFE\xFF");
}

// A charset read from the page itself was found by reading the page as ASCII.
bool readsAsciiAsAscii(const QByteArray &name)
{
    static const QByteArray ascii =
        QByteArrayLiteral("<meta charset=\"x\">Az09 !#%&()*+,-./:;?@[]_{}~\n");
    QStringDecoder decoder(name.constData(), QStringConverter::Flag::Stateless);
    return decoder.isValid() && QString(decoder.decode(ascii)) == QString::fromLatin1(ascii);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView input(data, static_cast<qsizetype>(size));
    const qsizetype newline = input.first(std::min(input.size(), HeaderBytes)).indexOf('\n');
    const QByteArrayView contentType = newline < 0 ? QByteArrayView() : input.first(newline);
    const QByteArrayView body = newline < 0 ? input : input.sliced(newline + 1);

    const QByteArray name = Charset::detect(body, contentType);
    const auto require = [&](bool holds, const char *what) {
        if (!holds)
            fail(what, contentType, body, name);
    };

    QByteArray used;
    const QString text = Charset::decode(body, contentType, &used);
    require(!name.isEmpty(), "no charset named");
    require(used == name, "decode used another charset than detect names");
    require(Charset::detect(body, contentType) == name, "detect differs on the same input");
    require(Charset::decode(body, contentType) == text, "decode differs on the same input");
    require(body.isEmpty() || !text.isNull(), "a non-empty body decoded to a null string");
    require(QStringDecoder(name.constData()).isValid(), "the named charset cannot decode");

    // The header's label, if any, wins over everything but a BOM: probing with
    // an empty body (valid UTF-8) and a lone 0xFF (not) tells whether it has one.
    const bool headerLabelled =
        Charset::detect({}, contentType) == Charset::detect("\xFF", contentType);

    if (hasBom(body)) {
        require(name == "UTF-8" || name == "UTF-16LE" || name == "UTF-16BE",
                "a BOM chose another charset than its own");
    } else if (headerLabelled) {
        // A label names a charset that, named again, is itself.
        require(Charset::detect({}, QByteArray("text/html; charset=" + name)) == name,
                "the charset named is not its own canonical name");
    } else {
        require(readsAsciiAsAscii(name), "a charset read from the page does not read ASCII");
        const bool unlabelled = !body.toByteArray().toLower().contains("charset");
        if (unlabelled) {
            const bool utf8 = isValidUtf8(body);
            require(name == (utf8 ? "UTF-8" : "GB18030"), "unlabelled body sniffed wrongly");
            if (utf8)
                require(text == QString::fromUtf8(body), "valid UTF-8 decoded differently");
        }
    }
    return 0;
}
