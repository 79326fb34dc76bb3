#include "Charset.h"

#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <cstring>

namespace Charset {
namespace {

// A <meta> charset further in than this is not looked for: browsers stop
// even earlier, and a late one would mean scanning the whole page.
constexpr qsizetype MetaScanBytes = 4096;

const QByteArray Utf8Name = QByteArrayLiteral("UTF-8");
const QByteArray Gb18030Name = QByteArrayLiteral("GB18030");

struct Choice
{
    QByteArray name;
    qsizetype bomBytes = 0;
};

char lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

bool isNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.' || c == ':';
}

// ASCII-only, so a label never depends on the locale.
bool startsWithNoCase(QByteArrayView text, qsizetype at, QByteArrayView word)
{
    if (at + word.size() > text.size())
        return false;
    for (qsizetype i = 0; i < word.size(); ++i) {
        if (lower(text[at + i]) != word[i])
            return false;
    }
    return true;
}

qsizetype indexOfNoCase(QByteArrayView text, QByteArrayView word, qsizetype from)
{
    for (qsizetype i = from; i + word.size() <= text.size(); ++i) {
        if (startsWithNoCase(text, i, word))
            return i;
    }
    return -1;
}

QByteArrayView unquoted(QByteArrayView value)
{
    value = value.trimmed();
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.sliced(1, value.size() - 2);
    return value.trimmed();
}

// The name the page is decoded with, or empty when the label names nothing
// this machine can decode.
QByteArray canonicalName(QByteArrayView label)
{
    const QByteArray name = unquoted(label).toByteArray().toLower();
    if (name.isEmpty())
        return {};
    // The site labels its pages with every name of the Chinese national
    // charset family; GB18030 reads them all.
    static constexpr std::array<QByteArrayView, 6> Gb{"gb2312",     "gbk",   "x-gbk",
                                                      "gb_2312-80", "cp936", "gb18030"};
    const auto isGb = [](const QByteArray &lowerName) {
        return std::find(Gb.begin(), Gb.end(), lowerName) != Gb.end();
    };
    if (isGb(name))
        return Gb18030Name;
    if (const auto builtIn = QStringConverter::encodingForName(name.constData());
        builtIn && *builtIn != QStringConverter::System)
        return QStringConverter::nameForEncoding(*builtIn);
    const QStringDecoder decoder(name.constData());
    if (!decoder.isValid())
        return {};
    // ICU knows more names of the family ("euc-cn", "windows-936") and
    // matches labels loosely; it answers with one of the names above.
    const QByteArray found(decoder.name());
    return isGb(found.toLower()) ? Gb18030Name : found;
}

// A header sent twice reaches us as one, its values joined by ", " (Qt 6.4
// does so at times with the header of a redirect and that of the page it led
// to): the last media type in it is the page's own.
QByteArrayView lastMediaType(QByteArrayView contentType)
{
    for (qsizetype comma = contentType.lastIndexOf(','); comma >= 0;
         comma = comma > 0 ? contentType.lastIndexOf(',', comma - 1) : -1) {
        const QByteArrayView rest = contentType.sliced(comma + 1).trimmed();
        const qsizetype slash = rest.indexOf('/');
        const qsizetype end = rest.indexOf(';');
        if (slash > 0 && (end < 0 || slash < end) && !rest.first(slash).contains('='))
            return rest;
    }
    return contentType;
}

QByteArrayView headerCharset(QByteArrayView contentType)
{
    contentType = lastMediaType(contentType);
    qsizetype at = contentType.indexOf(';');
    while (at >= 0) {
        const qsizetype next = contentType.indexOf(';', at + 1);
        const QByteArrayView param =
            contentType.sliced(at + 1, (next < 0 ? contentType.size() : next) - at - 1);
        const qsizetype eq = param.indexOf('=');
        if (eq > 0 && param.first(eq).trimmed().compare("charset", Qt::CaseInsensitive) == 0)
            return unquoted(param.sliced(eq + 1));
        at = next;
    }
    return {};
}

// The value after "charset" in one <meta> tag, in either the charset=... or
// the http-equiv content="...; charset=..." form.
QByteArrayView charsetInTag(QByteArrayView tag)
{
    qsizetype at = 0;
    while ((at = indexOfNoCase(tag, "charset", at)) >= 0) {
        qsizetype i = at + 7;
        at = i;
        while (i < tag.size() && isSpace(tag[i]))
            ++i;
        if (i >= tag.size() || tag[i] != '=')
            continue;
        ++i;
        while (i < tag.size() && (isSpace(tag[i]) || tag[i] == '"' || tag[i] == '\''))
            ++i;
        const qsizetype start = i;
        while (i < tag.size() && isNameChar(tag[i]))
            ++i;
        if (i > start)
            return tag.sliced(start, i - start);
    }
    return {};
}

// True when the charset reads printable ASCII as ASCII. A <meta> label was
// found by reading the page as ASCII, so one naming a charset that does not
// (UTF-7, UTF-32, the EBCDIC family) cannot be true.
bool readsAscii(const QByteArray &name)
{
    if (name == Utf8Name || name == Gb18030Name)
        return true;
    static constexpr char Probe[] =
        "\t\n\r !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ"
        "[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~";
    QStringDecoder decoder(name.constData(), QStringConverter::Flag::Stateless);
    const QString text = decoder.decode(QByteArrayView(Probe));
    return !decoder.hasError() && text == QLatin1StringView(Probe);
}

QByteArray metaCharset(QByteArrayView body)
{
    const QByteArrayView head = body.first(std::min(body.size(), MetaScanBytes));
    qsizetype at = 0;
    while ((at = indexOfNoCase(head, "<meta", at)) >= 0) {
        at += 5;
        if (at < head.size() && !isSpace(head[at]) && head[at] != '/')
            continue; // <metadata> and friends
        const qsizetype close = head.indexOf('>', at);
        const QByteArrayView tag = head.sliced(at, (close < 0 ? head.size() : close) - at);
        QByteArray name = canonicalName(charsetInTag(tag));
        // A page that could be read as ASCII to find this label is not UTF-16.
        if (name.startsWith("UTF-16"))
            name = Utf8Name;
        if (!name.isEmpty() && readsAscii(name))
            return name;
    }
    return {};
}

// Strict: overlong forms, surrogates and values past U+10FFFF are invalid,
// as are sequences cut off at the end.
bool isValidUtf8(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const unsigned char *const end = p + bytes.size();
    while (p < end) {
        // Pages are mostly markup: skip ASCII eight bytes at a time.
        if (end - p >= 8) {
            quint64 word;
            std::memcpy(&word, p, 8);
            if ((word & 0x8080808080808080ULL) == 0) {
                p += 8;
                continue;
            }
        }
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int more = 0;
        unsigned char lo = 0x80;
        unsigned char hi = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            more = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2;
            if (c == 0xE0)
                lo = 0xA0;
            else if (c == 0xED)
                hi = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3;
            if (c == 0xF0)
                lo = 0x90;
            else if (c == 0xF4)
                hi = 0x8F;
        } else {
            return false;
        }
        if (end - p <= more)
            return false;
        if (p[1] < lo || p[1] > hi)
            return false;
        for (int k = 2; k <= more; ++k) {
            if ((p[k] & 0xC0) != 0x80)
                return false;
        }
        p += more + 1;
    }
    return true;
}

Choice choose(QByteArrayView body, QByteArrayView contentType)
{
    if (body.startsWith("\xEF\xBB\xBF"))
        return {Utf8Name, 3};
    if (body.startsWith("\xFF\xFE"))
        return {QByteArrayLiteral("UTF-16LE"), 2};
    if (body.startsWith("\xFE\xFF"))
        return {QByteArrayLiteral("UTF-16BE"), 2};
    if (QByteArray name = canonicalName(headerCharset(contentType)); !name.isEmpty())
        return {name, 0};
    if (QByteArray name = metaCharset(body); !name.isEmpty())
        return {name, 0};
    return {isValidUtf8(body) ? Utf8Name : Gb18030Name, 0};
}

} // namespace

QByteArray detect(QByteArrayView body, QByteArrayView contentType)
{
    return choose(body, contentType).name;
}

QString decode(QByteArrayView body, QByteArrayView contentType, QByteArray *charsetUsed)
{
    const Choice choice = choose(body, contentType);
    if (charsetUsed)
        *charsetUsed = choice.name;
    const QByteArrayView text = body.sliced(choice.bomBytes);
    if (choice.name == Utf8Name)
        return QString::fromUtf8(text);
    QStringDecoder decoder(choice.name.constData(), QStringConverter::Flag::Stateless);
    if (!decoder.isValid())
        return QString::fromUtf8(text);
    return decoder.decode(text);
}

} // namespace Charset
