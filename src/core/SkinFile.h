#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

#include <optional>

// A skin as its .she file holds it: named colours and a style sheet template
// that refers to them as @name. The file format is described in
// assets/runtime/README.md.
class SkinFile
{
public:
    static constexpr int Version = 1;
    // Larger files are not skins; refusing them early keeps a stray file cheap.
    static constexpr qint64 MaxSize = 1024 * 1024;

    // nullopt, with the reason in *error, unless the bytes are a whole skin of
    // our version whose template names only colours it defines.
    static std::optional<SkinFile> parse(const QByteArray &bytes, QString *error = nullptr);

    static bool hasMagic(const QByteArray &bytes);

    QString name() const { return m_name; }
    // The colour of that name as "#rrggbb", empty for a name the file does
    // not define.
    QString colour(const QString &name) const { return m_colours.value(name); }
    QString styleTemplate() const { return m_styleTemplate; }

    // The template with every @name replaced by the "#rrggbb" colourOf gives
    // for it.
    template <typename ColourOf> QString styleSheet(ColourOf colourOf) const
    {
        QString sheet;
        qsizetype from = 0;
        for (const Reference &ref : m_references) {
            sheet += QStringView(m_styleTemplate).sliced(from, ref.at - from);
            sheet += colourOf(ref.name);
            from = ref.at + 1 + ref.name.size();
        }
        sheet += QStringView(m_styleTemplate).sliced(from);
        return sheet;
    }

private:
    struct Reference
    {
        qsizetype at; // of the '@'
        QString name;
    };

    QString m_name;
    QMap<QString, QString> m_colours;
    QString m_styleTemplate;
    QList<Reference> m_references;
};
