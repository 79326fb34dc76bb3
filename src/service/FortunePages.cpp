#include "FortunePages.h"

#include "FortuneMaker.h"
#include "SiteSigns.h"
#include "fortune/SignInfo.h"

#include <QFile>
#include <QLatin1StringView>

#include <array>

namespace FortunePages {
namespace {

using FortuneMaker::Dice;
using FortuneMaker::Fortune;
using FortuneMaker::fortuneFor;
using FortuneMaker::seedFor;

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

// The site's style sheet and scripts, as files of their own (site/), built
// into the service and read once.
QString siteFile(const char *name)
{
    QFile file(u":/site/" + QLatin1StringView(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("the service was built without its resource %s", name);
    return QString::fromUtf8(file.readAll());
}

const QString &styleSheet()
{
    static const QString css =
        u"<style type=\"text/css\">\n" + siteFile("page.css") + u"</style>\n";
    return css;
}

const QString &headScripts()
{
    static const QString js =
        u"<script type=\"text/javascript\" src=\"/static/js/jquery-1.12.4.min.js\"></script>\n"
        "<script type=\"text/javascript\" src=\"/static/js/common.js?v=20240311\"></script>\n"
        "<script type=\"text/javascript\">\n" +
        siteFile("head.js") + u"</script>\n";
    return js;
}

const QString &footScripts()
{
    static const QString js =
        u"<a id=\"gotop\" href=\"javascript:void(0)\" title=\"返回顶部\"></a>\n"
        "<script type=\"text/javascript\" src=\"/static/js/astro.js?v=20240311\"></script>\n"
        "<script type=\"text/javascript\">\n" +
        siteFile("foot.js") + u"</script>\n";
    return js;
}

QString head(QByteArrayView charset, const QString &title, const QString &keywords,
             const QString &description)
{
    QString out;
    out += u"<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"" +
           QLatin1StringView(charset) + u"\">\n";
    out += u"<meta http-equiv=\"X-UA-Compatible\" content=\"IE=edge\">\n"
           u"<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
           u"<meta name=\"renderer\" content=\"webkit\">\n";
    out += u"<title>" + title + u"</title>\n";
    out += u"<meta name=\"keywords\" content=\"" + keywords + u"\">\n";
    out += u"<meta name=\"description\" content=\"" + description + u"\">\n";
    out +=
        u"<link rel=\"shortcut icon\" href=\"/favicon.ico\" type=\"image/x-icon\">\n"
        u"<link rel=\"stylesheet\" type=\"text/css\" href=\"/static/css/base.css?v=20240311\">\n"
        u"<link rel=\"stylesheet\" type=\"text/css\" href=\"/static/css/astro.css?v=20240311\">\n";
    out += styleSheet();
    out += headScripts();
    out += u"</head>\n";
    return out;
}

QString siteTop(QStringView activeSlug)
{
    QString out;
    out += u"<div id=\"topbar\"><div class=\"wrap\"><span>欢迎来到星历网，每天都有好运气！</span>"
           u"<span class=\"right\"><a href=\"/user/login/\">登录</a>|<a href=\"/user/register/\">"
           u"免费注册</a>|<a href=\"/m/\">手机版</a>|<a href=\"javascript:void(0)\" "
           u"onclick=\"addFavorite()\">收藏本站</a>|<a href=\"/sitemap/\">网站地图</a></span>"
           u"</div></div>\n";
    out += u"<div id=\"header\"><div class=\"wrap clearfix\">"
           u"<div class=\"logo\"><a href=\"/\" title=\"星历网\">星历网</a></div>"
           u"<div class=\"search\"><form action=\"/search/\" method=\"get\">"
           u"<input class=\"kw\" type=\"text\" name=\"q\" placeholder=\"搜索星座、运势、配对\">"
           u"<button type=\"submit\">搜索</button></form></div></div></div>\n";
    out += u"<div id=\"nav\"><div class=\"wrap\"><ul class=\"clearfix\">"
           u"<li><a href=\"/\">首页</a></li>"
           u"<li class=\"on\"><a href=\"/astro/\">星座运势</a></li>"
           u"<li><a href=\"/astro/pair/\">星座配对</a></li>"
           u"<li><a href=\"/astro/character/\">星座性格</a></li>"
           u"<li><a href=\"/astro/love/\">星座爱情</a></li>"
           u"<li><a href=\"/shengxiao/\">生肖运势</a></li>"
           u"<li><a href=\"/tarot/\">塔罗占卜</a></li>"
           u"<li><a href=\"/xingming/\">姓名测试</a></li>"
           u"<li><a href=\"/jiemeng/\">周公解梦</a></li>"
           u"<li><a href=\"/huangli/\">老黄历</a></li>"
           u"<li><a href=\"/bbs/\">论坛</a></li>"
           u"</ul></div></div>\n";
    out += u"<div id=\"subnav\"><div class=\"wrap\">";
    for (const SiteSign &sign : Signs) {
        out += u"<a href=\"/astro/view/" + sign.slug + u"/day/\"";
        if (sign.slug == activeSlug)
            out += u" class=\"on\"";
        out += u">" + sign.name + u"</a>";
    }
    out += u"</div></div>\n";
    // The phone menu, hidden on a desktop screen.
    out += u"<div id=\"mnav\" style=\"display:none\"><a href=\"/m/\">手机首页</a>"
           u"<a href=\"/m/astro/\">星座运势</a><a href=\"/m/astro/pair/\">星座配对</a>"
           u"<a href=\"/m/shengxiao/\">生肖运势</a><a href=\"/m/tarot/\">塔罗占卜</a>"
           u"<a href=\"/m/huangli/\">老黄历</a>";
    for (const SiteSign &sign : Signs)
        out += u"<a href=\"/m/astro/view/" + sign.slug + u"/day/\">" + sign.name + u"运势</a>";
    out += u"</div>\n";
    return out;
}

QString siteFooter()
{
    return QStringLiteral(
        "<div id=\"footer\"><div class=\"wrap\">\n"
        "<p><a href=\"/about/\">关于我们</a>|<a href=\"/contact/\">联系我们</a>|"
        "<a href=\"/ad/\">广告服务</a>|<a href=\"/links/\">友情链接</a>|"
        "<a href=\"/privacy/\">隐私政策</a>|<a href=\"/sitemap/\">网站地图</a>|"
        "<a href=\"/bbs/\">意见反馈</a></p>\n"
        "<p class=\"links\">友情链接：<a href=\"/links/go?id=11\">星座屋</a>"
        "<a href=\"/links/go?id=12\">每日黄历</a><a href=\"/links/go?id=13\">塔罗小站</a>"
        "<a href=\"/links/go?id=14\">解梦大全</a><a href=\"/links/go?id=15\">生肖运程</a>"
        "<a href=\"/links/go?id=16\">姓名测试</a><a href=\"/links/go?id=17\">心理测试</a>"
        "<a href=\"/links/go?id=18\">万年历</a><a href=\"/links/go?id=19\">星座配对</a>"
        "<a href=\"/links/go?id=20\">更多链接</a></p>\n"
        "<p class=\"tags\">热门标签：<a href=\"/tag/shuini/\">水星逆行</a>"
        "<a href=\"/tag/taohua/\">桃花运</a><a href=\"/tag/caiyun/\">财运</a>"
        "<a href=\"/tag/kaoshi/\">考试运</a><a href=\"/tag/fuhe/\">复合</a>"
        "<a href=\"/tag/xingpan/\">星盘</a><a href=\"/tag/shangsheng/\">上升星座</a>"
        "<a href=\"/tag/yueliang/\">月亮星座</a><a href=\"/tag/benmingnian/\">本命年</a>"
        "<a href=\"/tag/zhiye/\">职业规划</a></p>\n"
        "<p>本站内容仅供娱乐参考，请勿迷信。星座运势每日零点更新。</p>\n"
        "<p>Copyright &copy; 2006-2026 星历网 All Rights Reserved.</p>\n"
        "</div></div>\n");
}

// A sign's day page --------------------------------------------------------

QString starImages(int count)
{
    QString out;
    for (int i = 0; i < count; ++i)
        out += u"<img src=\"/static/img/star.gif\" alt=\"★\"/>";
    return out;
}

// The block the program reads. Every "<h4>" of the page is here, nine of
// them, and the description comes right after the last.
QString fortuneBlock(const Fortune &f)
{
    constexpr QStringView StarTitles[] = {u"综合运势", u"爱情运势", u"工作状况", u"理财投资"};
    QString out =
        QStringLiteral("<div class=\"fortune-box clearfix\" id=\"fortune\">\n<div class=\"item\">");
    for (int i = 0; i < 4; ++i) {
        out += u"<h4>" + StarTitles[i] + u"</h4><p class=\"stars\">" + starImages(f.stars[i]) +
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

QString textStars(int stars)
{
    QString out;
    for (int i = 0; i < 5; ++i)
        out += i < stars ? u'★' : u'☆';
    return out;
}

// Today's board of all twelve signs, as the site shows it under each page.
QString rankingBlock(QDate date)
{
    QString out = QStringLiteral("<div class=\"related ranking\"><h3>十二星座今日运势排行</h3>"
                                 "<table width=\"100%\" cellspacing=\"0\" cellpadding=\"4\">"
                                 "<tr><th>星座</th><th>综合</th><th>爱情</th><th>工作</th>"
                                 "<th>财运</th><th>健康</th></tr>\n");
    for (const SiteSign &sign : Signs) {
        const Fortune f = fortuneFor(sign.slug, date);
        out += u"<tr><td><a href=\"/astro/view/" + sign.slug + u"/day/\">" + sign.name +
               u"</a></td><td>" + textStars(f.stars[0]) + u"</td><td>" + textStars(f.stars[1]) +
               u"</td><td>" + textStars(f.stars[2]) + u"</td><td>" + textStars(f.stars[3]) +
               u"</td><td>" + QString::number(f.health) + u"%</td></tr>\n";
    }
    out += u"</table></div>\n";
    return out;
}

QString historyBlock(QStringView slug, QStringView name, QDate date)
{
    QString out =
        u"<div class=\"related history\"><h3>" + name + u"往日运势</h3><ul class=\"clearfix\">";
    for (int back = 1; back <= 14; ++back) {
        const QDate day = date.addDays(-back);
        out += u"<li><a href=\"" + dayPath(slug, day) + u"\">" + name + dateText(day) +
               u"运势</a></li>";
    }
    out += u"</ul><form class=\"pick\" action=\"/astro/view/" + slug +
           u"/day/\" method=\"get\"><label>查看其他日期：<input type=\"text\" id=\"pickDay\" "
           u"value=\"" +
           date.toString(u"yyyy-MM-dd") + u"\" autocomplete=\"off\"></label>" +
           u"<button type=\"button\" id=\"pickGo\">查看</button></form></div>\n";
    return out;
}

QString prevNextBlock(QStringView slug, QStringView name, QDate date)
{
    return u"<div class=\"prevnext\"><a href=\"" + dayPath(slug, date.addDays(-1)) +
           u"\">上一天：" + name + dateText(date.addDays(-1)) + u"运势</a><a href=\"" +
           dayPath(slug, date.addDays(1)) + u"\">下一天：" + name + dateText(date.addDays(1)) +
           u"运势</a></div>\n";
}

QString shareBlock()
{
    return QStringLiteral(
        "<div class=\"share\">分享到："
        "<a href=\"#\" data-url=\"/share/weibo?title={t}&amp;url={u}\">微博</a>"
        "<a href=\"#\" data-url=\"/share/qzone?title={t}&amp;url={u}\">QQ空间</a>"
        "<a href=\"#\" data-url=\"/share/wechat?url={u}\">微信</a>"
        "<a href=\"#\" data-url=\"/share/douban?title={t}&amp;url={u}\">豆瓣</a></div>\n");
}

QString relatedBlock(QStringView slug, QStringView name)
{
    constexpr QStringView Topics[] = {
        u"男生喜欢一个人的表现", u"和什么星座最配",     u"的性格特点全面分析",   u"女生的爱情观",
        u"本周运势早知道",       u"适合什么样的工作",   u"的幸运石与守护神",     u"吵架后如何和好",
        u"的优点和缺点",         u"今年的整体运势解析", u"最容易被哪个星座吸引", u"在职场上的表现",
    };
    QString out = QStringLiteral("<div class=\"related\"><h3>相关阅读</h3><ul class=\"clearfix\">");
    int n = 0;
    for (QStringView topic : Topics) {
        out += u"<li><a href=\"/astro/" + slug + u"/article/" + QString::number(1021 + 37 * n++) +
               u".html\">" + name + topic + u"</a></li>";
    }
    out += u"</ul></div>\n";
    return out;
}

QString commentsBlock(QStringView name, QDate date, Dice &dice)
{
    constexpr QStringView People[] = {u"星语心愿", u"晴天小猪", u"月光宝盒", u"一只喵",
                                      u"听风的人", u"木子李",   u"橘子汽水", u"夏天的风"};
    constexpr QStringView Words[] = {
        u"今天的运势好准啊，上午果然被领导表扬了！", u"说我财运不错，结果出门就捡到十块钱，哈哈。",
        u"每天早上都要来看一眼，已经成习惯了。",     u"速配星座说的是我对象的星座，太巧了吧。",
        u"健康指数这么低，看来今晚得早点睡了。",     u"幸运颜色是我最喜欢的颜色，开心。",
        u"希望明天的运势能好一点，加油！",           u"准不准不重要，看着开心就好啦。",
    };
    QString out = QStringLiteral("<div class=\"comments\"><h3>网友评论</h3><ul>");
    const int count = dice.between(4, 8);
    for (int i = 0; i < count; ++i) {
        out += u"<li><span class=\"who\">" + dice.pick(People) + u"</span><span class=\"when\">" +
               date.toString(u"yyyy-MM-dd") +
               QStringLiteral(" %1:%2")
                   .arg(dice.between(7, 22), 2, 10, QLatin1Char('0'))
                   .arg(dice.between(0, 59), 2, 10, QLatin1Char('0')) +
               u"</span><p>" + dice.pick(Words) + u"</p></li>";
    }
    out += u"</ul><form action=\"/comment/post\" method=\"post\"><textarea name=\"content\" "
           u"rows=\"3\" cols=\"60\" placeholder=\"说说你今天的运势准不准……\"></textarea>"
           u"<input type=\"hidden\" name=\"topic\" value=\"" +
           name + u"\"><button type=\"submit\">发表评论</button></form></div>\n";
    return out;
}

QString sidebar(QStringView slug)
{
    QString out =
        QStringLiteral("<div class=\"sidebar\">\n<div class=\"box\"><h3>十二星座今日运势</h3>"
                       "<ul class=\"signs clearfix\">");
    for (const SiteSign &sign : Signs) {
        out += u"<li><a href=\"/astro/view/" + sign.slug + u"/day/\">" + sign.name + u"</a><span>" +
               sign.dates + u"</span></li>";
    }
    out += QStringLiteral(
        "</ul></div>\n<div class=\"box pair\"><h3>星座配对</h3><form id=\"pairForm\">");
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
    out += u"<button type=\"submit\">配对</button></form></div>\n"
           u"<div class=\"box hot\"><h3>热门测算</h3><ul>"
           u"<li class=\"top\"><em>1</em><a href=\"/tarot/love/\">塔罗牌爱情占卜</a></li>"
           u"<li class=\"top\"><em>2</em><a href=\"/xingming/\">姓名配对测试</a></li>"
           u"<li class=\"top\"><em>3</em><a href=\"/astro/pan/\">星盘查询</a></li>"
           u"<li><em>4</em><a href=\"/shengxiao/year/\">生肖本年运程</a></li>"
           u"<li><em>5</em><a href=\"/jiemeng/\">周公解梦大全</a></li>"
           u"<li><em>6</em><a href=\"/huangli/\">今日黄历宜忌</a></li>"
           u"<li><em>7</em><a href=\"/astro/moon/\">月亮星座查询</a></li>"
           u"<li><em>8</em><a href=\"/astro/rising/\">上升星座查询</a></li>"
           u"</ul></div>\n"
           u"<div class=\"box\"><h3>星座知识</h3><ul class=\"hot\">"
           u"<li><a href=\"/astro/know/1.html\">什么是太阳星座、月亮星座和上升星座</a></li>"
           u"<li><a href=\"/astro/know/2.html\">十二星座的守护星分别是什么</a></li>"
           u"<li><a href=\"/astro/know/3.html\">火象、土象、风象、水象星座的区别</a></li>"
           u"<li><a href=\"/astro/know/4.html\">水逆是什么意思，水逆期间要注意什么</a></li>"
           u"<li><a href=\"/astro/know/5.html\">星座日期是按阳历还是农历来算</a></li>"
           u"<li><a href=\"/astro/know/6.html\">为什么同一星座的人性格也不一样</a></li>"
           u"</ul></div>\n"
           u"<div class=\"box\"><h3>最新文章</h3><ul class=\"hot\">"
           u"<li><a href=\"/article/88213.html\">下周水星顺行，这三个星座终于松了口气</a></li>"
           u"<li><a href=\"/article/88207.html\">十二星座谁最会存钱？第一名当之无愧</a></li>"
           u"<li><a href=\"/article/88196.html\">和巨蟹座做朋友是一种什么样的体验</a></li>"
           u"<li><a href=\"/article/88190.html\">射手座的旅行清单里永远少不了这几样</a></li>"
           u"<li><a href=\"/article/88184.html\">摩羯座加班的时候都在想些什么</a></li>"
           u"<li><a href=\"/article/88171.html\">双鱼座的直觉到底有多准</a></li>"
           u"<li><a href=\"/article/88165.html\">天蝎座记仇吗？听听他们自己怎么说</a></li>"
           u"<li><a href=\"/article/88152.html\">金牛座的美食地图，吃货必看</a></li>"
           u"<li><a href=\"/article/88147.html\">狮子座最受不了的五件小事</a></li>"
           u"<li><a href=\"/article/88139.html\">水瓶座的脑洞究竟从哪里来</a></li>"
           u"</ul></div>\n"
           u"<div class=\"box ad\">广告位招租</div>\n</div>\n";
    return out;
}

QString signPage(const SiteSign &sign, QDate date, QByteArrayView charset)
{
    const Fortune f = fortuneFor(sign.slug, date);
    Dice dice(seedFor(sign.slug, date) ^
              0x5A17E5EEDull); // the page's clutter, apart from the fortune
    const QString day = dateText(date);

    QString out;
    out.reserve(40 * 1024);
    out += head(
        charset, sign.name + u"今日运势 " + day + u" - 星历网",
        sign.name + u"今日运势," + sign.name + u"运势," + sign.name +
            u"每日运势,星座运势查询,今日星座运势",
        u"星历网为您提供" + day + sign.name + u"今日运势，包括" + sign.name +
            u"综合运势、爱情运势、工作状况、理财投资、健康指数、幸运颜色、幸运数字和速配星座。");
    out += u"<body class=\"astro-day\">\n";
    out += siteTop(sign.slug);
    out += u"<div class=\"wrap\">\n<div class=\"breadcrumb\">当前位置：<a href=\"/\">首页</a> "
           u"&gt; <a href=\"/astro/\">星座运势</a> &gt; <a href=\"/astro/view/" +
           sign.slug + u"/\">" + sign.name + u"</a> &gt; <span>今日运势</span></div>\n";
    out += u"<div id=\"main\" class=\"clearfix\">\n<div class=\"content\">\n";
    out += u"<div class=\"astro-head clearfix\"><div class=\"pic\"><img src=\"/static/img/signs/" +
           sign.slug + u".png\" width=\"96\" height=\"96\" alt=\"" + sign.name + u"\"></div>" +
           u"<h1>" + sign.name + u"今日运势</h1>";
    if (!sign.dates.isEmpty())
        out += u"<p class=\"range\">" + sign.dates + u"</p>";
    out += u"<p class=\"date\">" + day + u" " + weekdayText(date) + u"</p>";
    out += u"<ul class=\"tabs clearfix\"><li class=\"on\"><a href=\"" + dayPath(sign.slug, date) +
           u"\">今日运势</a></li><li><a href=\"" + dayPath(sign.slug, date.addDays(1)) +
           u"\">明日运势</a></li><li><a href=\"/astro/view/" + sign.slug +
           u"/week/\">本周运势</a></li><li><a href=\"/astro/view/" + sign.slug +
           u"/month/\">本月运势</a></li><li><a href=\"/astro/view/" + sign.slug +
           u"/year/\">今年运势</a></li></ul></div>\n";
    out += fortuneBlock(f);
    out += detailBlock(sign.name, f);
    out += shareBlock();
    out += prevNextBlock(sign.slug, sign.name, date);
    out += profileBlock(sign);
    out += rankingBlock(date);
    out += historyBlock(sign.slug, sign.name, date);
    out += relatedBlock(sign.slug, sign.name);
    out += commentsBlock(sign.name, date, dice);
    out += u"</div>\n";
    out += sidebar(sign.slug);
    out += u"</div>\n</div>\n";
    out += siteFooter();
    out += footScripts();
    out += u"</body>\n</html>\n";
    return out;
}

// Small pages ---------------------------------------------------------------

QString plainPage(QByteArrayView charset, const QString &title, const QString &body)
{
    QString out = head(charset, title, QStringLiteral("星座运势,星历网"), title);
    out += u"<body>\n" + siteTop({}) + u"<div class=\"wrap\">\n" + body + u"</div>\n" +
           siteFooter() + footScripts() + u"</body>\n</html>\n";
    return out;
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

QString page(const SignInfo &sign, QDate date, QByteArrayView charset)
{
    const SiteSign *known = signBySlug(sign.slug);
    SiteSign asked{sign.slug, sign.name, {}, {}, {}, {}};
    if (known) {
        asked.dates = known->dates;
        asked.element = known->element;
        asked.ruler = known->ruler;
        asked.stone = known->stone;
    }
    return signPage(asked, date, charset);
}

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
