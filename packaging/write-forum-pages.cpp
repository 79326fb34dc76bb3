// zhiwei-forum-pages: writes the two forum pages that an offline build opens
// in the browser, <folder>/bbs/index.html and <folder>/yunfan/index.html, as
// the offline fortune service lays them out. A browser cannot reach the
// service's socket, so these pages are installed beside the program.

#include "FortunePages.h"

#include <QCoreApplication>
#include <QDir>
#include <QSaveFile>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 2) {
        std::fprintf(stderr, "usage: zhiwei-forum-pages <folder>\n");
        return 2;
    }
    const QDir folder(arguments.at(1));
    const std::pair<QString, QString> pages[] = {
        {QStringLiteral("bbs"), FortunePages::makerForumPage()},
        {QStringLiteral("yunfan"), FortunePages::partnerForumPage()},
    };
    for (const auto &[forum, page] : pages) {
        QSaveFile file(folder.filePath(forum + QStringLiteral("/index.html")));
        if (!folder.mkpath(forum) || !file.open(QIODevice::WriteOnly) ||
            file.write(page.toUtf8()) < 0 || !file.commit()) {
            std::fprintf(stderr, "zhiwei-forum-pages: cannot write %s: %s\n",
                         qPrintable(file.fileName()), qPrintable(file.errorString()));
            return 1;
        }
    }
    return 0;
}
