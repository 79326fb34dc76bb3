#include "FortunePages.h"

#include "FortuneMaker.h"
#include "SiteSigns.h"
#include "SiteTemplate.h"

#include <array>

namespace FortunePages {
namespace {

using namespace FortuneMaker;

QString dateText(QDate date)
{
    return QStringLiteral("%1年%2月%3日")
        .arg(date.year())
        .arg(date.month(), 2, 10, QLatin1Char('0'))
        .arg(date.day(), 2, 10, QLatin1Char('0'));
}

QString weekdayText(QDate date)
{
    constexpr QStringView Days[] = {u"星期一", u"星期二", u"星期三", u"星期四",
                                    u"星期五", u"星期六", u"星期日"};
    return Days[date.dayOfWeek() - 1].toString();
}

QString dayPath(QStringView slug, QDate date)
{
    return u"/astro/view/" + slug + u"/day/" + date.toString(u"yyyyMMdd");
}

// Everything the site's pages share ------------------------------------------

// The site's templates, style sheet and scripts, read once.
struct SiteFiles
{
    QString page = SiteTemplate::read("page.html");
    QString day = SiteTemplate::read("day.html");
    QString css = SiteTemplate::read("page.css");
    QString headJs = SiteTemplate::read("head.js");
    QString footJs = SiteTemplate::read("foot.js");
};

const SiteFiles &site()
{
    static const SiteFiles files;
    return files;
}

// The signs in the bar above every page; `activeSlug` is shown as chosen.
QString signBar(QStringView activeSlug)
{
    QString out;
    for (const SiteSign &sign : Signs) {
        out += u"<a href=\"/astro/view/" + sign.slug + u"/day/\"";
        if (sign.slug == activeSlug)
            out += u" class=\"on\"";
        out += u">" + sign.name + u"</a>";
    }
    return out;
}

// The phone menu's signs; the menu is hidden on a desktop screen.
QString phoneSigns()
{
    QString out;
    for (const SiteSign &sign : Signs)
        out += u"<a href=\"/m/astro/view/" + sign.slug + u"/day/\">" + sign.name + u"运势</a>";
    return out;
}

// A whole page of the site around `content`: head, menus, footer and scripts.
QString sitePage(QByteArrayView charset, const QString &title, const QString &keywords,
                 const QString &description, QStringView bodyClass, QStringView activeSlug,
                 const QString &content)
{
    const SiteFiles &files = site();
    return SiteTemplate::fill(files.page, {{u"charset", QString::fromLatin1(charset)},
                                           {u"title", title},
                                           {u"keywords", keywords},
                                           {u"description", description},
                                           {u"page.css", files.css},
                                           {u"head.js", files.headJs},
                                           {u"body-class", bodyClass},
                                           {u"signs", signBar(activeSlug)},
                                           {u"phone-signs", phoneSigns()},
                                           {u"content", content},
                                           {u"foot.js", files.footJs}});
}

// A sign's day page --------------------------------------------------------

// The block the program reads. Every "<h4>" of the page is here, nine of
// them, and the description comes right after the last.
QString fortuneBlock(const Fortune &f)
{
    constexpr QStringView StarTitles[] = {u"综合运势", u"爱情运势", u"工作状况", u"理财投资"};
    const QString star = QStringLiteral("<img src=\"/static/img/star.gif\" alt=\"★\"/>");
    QString out =
        QStringLiteral("<div class=\"fortune-box clearfix\" id=\"fortune\">\n<div class=\"item\">");
    for (int i = 0; i < 4; ++i) {
        out += u"<h4>" + StarTitles[i] + u"</h4><p class=\"stars\">" + star.repeated(f.stars[i]) +
               u"</p></div><div class=\"item\">";
    }
    const std::array<std::pair<QStringView, QString>, 5> values{{
        {u"健康指数", QString::number(f.health) + u'%'},
        {u"商谈指数", QString::number(f.negotiation) + u'%'},
        {u"幸运颜色", f.colour.toString()},
        {u"幸运数字", QString::number(f.number)},
        {u"速配星座", f.matching.toString()},
    }};
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0)
            out += u"<div class=\"item\">";
        out += u"<h4>" + values[i].first + u"</h4><p>" + values[i].second + u"</p></div>\n";
    }
    out += u"<div class=\"lotconts\">" + f.description + u"</div>\n</div>\n";
    return out;
}

QString detailBlock(QStringView name, const Fortune &f)
{
    QString out = u"<div class=\"detail\">\n<h3>" + name + u"今日运势详解</h3>\n";
    constexpr QStringView Titles[] = {u"事业学业", u"爱情运势", u"财富运势", u"健康运势"};
    for (int i = 0; i < 4; ++i)
        out += u"<h5>" + Titles[i] + u"</h5><p>" + f.lines[i] + u"</p>\n";
    out += u"<h5>今日提醒</h5><p>" + f.advice + u"贵人方位在" + f.direction + u"，幸运颜色为" +
           f.colour + u"。</p>\n</div>\n";
    return out;
}

QString profileBlock(const SiteSign &sign)
{
    if (sign.element.isEmpty())
        return {};
    return u"<div class=\"detail profile\"><h3>" + sign.name +
           u"小档案</h3><ul class=\"clearfix\">" + u"<li>日期：" + sign.dates +
           u"</li><li>四象属性：" + sign.element + u"</li><li>守护星：" + sign.ruler +
           u"</li><li>幸运石：" + sign.stone + u"</li></ul><p>" + sign.name + u"是十二星座中的" +
           sign.element + u"星座，受" + sign.ruler + u"守护。想了解更多" + sign.name +
           u"的性格、爱情和事业，请查看<a href=\"/astro/character/" + sign.slug + u"/\">" +
           sign.name + u"性格解析</a>和<a href=\"/astro/love/" + sign.slug + u"/\">" + sign.name +
           u"爱情专题</a>。</p></div>\n";
}

// Stars out of five; a fortune has one at least and five at most.
QString textStars(int stars)
{
    return QString(stars, u'★') + QString(5 - stars, u'☆');
}

// Today's board of all twelve signs, as the site shows it under each page.
QString rankingRows(QDate date)
{
    QString out;
    for (const SiteSign &sign : Signs) {
        const Fortune f = fortuneFor(sign.slug, date);
        out += u"<tr><td><a href=\"/astro/view/" + sign.slug + u"/day/\">" + sign.name +
               u"</a></td><td>" + textStars(f.stars[0]) + u"</td><td>" + textStars(f.stars[1]) +
               u"</td><td>" + textStars(f.stars[2]) + u"</td><td>" + textStars(f.stars[3]) +
               u"</td><td>" + QString::number(f.health) + u"%</td></tr>\n";
    }
    return out;
}

QString historyLinks(QStringView slug, QStringView name, QDate date)
{
    QString out;
    for (int back = 1; back <= 14; ++back) {
        const QDate day = date.addDays(-back);
        out += u"<li><a href=\"" + dayPath(slug, day) + u"\">" + name + dateText(day) +
               u"运势</a></li>";
    }
    return out;
}

QString relatedLinks(QStringView slug, QStringView name)
{
    constexpr QStringView Topics[] = {
        u"男生喜欢一个人的表现", u"和什么星座最配",     u"的性格特点全面分析",   u"女生的爱情观",
        u"本周运势早知道",       u"适合什么样的工作",   u"的幸运石与守护神",     u"吵架后如何和好",
        u"的优点和缺点",         u"今年的整体运势解析", u"最容易被哪个星座吸引", u"在职场上的表现",
    };
    QString out;
    int n = 0;
    for (QStringView topic : Topics) {
        out += u"<li><a href=\"/astro/" + slug + u"/article/" + QString::number(1021 + 37 * n++) +
               u".html\">" + name + topic + u"</a></li>";
    }
    return out;
}

QString commentItems(QDate date, Dice &dice)
{
    constexpr QStringView People[] = {u"星语心愿", u"晴天小猪", u"月光宝盒", u"一只喵",
                                      u"听风的人", u"木子李",   u"橘子汽水", u"夏天的风"};
    constexpr QStringView Words[] = {
        u"今天的运势好准啊，上午果然被领导表扬了！", u"说我财运不错，结果出门就捡到十块钱，哈哈。",
        u"每天早上都要来看一眼，已经成习惯了。",     u"速配星座说的是我对象的星座，太巧了吧。",
        u"健康指数这么低，看来今晚得早点睡了。",     u"幸运颜色是我最喜欢的颜色，开心。",
        u"希望明天的运势能好一点，加油！",           u"准不准不重要，看着开心就好啦。",
    };
    QString out;
    const int count = dice.between(4, 8);
    for (int i = 0; i < count; ++i) {
        out += u"<li><span class=\"who\">" + dice.pick(People) + u"</span><span class=\"when\">" +
               date.toString(u"yyyy-MM-dd") +
               QStringLiteral(" %1:%2")
                   .arg(dice.between(7, 22), 2, 10, QLatin1Char('0'))
                   .arg(dice.between(0, 59), 2, 10, QLatin1Char('0')) +
               u"</span><p>" + dice.pick(Words) + u"</p></li>";
    }
    return out;
}

// The sidebar's list of the signs with their days.
QString sidebarSigns()
{
    QString out;
    for (const SiteSign &sign : Signs) {
        out += u"<li><a href=\"/astro/view/" + sign.slug + u"/day/\">" + sign.name + u"</a><span>" +
               sign.dates + u"</span></li>";
    }
    return out;
}

// The two choices of the pairing form, this page's sign chosen in the first.
QString pairChoices(QStringView slug)
{
    QString out;
    for (QStringView field : {u"a", u"b"}) {
        out += u"<select name=\"" + field + u"\">";
        for (const SiteSign &sign : Signs) {
            out += u"<option value=\"" + sign.slug + u"\"";
            if (field == u"a" && sign.slug == slug)
                out += u" selected";
            out += u">" + sign.name + u"</option>";
        }
        out += u"</select>";
    }
    return out;
}

QString signPage(const SiteSign &sign, QDate date, QByteArrayView charset)
{
    const Fortune f = fortuneFor(sign.slug, date);
    // The page's clutter rolls its own dice, apart from the fortune.
    Dice dice(seedFor(sign.slug, date) ^ 0x5A17E5EEDull);
    const QString day = dateText(date);
    const QString range =
        sign.dates.isEmpty() ? QString() : u"<p class=\"range\">" + sign.dates + u"</p>";

    const QString content =
        SiteTemplate::fill(site().day, {{u"slug", sign.slug},
                                        {u"name", sign.name},
                                        {u"range", range},
                                        {u"day", day},
                                        {u"weekday", weekdayText(date)},
                                        {u"date", date.toString(u"yyyy-MM-dd")},
                                        {u"today", dayPath(sign.slug, date)},
                                        {u"yesterday", dayPath(sign.slug, date.addDays(-1))},
                                        {u"yesterday-text", dateText(date.addDays(-1))},
                                        {u"tomorrow", dayPath(sign.slug, date.addDays(1))},
                                        {u"tomorrow-text", dateText(date.addDays(1))},
                                        {u"fortune", fortuneBlock(f)},
                                        {u"detail", detailBlock(sign.name, f)},
                                        {u"profile", profileBlock(sign)},
                                        {u"ranking", rankingRows(date)},
                                        {u"history", historyLinks(sign.slug, sign.name, date)},
                                        {u"related", relatedLinks(sign.slug, sign.name)},
                                        {u"comments", commentItems(date, dice)},
                                        {u"sidebar-signs", sidebarSigns()},
                                        {u"pair", pairChoices(sign.slug)}});
    return sitePage(
        charset, sign.name + u"今日运势 " + day + u" - 星历网",
        sign.name + u"今日运势," + sign.name + u"运势," + sign.name +
            u"每日运势,星座运势查询,今日星座运势",
        u"星历网为您提供" + day + sign.name + u"今日运势，包括" + sign.name +
            u"综合运势、爱情运势、工作状况、理财投资、健康指数、幸运颜色、幸运数字和速配星座。",
        u" class=\"astro-day\"", sign.slug, content);
}

// Small pages ---------------------------------------------------------------

QString plainPage(QByteArrayView charset, const QString &title, const QString &body)
{
    return sitePage(charset, title, QStringLiteral("星座运势,星历网"), title, {}, {}, body);
}

QString forumPage(QByteArrayView charset, QStringView forum, QStringView motto,
                  std::initializer_list<QStringView> threads)
{
    QString body = u"<div class=\"detail\"><h1>" + forum + u"</h1><p>" + motto +
                   u"</p>\n<h3>最新主题</h3><ul>";
    int n = 0;
    for (QStringView thread : threads) {
        body += u"<li><a href=\"thread-" + QString::number(3200 + 17 * n++) + u"-1-1.html\">" +
                thread + u"</a></li>";
    }
    body += u"</ul>\n<p>离线版本：论坛内容需要联网后才能查看完整帖子。</p></div>\n";
    return plainPage(charset, forum.toString(), body);
}

} // namespace

QString pageForSlug(QStringView slug, QDate date, QByteArrayView charset)
{
    const SiteSign *sign = signBySlug(slug);
    if (!sign || !date.isValid())
        return {};
    return signPage(*sign, date, charset);
}

bool knowsSlug(QStringView slug)
{
    return signBySlug(slug) != nullptr;
}

QString indexPage(QByteArrayView charset)
{
    QString body =
        QStringLiteral("<div class=\"detail\"><h1>十二星座今日运势</h1><ul class=\"clearfix\">");
    for (const SiteSign &sign : Signs) {
        body += u"<li><a href=\"/astro/view/" + sign.slug + u"/day/\">" + sign.name +
                u"今日运势</a> <span>" + sign.dates + u"</span></li>\n";
    }
    body += u"</ul></div>\n";
    return plainPage(charset, QStringLiteral("星历网 - 十二星座每日运势"), body);
}

QString makerForumPage(QByteArrayView charset)
{
    return forumPage(charset, u"Kw系列软件论坛", u"Kw系列软件的发布、更新与交流之地。",
                     {u"【公告】知微阁 V2 发布，每日星座运势一键查看", u"知微阁使用问题集中反馈帖",
                      u"【教程】如何把运势分享给好友", u"新版本更新日志（持续更新）",
                      u"大家今天的运势准吗？来晒晒"});
}

QString partnerForumPage(QByteArrayView charset)
{
    return forumPage(charset, u"云帆联盟", u"云帆联盟：软件爱好者的交流社区。",
                     {u"【置顶】新人报到专区", u"软件推荐：好用的小工具合集",
                      u"编程学习交流区每周话题", u"联盟成员作品展示", u"论坛规则与版主招募"});
}

QString notFoundPage(QByteArrayView charset)
{
    return plainPage(
        charset, QStringLiteral("页面不存在 - 星历网"),
        QStringLiteral(
            "<div class=\"detail\"><h1>404 页面不存在</h1><p>您访问的页面不存在或已被删除，"
            "请<a href=\"/\">返回首页</a>查看十二星座今日运势。</p></div>\n"));
}

} // namespace FortunePages
