// zhiwei_assetgen — renders one SVG source of 知微阁 to a PNG of an exact size.
//
//   zhiwei_assetgen [--opaque] [--mono] IN.svg OUT.png WIDTH HEIGHT
//
//   --opaque  flatten onto the SVG's own background and write a PNG without
//             an alpha channel (the sign cards and the splash picture)
//   --mono    snap every pixel to fully black, fully white or fully
//             transparent (the hand cursor)
//
// Every font family named in the SVG must be installed; a missing one would
// silently fall back to another face, so that is an error here.

#include <QByteArray>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>
#include <QSvgRenderer>
#include <QTextStream>

#include <cstdio>

namespace {

struct Options
{
    bool opaque = false;
    bool mono = false;
    QString input;
    QString output;
    int width = 0;
    int height = 0;
};

void complain(const QString &message)
{
    QTextStream(stderr) << "zhiwei_assetgen: " << message << Qt::endl;
}

void usage()
{
    QTextStream(stderr)
        << "usage: zhiwei_assetgen [--opaque] [--mono] IN.svg OUT.png WIDTH HEIGHT\n";
}

bool parseArguments(const QStringList &args, Options &opt)
{
    QStringList positional;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString &a = args.at(i);
        if (a == QLatin1String("--opaque"))
            opt.opaque = true;
        else if (a == QLatin1String("--mono"))
            opt.mono = true;
        else if (a.startsWith(QLatin1String("--"))) {
            complain(QStringLiteral("unknown option %1").arg(a));
            return false;
        } else
            positional << a;
    }
    if (positional.size() != 4)
        return false;
    bool okW = false;
    bool okH = false;
    opt.input = positional.at(0);
    opt.output = positional.at(1);
    opt.width = positional.at(2).toInt(&okW);
    opt.height = positional.at(3).toInt(&okH);
    if (!okW || !okH || opt.width <= 0 || opt.height <= 0 || opt.width > 4096 ||
        opt.height > 4096) {
        complain(QStringLiteral("bad size %1 x %2").arg(positional.at(2), positional.at(3)));
        return false;
    }
    if (opt.opaque && opt.mono) {
        complain(QStringLiteral("--opaque and --mono exclude each other"));
        return false;
    }
    return true;
}

// Font families named in font-family="..." attributes or style properties.
QStringList fontFamiliesIn(const QByteArray &svg)
{
    QSet<QString> seen;
    QStringList families;
    static const QRegularExpression re(QStringLiteral(R"(font-family\s*[=:]\s*["']?([^"';>]+))"));
    auto it = re.globalMatch(QString::fromUtf8(svg));
    while (it.hasNext()) {
        const auto m = it.next();
        const QStringList names = m.captured(1).split(QLatin1Char(','));
        for (QString family : names) {
            family = family.trimmed();
            if (family.startsWith(QLatin1Char('\'')) || family.startsWith(QLatin1Char('"')))
                family = family.mid(1, family.size() - 2);
            if (!family.isEmpty() && !seen.contains(family)) {
                seen.insert(family);
                families << family;
            }
        }
    }
    return families;
}

bool fontsAvailable(const QByteArray &svg)
{
    const QStringList installed = QFontDatabase::families();
    bool ok = true;
    for (const QString &family : fontFamiliesIn(svg)) {
        if (!installed.contains(family, Qt::CaseInsensitive)) {
            complain(QStringLiteral("font \"%1\" is not installed").arg(family));
            ok = false;
        }
    }
    return ok;
}

void snapToMono(QImage &img)
{
    for (int y = 0; y < img.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            const QRgb px = line[x];
            if (qAlpha(px) < 128) {
                line[x] = qRgba(0, 0, 0, 0);
                continue;
            }
            const int luma = (qRed(px) * 299 + qGreen(px) * 587 + qBlue(px) * 114) / 1000;
            line[x] = luma < 128 ? qRgba(0, 0, 0, 255) : qRgba(255, 255, 255, 255);
        }
    }
}

bool hasTransparency(const QImage &img)
{
    for (int y = 0; y < img.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(img.constScanLine(y));
        for (int x = 0; x < img.width(); ++x)
            if (qAlpha(line[x]) != 255)
                return true;
    }
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    // Rendering needs no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    Options opt;
    if (!parseArguments(QCoreApplication::arguments(), opt)) {
        usage();
        return 2;
    }

    QFile file(opt.input);
    if (!file.open(QIODevice::ReadOnly)) {
        complain(QStringLiteral("cannot read %1").arg(opt.input));
        return 1;
    }
    const QByteArray svg = file.readAll();
    file.close();

    if (!fontsAvailable(svg))
        return 1;

    QSvgRenderer renderer(svg);
    if (!renderer.isValid()) {
        complain(QStringLiteral("%1 is not a valid SVG").arg(opt.input));
        return 1;
    }

    QImage img(opt.width, opt.height, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    {
        QPainter painter(&img);
        painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                               QPainter::SmoothPixmapTransform);
        renderer.render(&painter, QRectF(0, 0, opt.width, opt.height));
    }

    QImage out = img.convertToFormat(QImage::Format_ARGB32);
    if (opt.mono)
        snapToMono(out);
    if (opt.opaque) {
        if (hasTransparency(out)) {
            complain(QStringLiteral("%1 does not cover the whole picture").arg(opt.input));
            return 1;
        }
        out = out.convertToFormat(QImage::Format_RGB888);
    }

    const QString dir = QFileInfo(opt.output).absolutePath();
    if (!QDir().mkpath(dir)) {
        complain(QStringLiteral("cannot create %1").arg(dir));
        return 1;
    }
    if (!out.save(opt.output, "PNG")) {
        complain(QStringLiteral("cannot write %1").arg(opt.output));
        return 1;
    }
    return 0;
}
