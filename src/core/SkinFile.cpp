#include "SkinFile.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <QStringList>

namespace {

constexpr char Magic[] = ".SHE";
constexpr qsizetype MagicSize = sizeof(Magic) - 1;

// The palette cannot be built without these.
constexpr QStringView RequiredColours[] = {u"window",    u"windowText",     u"base",
                                           u"text",      u"button",         u"buttonText",
                                           u"highlight", u"highlightedText"};

const QRegularExpression &colourLine()
{
    // name = #rrggbb, optionally followed by a ; comment
    static const QRegularExpression pattern(
        QStringLiteral(R"(^([A-Za-z_][A-Za-z0-9_]*)\s*=\s*(#[0-9A-Fa-f]{6})\s*(?:;.*)?$)"));
    return pattern;
}

const QRegularExpression &headerLine()
{
    static const QRegularExpression pattern(
        QStringLiteral(R"(^([A-Za-z_][A-Za-z0-9_]*)\s*=\s*(.*)$)"));
    return pattern;
}

const QRegularExpression &reference()
{
    static const QRegularExpression pattern(QStringLiteral(R"(@([A-Za-z_][A-Za-z0-9_]*))"));
    return pattern;
}

// Qt opens what a style sheet names in url(...) when it draws: a file of
// anyone's choosing, a named pipe that blocks the window's thread for good.
// A skin may name only the program's own resources, url(:/...). Escapes
// could spell url( in other letters, and a skin needs none. A qproperty-
// line sets any property of a control (a label's text as rich text, with
// pictures read from any path): a skin sets colours, not properties.
QString whyNotOwnFiles(const QString &style)
{
    if (style.contains(u'\\'))
        return QStringLiteral("a backslash in the style");
    if (style.contains(u"qproperty-", Qt::CaseInsensitive))
        return QStringLiteral("the style sets a property of a control");
    static const QRegularExpression url(QStringLiteral(R"(url\(\s*['"]?(.?.?))"),
                                        QRegularExpression::CaseInsensitiveOption);
    auto it = url.globalMatch(style);
    while (it.hasNext()) {
        if (it.next().capturedView(1) != u":/")
            return QStringLiteral("the style names a file that is not one of the program's own");
    }
    return {};
}

std::optional<SkinFile> refuse(QString *error, const QString &reason)
{
    if (error)
        *error = reason;
    return std::nullopt;
}

} // namespace

bool SkinFile::hasMagic(const QByteArray &bytes)
{
    return bytes.startsWith(QByteArrayView(Magic, MagicSize));
}

std::optional<SkinFile> SkinFile::parse(const QByteArray &bytes, QString *error)
{
    if (!hasMagic(bytes))
        return refuse(error, QStringLiteral("not a skin file"));
    if (bytes.size() > MaxSize)
        return refuse(error, QStringLiteral("too large for a skin file"));

    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(QByteArrayView(bytes).sliced(MagicSize));
    if (utf8.hasError())
        return refuse(error, QStringLiteral("not UTF-8 text"));

    QStringList lines = text.split(u'\n');
    for (QString &line : lines) {
        if (line.endsWith(u'\r'))
            line.chop(1);
    }
    // The magic stands alone on the first line.
    if (!lines.first().trimmed().isEmpty())
        return refuse(error, QStringLiteral("unexpected text after the magic"));

    enum class Section { Header, Colours, Style, End };
    Section section = Section::Header;
    SkinFile skin;
    int version = 0;
    QStringList style;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QString &line = lines.at(i);
        const QString where = QStringLiteral("line %1: ").arg(i + 1);
        if (section == Section::End) {
            if (!line.trimmed().isEmpty())
                return refuse(error, where + u"text after [end]");
            continue;
        }
        if (section == Section::Style && line != u"[end]") {
            style.append(line);
            continue;
        }
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(u';'))
            continue;
        if (trimmed == u"[colours]" && section == Section::Header) {
            section = Section::Colours;
            continue;
        }
        if (trimmed == u"[style]" && section != Section::Style) {
            section = Section::Style;
            continue;
        }
        if (trimmed == u"[end]" && section == Section::Style) {
            section = Section::End;
            continue;
        }
        if (trimmed.startsWith(u'['))
            return refuse(error, where + u"unexpected section " + trimmed);

        if (section == Section::Header) {
            const auto match = headerLine().match(trimmed);
            if (!match.hasMatch())
                return refuse(error, where + u"not a key = value line");
            const QString value = match.captured(2).trimmed();
            if (match.capturedView(1) == u"version") {
                bool ok = false;
                version = value.toInt(&ok);
                if (!ok)
                    return refuse(error, where + u"bad version");
            } else if (match.capturedView(1) == u"name") {
                skin.m_name = value;
            }
            // Other keys belong to later versions and are read past.
            continue;
        }

        const auto match = colourLine().match(trimmed);
        if (!match.hasMatch())
            return refuse(error, where + u"not a name = #rrggbb line");
        const QString name = match.captured(1);
        if (skin.m_colours.contains(name))
            return refuse(error, where + u"colour " + name + u" defined twice");
        skin.m_colours.insert(name, match.captured(2).toLower());
    }

    // A file cut short loses its [end] line, wherever the cut fell.
    if (section != Section::End)
        return refuse(error, QStringLiteral("no [end]: the file is cut short"));
    if (version != Version)
        return refuse(error, QStringLiteral("version %1 is not %2").arg(version).arg(Version));
    for (QStringView name : RequiredColours) {
        if (!skin.m_colours.contains(name.toString()))
            return refuse(error, u"colour " + name.toString() + u" missing");
    }

    skin.m_styleTemplate = style.join(u'\n');
    if (skin.m_styleTemplate.trimmed().isEmpty())
        return refuse(error, QStringLiteral("empty style"));
    if (skin.m_styleTemplate.count(u'{') != skin.m_styleTemplate.count(u'}'))
        return refuse(error, QStringLiteral("unbalanced braces in the style"));
    if (const QString why = whyNotOwnFiles(skin.m_styleTemplate); !why.isEmpty())
        return refuse(error, why);
    auto it = reference().globalMatch(skin.m_styleTemplate);
    while (it.hasNext()) {
        const auto match = it.next();
        const QString name = match.captured(1);
        if (!skin.m_colours.contains(name))
            return refuse(error, u"the style uses the undefined colour @" + name);
        skin.m_references.append({match.capturedStart(0), name});
    }
    return skin;
}
