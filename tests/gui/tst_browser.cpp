#include "desktop/Browser.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <pwd.h>
#include <unistd.h>

// What is handed to the user's browser: web addresses, and the installed
// forum pages that nobody else may change; nothing else.
class tst_Browser : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void browserOpensOnlyWebAddresses_data();
    void browserOpensOnlyWebAddresses();

private:
    QList<QUrl> m_opened;
    QTemporaryDir m_forums; // installed pages, good and bad
};

void tst_Browser::initTestCase()
{
    const QDir root(m_forums.path());
    const auto page = [&root](const QString &name, QFile::Permissions permissions) {
        QFile file(root.filePath(name));
        return root.mkpath(QFileInfo(file).path()) && file.open(QIODevice::WriteOnly) &&
               file.write("<html></html>") > 0 && file.setPermissions(permissions);
    };
    const QFile::Permissions readable = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther;
    QVERIFY(page("bbs/index.html", readable));
    QVERIFY(page("program/index.html", readable | QFile::ExeOwner));
    QVERIFY(page("everybodys/index.html", readable | QFile::WriteOther));
    QVERIFY(page("groups/index.html", readable | QFile::WriteGroup));
    QVERIFY(page("groupfolder/index.html", readable));
    QVERIFY(QFile::setPermissions(root.filePath("groupfolder"),
                                  QFile::permissions(root.filePath("groupfolder")) |
                                      QFile::WriteGroup));
    QVERIFY(page("nobodys/index.html", readable));
    if (const passwd *nobody = ::getpwnam("nobody"); nobody && ::geteuid() == 0)
        QCOMPARE(::chown(QFile::encodeName(root.filePath("nobodys/index.html")).constData(),
                         nobody->pw_uid, nobody->pw_gid),
                 0);
    QVERIFY(root.mkpath("empty") && root.mkpath("folder/index.html"));
    QVERIFY(root.mkpath("linked") &&
            QFile::link("/etc/passwd", root.filePath("linked/index.html")));
    QVERIFY(QFile::link(root.filePath("bbs"), root.filePath("alias")));
}

void tst_Browser::init()
{
    m_opened.clear();
    Browser::setOpener([this](const QUrl &url) {
        m_opened << url;
        return true;
    });
}

void tst_Browser::cleanup()
{
    Browser::setOpener({});
}

void tst_Browser::browserOpensOnlyWebAddresses_data()
{
    QTest::addColumn<QString>("address"); // %1: a folder of installed pages
    QTest::addColumn<bool>("opened");
    QTest::addColumn<QString>("handed"); // to the browser, when not the address

    QTest::newRow("http") << QStringLiteral("http://bbs.example.test/forum.php") << true
                          << QString();
    QTest::newRow("https") << QStringLiteral("https://bbs.example.test/") << true << QString();
    QTest::newRow("upper-case scheme")
        << QStringLiteral("HTTPS://bbs.example.test/") << true << QString();
    QTest::newRow("local file") << QStringLiteral("file:///etc/passwd") << false << QString();
    QTest::newRow("script") << QStringLiteral("javascript:x") << false << QString();
    QTest::newRow("empty") << QString() << false << QString();
    QTest::newRow("other protocol")
        << QStringLiteral("ftp://bbs.example.test/") << false << QString();
    QTest::newRow("http without a host")
        << QStringLiteral("http:/etc/passwd") << false << QString();
    QTest::newRow("installed forum")
        << QStringLiteral("file://%1/bbs/") << true << QStringLiteral("file://%1/bbs/index.html");
    // What opens is named by where it is, not by the link that led there.
    QTest::newRow("installed forum through a linked folder")
        << QStringLiteral("file://%1/alias/") << true << QStringLiteral("file://%1/bbs/index.html");
    QTest::newRow("its page itself")
        << QStringLiteral("file://%1/bbs/index.html") << false << QString();
    QTest::newRow("folder without the slash")
        << QStringLiteral("file://%1/bbs") << false << QString();
    QTest::newRow("folder without a page")
        << QStringLiteral("file://%1/empty/") << false << QString();
    QTest::newRow("page that is a folder")
        << QStringLiteral("file://%1/folder/") << false << QString();
    QTest::newRow("page that is a link out")
        << QStringLiteral("file://%1/linked/") << false << QString();
    QTest::newRow("page that is a program")
        << QStringLiteral("file://%1/program/") << false << QString();
    QTest::newRow("page anybody may change")
        << QStringLiteral("file://%1/everybodys/") << false << QString();
    QTest::newRow("page its group may change")
        << QStringLiteral("file://%1/groups/") << false << QString();
    QTest::newRow("folder its group may change")
        << QStringLiteral("file://%1/groupfolder/") << false << QString();
    QTest::newRow("page of another user")
        << QStringLiteral("file://%1/nobodys/") << false << QString();
    QTest::newRow("folder on another host")
        << QStringLiteral("file://bbs.example.test%1/bbs/") << false << QString();
    QTest::newRow("folder with a query")
        << QStringLiteral("file://%1/bbs/?x=1") << false << QString();
}

void tst_Browser::browserOpensOnlyWebAddresses()
{
    QFETCH(QString, address);
    QFETCH(bool, opened);
    QFETCH(QString, handed);
    if (address.contains(u"nobodys") && ::geteuid() != 0)
        QSKIP("Giving a page to another user (nobody) needs root");
    const QUrl url(address.replace(QStringLiteral("%1"), m_forums.path()));
    const QUrl browsed =
        handed.isEmpty() ? url : QUrl(handed.replace(QStringLiteral("%1"), m_forums.path()));
    QCOMPARE(Browser::open(url), opened);
    QCOMPARE(m_opened, opened ? QList<QUrl>{browsed} : QList<QUrl>());
}

QTEST_MAIN(tst_Browser)
#include "tst_browser.moc"
