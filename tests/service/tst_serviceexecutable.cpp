// zhiwei-fortune-service as scripts and the other tests start it: a port of
// its own choosing, announced in a file, and a clean exit on a signal.

#include "FortunePages.h"

#include "fortune/SignTable.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QStringDecoder>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

namespace {

const QString Executable = QStringLiteral(ZHIWEI_SERVICE_EXE);

struct Answer
{
    int status = 0;
    QByteArray contentType;
    QByteArray body;
};

} // namespace

class ServiceExecutableTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void servesPagesAndTheNotice();
    void quitsCleanlyOnSignal_data();
    void quitsCleanlyOnSignal();
    void servesGbkAndANoticeFromAFile();
    void takenPortIsAClearError();
    void refusesBadOptions_data();
    void refusesBadOptions();

private:
    // Starts the service on a free port and waits until it says where it is.
    void start(const QStringList &arguments);
    Answer get(const QByteArray &path);
    void stopWith(int signal);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_process;
    QNetworkAccessManager m_network;
    QString m_portFile;
    quint16 m_port = 0;
    QByteArray m_stdout;
};

void ServiceExecutableTest::init()
{
    QVERIFY(QFile::exists(Executable));
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_portFile = m_dir->filePath(QStringLiteral("port"));
    m_process = std::make_unique<QProcess>();
    m_network.setProxy(QNetworkProxy::NoProxy);
    m_port = 0;
    m_stdout.clear();
}

void ServiceExecutableTest::cleanup()
{
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(5000);
    }
    m_process.reset();
    m_dir.reset();
}

void ServiceExecutableTest::start(const QStringList &arguments)
{
    m_process->start(Executable, QStringList{QStringLiteral("--port"), QStringLiteral("0"),
                                             QStringLiteral("--port-file"), m_portFile} +
                                     arguments);
    QVERIFY2(m_process->waitForStarted(5000), qPrintable(m_process->errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(
        QFile::exists(m_portFile) || m_process->state() == QProcess::NotRunning, 8000);
    QVERIFY2(m_process->state() == QProcess::Running,
             m_process->readAllStandardError().constData());

    QFile file(m_portFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    bool ok = false;
    m_port = quint16(file.readAll().trimmed().toUInt(&ok));
    QVERIFY(ok && m_port != 0);

    QTRY_VERIFY_WITH_TIMEOUT((m_stdout += m_process->readAllStandardOutput()).contains('\n'), 5000);
    QCOMPARE(m_stdout, "zhiwei-fortune-service listening on http://127.0.0.1:" +
                           QByteArray::number(m_port) + '\n');
}

Answer ServiceExecutableTest::get(const QByteArray &path)
{
    QUrl url(QStringLiteral("http://127.0.0.1"));
    url.setPort(m_port);
    url.setPath(QString::fromLatin1(path));
    QNetworkReply *reply = m_network.get(QNetworkRequest(url));
    QSignalSpy finished(reply, &QNetworkReply::finished);
    Answer answer;
    if (reply->isFinished() || finished.wait(10000)) {
        answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        answer.contentType = reply->rawHeader("Content-Type");
        answer.body = reply->readAll();
    } else {
        reply->abort();
    }
    delete reply;
    return answer;
}

void ServiceExecutableTest::stopWith(int signal)
{
    QSignalSpy finished(m_process.get(), &QProcess::finished);
    ::kill(m_process->processId(), signal);
    QVERIFY(finished.wait(8000));
    QCOMPARE(m_process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_process->exitCode(), 0);
}

void ServiceExecutableTest::servesPagesAndTheNotice()
{
    start({QStringLiteral("--notice"), QStringLiteral("V3"), QStringLiteral("--date"),
           QStringLiteral("20261207")});
    if (QTest::currentTestFailed())
        return;

    const QDate day(2026, 12, 7);
    const SignInfo &scorpio = *SignTable::bySlug(u"scorpio");
    Answer answer = get("/astro/view/scorpio/day/");
    QCOMPARE(answer.status, 200);
    QCOMPARE(answer.contentType, QByteArray("text/html; charset=utf-8"));
    QCOMPARE(answer.body, FortunePages::page(scorpio, day).toUtf8());

    answer = get("/astro/view/scorpio/day/20280229");
    QCOMPARE(answer.status, 200);
    QCOMPARE(answer.body, FortunePages::page(scorpio, QDate(2028, 2, 29)).toUtf8());

    answer = get("/kwgamejc/xz/jc.txt");
    QCOMPARE(answer.status, 200);
    QCOMPARE(answer.body, QByteArray("V3"));

    QCOMPARE(get("/bbs/").status, 200);
    QCOMPARE(get("/astro/view/scorpio/day/2026").status, 404);

    m_process->terminate();
    QSignalSpy finished(m_process.get(), &QProcess::finished);
    QVERIFY(m_process->state() == QProcess::NotRunning || finished.wait(8000));
    QCOMPARE(m_process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_process->exitCode(), 0);
    QVERIFY(m_process->readAllStandardError().isEmpty());
}

void ServiceExecutableTest::quitsCleanlyOnSignal_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void ServiceExecutableTest::quitsCleanlyOnSignal()
{
    QFETCH(int, signal);
    start({});
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(get("/kwgamejc/xz/jc.txt").body, QByteArray("V2"));
    stopWith(signal);
}

void ServiceExecutableTest::servesGbkAndANoticeFromAFile()
{
    const QByteArray notice =
        "V4\r\n\xe8\xaf\xb7\xe6\x9b\xb4\xe6\x96\xb0\n"; // with its line breaks
    const QString noticePath = m_dir->filePath(QStringLiteral("jc.txt"));
    QFile noticeFile(noticePath);
    QVERIFY(noticeFile.open(QIODevice::WriteOnly));
    noticeFile.write(notice);
    noticeFile.close();

    start({QStringLiteral("--charset"), QStringLiteral("gbk"), QStringLiteral("--notice-file"),
           noticePath, QStringLiteral("--date"), QStringLiteral("20280229"),
           QStringLiteral("--delay-ms"), QStringLiteral("50")});
    if (QTest::currentTestFailed())
        return;

    QCOMPARE(get("/kwgamejc/xz/jc.txt").body, notice);

    const Answer answer = get("/astro/view/cancer/day/");
    QCOMPARE(answer.status, 200);
    QCOMPARE(answer.contentType, QByteArray("text/html; charset=gbk"));
    QStringDecoder decoder("GB18030");
    const QString text = decoder.decode(answer.body);
    QVERIFY(!decoder.hasError());
    QCOMPARE(text, FortunePages::page(*SignTable::bySlug(u"cancer"), QDate(2028, 2, 29), "gbk"));
    stopWith(SIGTERM);
}

void ServiceExecutableTest::takenPortIsAClearError()
{
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::LocalHost, 0));
    const QString port = QString::number(holder.serverPort());

    QSignalSpy finished(m_process.get(), &QProcess::finished);
    m_process->start(Executable,
                     {QStringLiteral("--port"), port, QStringLiteral("--port-file"), m_portFile});
    QVERIFY(finished.wait(8000));
    QCOMPARE(m_process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_process->exitCode(), 1);
    const QString error = QString::fromLocal8Bit(m_process->readAllStandardError());
    QVERIFY2(error.contains(u"127.0.0.1:" + port), qPrintable(error));
    QVERIFY(m_process->readAllStandardOutput().isEmpty());
    QVERIFY(!QFile::exists(m_portFile));
}

void ServiceExecutableTest::refusesBadOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("unknown charset")
        << QStringList{QStringLiteral("--charset"), QStringLiteral("latin1")};
    QTest::newRow("no such day") << QStringList{QStringLiteral("--date"),
                                                QStringLiteral("20270229")};
    QTest::newRow("port too large")
        << QStringList{QStringLiteral("--port"), QStringLiteral("70000")};
    QTest::newRow("negative delay")
        << QStringList{QStringLiteral("--delay-ms"), QStringLiteral("-5")};
    QTest::newRow("idle time not a number")
        << QStringList{QStringLiteral("--idle-exit"), QStringLiteral("ten")};
    QTest::newRow("both notices") << QStringList{QStringLiteral("--notice"), QStringLiteral("V3"),
                                                 QStringLiteral("--notice-file"),
                                                 QStringLiteral("/dev/null")};
    QTest::newRow("missing notice file")
        << QStringList{QStringLiteral("--notice-file"), QStringLiteral("/nonexistent/jc.txt")};
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--colour")};
}

void ServiceExecutableTest::refusesBadOptions()
{
    QFETCH(QStringList, arguments);
    QSignalSpy finished(m_process.get(), &QProcess::finished);
    // The bad option comes last, so a --port among them wins over this one.
    m_process->start(Executable, QStringList{QStringLiteral("--port"), QStringLiteral("0"),
                                             QStringLiteral("--port-file"), m_portFile} +
                                     arguments);
    QVERIFY(finished.wait(8000));
    QCOMPARE(m_process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_process->exitCode(), 1);
    QVERIFY(!m_process->readAllStandardError().isEmpty());
    QVERIFY(!QFile::exists(m_portFile));
}

QTEST_GUILESS_MAIN(ServiceExecutableTest)
#include "tst_serviceexecutable.moc"
