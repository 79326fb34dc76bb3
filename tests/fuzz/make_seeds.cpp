// Writes the seed corpus of the fuzzers: the offline service's pages as the
// site sends them, the tests' pages, and hand-made pages that sit on the edges
// of the cutting rules. Run at build time, so the corpus follows the pages.
//
//   fuzz_seeds <folder>   makes <folder>/pageparser, charset, request and skinfile

#include "FortunePages.h"
#include "TestPages.h"

#include <QByteArray>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringEncoder>

#include <cstdio>

namespace {

QByteArray gbk(const QString &text)
{
    QStringEncoder encoder("GB18030");
    return encoder.encode(text);
}

QByteArray utf16(const QString &text)
{
    return QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
}

bool write(const QString &folder, const QString &name, const QByteArray &bytes)
{
    QFile file(folder + u'/' + name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "fuzz_seeds: cannot write %s\n", qPrintable(file.fileName()));
        return false;
    }
    return file.write(bytes) == bytes.size();
}

// The charset fuzzer reads its first line as the Content-Type header.
QByteArray withHeader(QByteArrayView contentType, const QByteArray &body)
{
    return contentType.toByteArray() + '\n' + body;
}

QString stars(int n)
{
    return QStringLiteral("<img src=\"/static/star.gif\"/>").repeated(n);
}

// Pages whose shape tests the cutting rules rather than the site's layout.
QList<std::pair<QString, QString>> edgePages()
{
    const QString desc = QStringLiteral("<div class=\"lotconts\">");
    QList<std::pair<QString, QString>> pages;
    PageSpec many;
    many.overall = many.love = many.work = many.finance = 400;
    pages.append({QStringLiteral("stars-400.html"), TestPages::page(many)});
    PageSpec none;
    none.overall = none.love = none.work = none.finance = 0;
    pages.append({QStringLiteral("stars-none.html"), TestPages::page(none)});
    for (int sections = 0; sections < 9; sections += 2) {
        PageSpec shape;
        shape.sections = sections;
        shape.withDescription = sections % 4 == 0;
        pages.append({QStringLiteral("sections-%1.html").arg(sections), TestPages::page(shape)});
    }
    PageSpec markup;
    markup.colour = QStringLiteral("<b>红</b></p><p>蓝");
    markup.description = QStringLiteral("好<br/>运</p><p>到");
    pages.append({QStringLiteral("markup-in-values.html"), TestPages::page(markup)});
    PageSpec nested;
    nested.health = QStringLiteral("健康指数</h4><p>85%");
    nested.matching = QStringLiteral("<h4>速配星座</h4><p>天秤座");
    nested.description = desc + QStringLiteral("二") + desc;
    pages.append({QStringLiteral("nested-markers.html"), TestPages::page(nested)});
    PageSpec joints;
    joints.colour = QStringLiteral("红</</p><p><蓝");
    joints.number = QStringLiteral("</di速配星座</h4><p>v>7");
    pages.append({QStringLiteral("joints-and-split-div.html"), TestPages::page(joints)});
    pages.append({QStringLiteral("ten-headings.html"),
                  QStringLiteral("0<h4>1<h4>2<h4>3<h4>4<h4>5<h4>6<h4>7<h4>8<h4>9</div>x<h4>10")});
    pages.append({QStringLiteral("no-div-ends.html"),
                  QStringLiteral("<h4>star.gif<h4>健康指数</h4><p>1<h4>") + desc + u"x"});
    pages.append({QStringLiteral("description-first.html"),
                  desc + QStringLiteral("一</div><h4>") + stars(3) + QStringLiteral("</div>")});
    return pages;
}

// Heads as clients send them, whole, cut short, with bare line feeds, and
// first lines that are no request.
bool writeRequests(const QString &folder)
{
    const QByteArray heads[] = {
        "GET /astro/view/aries/day/ HTTP/1.1\r\nHost: 127.0.0.1:18231\r\n"
        "If-Modified-Since: 0\r\nConnection: Keep-Alive\r\n\r\n",
        "HEAD / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n",
        "GET /kwgamejc/xz/jc.txt HTTP/1.1\n\n",
        "GET /kwgamejc/xz/jc.txt HTTP/1.1\r\nHost: x\n\n",
        "GET /\n",
        "\r\nGET / HTTP/1.1\r\n\r\n",
        "GET /astro/view/leo/day/20280229?x=1 HTTP/1.0\r\nA: b\r\nA:\r\n:c\r\n\r\n",
        "GET /astro/view/leo/day/ HTTP/1.1\r\nHost: 127.0.0.1\r\n",
        "POST /bbs/ HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello",
    };
    bool ok = true;
    int n = 0;
    for (const QByteArray &head : heads)
        ok &= write(folder, QStringLiteral("head-%1.txt").arg(++n), head);
    return ok;
}

// The shipped skin, and small ones on the edges of what a skin may say.
bool writeSkins(const QString &folder)
{
    QFile shipped(QStringLiteral(ZHIWEI_SHIPPED_SKIN));
    if (!shipped.open(QIODevice::ReadOnly))
        return false;
    const QByteArray small = ".SHE\nversion = 1\nname = s\n[colours]\n"
                             "window = #cc3333\nwindowText = #000000\nbase = #ffffff\n"
                             "text = #000000\nbutton = #dddddd\nbuttonText = #000000\n"
                             "highlight = #3355cc\nhighlightedText = #ffffff\n[style]\n"
                             "QPushButton { color: @buttonText; background: @window; }\n[end]\n";
    return write(folder, QStringLiteral("shipped.she"), shipped.readAll()) &&
           write(folder, QStringLiteral("small.she"), small) &&
           write(folder, QStringLiteral("own-resource.she"),
                 QByteArray(small).replace("background:", "image: url(:/img/a.png); background:")) &&
           write(folder, QStringLiteral("names-a-file.she"),
                 QByteArray(small).replace("background:", "image: url('/tmp/x'); background:"));
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds <folder>\n");
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    const QString parserDir = root + u"/pageparser";
    const QString charsetDir = root + u"/charset";
    const QString requestDir = root + u"/request";
    const QString skinDir = root + u"/skinfile";
    if (!QDir().mkpath(parserDir) || !QDir().mkpath(charsetDir) || !QDir().mkpath(requestDir) ||
        !QDir().mkpath(skinDir)) {
        std::fprintf(stderr, "fuzz_seeds: cannot make %s\n", argv[1]);
        return 1;
    }

    bool ok = writeRequests(requestDir) && writeSkins(skinDir);
    const QDate dates[] = {QDate(2013, 12, 27), QDate(2024, 2, 29)};
    const QStringView slugs[] = {u"aries", u"leo", u"libra", u"pisces"};
    for (QStringView slug : slugs) {
        for (QDate date : dates) {
            const QString stem = slug + u'-' + date.toString(u"yyyyMMdd");
            const QString utf8Page = FortunePages::pageForSlug(slug, date, "utf-8");
            const QString gbkPage = FortunePages::pageForSlug(slug, date, "gbk");
            ok &= write(parserDir, stem + u"-utf8.html", utf8Page.toUtf8());
            ok &= write(charsetDir, stem + u"-utf8.txt",
                        withHeader("text/html; charset=utf-8", utf8Page.toUtf8()));
            ok &= write(charsetDir, stem + u"-gbk.txt",
                        withHeader("text/html; charset=GBK", gbk(gbkPage)));
        }
    }
    const QDate day = dates[0];
    const QString page = FortunePages::pageForSlug(u"taurus", day, "utf-8");
    const QString gbkPage = FortunePages::pageForSlug(u"taurus", day, "gbk");
    // The parser fuzzer also reads its bytes as UTF-16.
    ok &= write(parserDir, QStringLiteral("taurus-utf16.html"), utf16(page));
    ok &= write(parserDir, QStringLiteral("index.html"), FortunePages::indexPage().toUtf8());
    ok &= write(parserDir, QStringLiteral("not-found.html"), FortunePages::notFoundPage().toUtf8());
    ok &= write(parserDir, QStringLiteral("testpage.html"), TestPages::page().toUtf8());
    for (const auto &[name, text] : edgePages()) {
        ok &= write(parserDir, name, text.toUtf8());
        ok &= write(charsetDir, name, withHeader({}, text.toUtf8()));
    }

    // Labels in every place the charset can come from, and in none.
    ok &= write(charsetDir, QStringLiteral("gbk-meta-only.txt"),
                withHeader("text/html", gbk(gbkPage)));
    ok &= write(charsetDir, QStringLiteral("gbk-unlabelled.txt"),
                withHeader({}, gbk(TestPages::page()).replace("charset", "")));
    ok &= write(charsetDir, QStringLiteral("utf8-unlabelled.txt"),
                withHeader({}, TestPages::page().toUtf8().replace("charset", "")));
    ok &= write(charsetDir, QStringLiteral("utf8-bom-header-gbk.txt"),
                withHeader("text/html; charset=gbk", "\xEF\xBB\xBF" + TestPages::page().toUtf8()));
    ok &= write(charsetDir, QStringLiteral("utf16le-bom.txt"),
                withHeader({}, "\xFF\xFE" + utf16(TestPages::page())));
    ok &= write(
        charsetDir, QStringLiteral("header-quoted-among-params.txt"),
        withHeader("text/html; format=flowed; CharSet = \"gb2312\" ; q=1", gbk(TestPages::page())));
    ok &= write(charsetDir, QStringLiteral("meta-http-equiv.txt"),
                withHeader({}, "<Meta HTTP-EQUIV=content-type CONTENT='text/html;charset=GBK'>" +
                                   gbk(TestPages::page())));
    ok &= write(charsetDir, QStringLiteral("meta-after-metadata.txt"),
                withHeader({}, "<metadata charset=x><meta name=a content=b><meta charset=big5>"
                               "\xa4\xa4\xa4\xe5"));
    ok &= write(charsetDir, QStringLiteral("header-latin1.txt"),
                withHeader("text/html; charset=iso-8859-1", "caf\xe9 <h4>star.gif</div>"));
    return ok ? 0 : 1;
}
