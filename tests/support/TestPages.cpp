#include "TestPages.h"

#include <QStringList>

namespace TestPages {

QString page(const PageSpec &spec)
{
    const auto stars = [](int n) {
        return QStringLiteral("<img src=\"/static/star.gif\" alt=\"*\"/>").repeated(n);
    };
    const QStringList sections = {
        QStringLiteral("综合运势</h4><p>") + stars(spec.overall) +
            QStringLiteral("</p></div><div class=\"item\">"),
        QStringLiteral("爱情运势</h4><p>") + stars(spec.love) +
            QStringLiteral("</p></div><div class=\"item\">"),
        QStringLiteral("工作状况</h4><p>") + stars(spec.work) +
            QStringLiteral("</p></div><div class=\"item\">"),
        QStringLiteral("理财投资</h4><p>") + stars(spec.finance) +
            QStringLiteral("</p></div><div class=\"item\">"),
        QStringLiteral("健康指数</h4><p>") + spec.health +
            QStringLiteral("</p></div><div class=\"item\">"),
        QStringLiteral("商谈指数</h4><p>") + spec.negotiation +
            QStringLiteral("</p></div><div class=\"item\">"),
        QStringLiteral("幸运颜色</h4><p>") + spec.colour +
            QStringLiteral("</p></div><div class=\"item\">"),
        QStringLiteral("幸运数字</h4><p>") + spec.number +
            QStringLiteral("</p></div><div class=\"item\">"),
        QStringLiteral("速配星座</h4><p>") + spec.matching + QStringLiteral("</p></div>"),
    };
    QString page =
        QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>运势</title>"
                       "</head><body><div class=\"fortune\"><div class=\"item\">");
    for (int k = 0; k < spec.sections && k < sections.size(); ++k)
        page += QStringLiteral("<h4>") + sections[k];
    if (spec.withDescription)
        page += QStringLiteral("<div class=\"lotconts\">") + spec.description +
                QStringLiteral("</div>");
    page += QStringLiteral("</div></body></html>");
    return page;
}

PageSpec ownPage(int index, const QString &slug, const QString &name, bool tomorrow)
{
    PageSpec spec;
    spec.overall = index % 5 + 1;
    spec.love = (index + 1) % 5 + 1;
    spec.work = (index + 2) % 5 + 1;
    spec.finance = (index + 3) % 5 + 1;
    spec.colour = slug + u"色";
    spec.number = QString::number(index);
    spec.matching = name;
    spec.description = name + (tomorrow ? u"的明日运势" : u"的今日运势");
    return spec;
}

} // namespace TestPages
