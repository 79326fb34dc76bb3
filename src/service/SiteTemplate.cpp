#include "SiteTemplate.h"

#include <QFile>
#include <QLatin1StringView>

#include <algorithm>

namespace SiteTemplate {

QString read(const char *name)
{
    QFile file(u":/site/" + QLatin1StringView(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("the service was built without its resource %s", name);
    return QString::fromUtf8(file.readAll());
}

QString fill(QStringView text, Slots values)
{
    QString out;
    qsizetype from = 0;
    for (qsizetype open; (open = text.indexOf(u"{{", from)) >= 0;) {
        const qsizetype close = text.indexOf(u"}}", open + 2);
        const QStringView name =
            close < 0 ? text.sliced(open) : text.sliced(open + 2, close - open - 2);
        const auto slot = std::find_if(values.begin(), values.end(),
                                       [name](const auto &value) { return value.first == name; });
        // A slot without a value means the templates and the code have drifted
        // apart: better to stop than to serve a page with a hole in it.
        if (close < 0 || slot == values.end())
            qFatal("the site's slot %s has no value", qPrintable(name.toString()));
        out += text.sliced(from, open - from);
        out += slot->second;
        from = close + 2;
    }
    out += text.sliced(from);
    return out;
}

} // namespace SiteTemplate
