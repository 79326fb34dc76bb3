#include "platform/RuntimeFiles.h"

#include "HttpServer.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

// The Debian package built from this tree, unpacked into a scratch root and
// run from there: what it holds, and that the installed program starts
// through its launcher, keeps the offline service up only while it runs,
// and works for a user who may not write its folder.
class TstPackage : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();

    void controlField_data();
    void controlField();
    void dependsOn_data();
    void dependsOn();
    void installedFile_data();
    void installedFile();
    void programFolderHoldsNothingElse();
    void runtimeFileIsWhatTheProgramWrites_data();
    void runtimeFileIsWhatTheProgramWrites();
    void icon_data();
    void icon();
    void desktopEntryIsValidAndPointsAtInstalledFiles();

    void launcherRunsProgramAndService_data();
    void launcherRunsProgramAndService();
    void launcherLeavesARunningServiceAlone();
    void runsForAUserWhoCannotWriteItsFolder();

private:
    QString programDir() const { return m_root + u"/usr/lib/zhiweige"; }
    QString launcher() const { return m_root + u"/usr/bin/zhiweige"; }
    QString program() const { return programDir() + u"/zhiweige"; }
    QString service() const { return programDir() + u"/zhiwei-fortune-service"; }
    // Why the program cannot be run here, or nothing.
    static QString missingForDisplay();
    static QString portTaken();
    // Starts the unpacked launcher, under `wrapper` (a command prefix) if given.
    void startLauncher(
        const QStringList &wrapper = {},
        const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());
    // Waits for the splash, clicks it, waits for the main window.
    void passSplash();
    QString launcherOutput();

    std::unique_ptr<QTemporaryDir> m_scratch;
    QString m_root;
    QString m_deb;
    QMap<QString, QString> m_control;
    std::unique_ptr<QProcess> m_launcher;
    QString m_readOnlyDir;
};

namespace {

constexpr int StartTimeoutMs = 20000;
const QString MainWindowTitle = QStringLiteral("澄川知微阁 V2");

struct Outcome
{
    int exitCode = -1;
    QString output;
};

Outcome run(const QString &program, const QStringList &arguments, int timeoutMs = 60000,
            const QString &workingDirectory = {})
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (!workingDirectory.isEmpty())
        process.setWorkingDirectory(workingDirectory);
    process.start(program, arguments);
    Outcome outcome;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        outcome.output = QStringLiteral("%1 did not finish: %2")
                             .arg(program, QString::fromLocal8Bit(process.readAll()));
        return outcome;
    }
    outcome.output = QString::fromLocal8Bit(process.readAll());
    outcome.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return outcome;
}

// Processes running the executable at path (zombies have no exe link).
QList<pid_t> processesOf(const QString &path)
{
    const QString wanted = QFileInfo(path).canonicalFilePath();
    QList<pid_t> pids;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool ok = false;
        const pid_t pid = entry.toInt(&ok);
        if (ok && !wanted.isEmpty() &&
            QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid)) == wanted)
            pids.append(pid);
    }
    return pids;
}

QString visibleWindow(const QString &namePattern)
{
    const Outcome found = run(QStringLiteral("xdotool"),
                              {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                               QStringLiteral("--name"), namePattern},
                              10000);
    return found.exitCode == 0 ? found.output.section(u'\n', 0, 0).trimmed() : QString();
}

struct Stamp
{
    QByteArray bytes;
    ino_t inode = 0;
    timespec mtime = {};

    bool operator==(const Stamp &other) const
    {
        return bytes == other.bytes && inode == other.inode && mtime.tv_sec == other.mtime.tv_sec &&
               mtime.tv_nsec == other.mtime.tv_nsec;
    }
};

// What would change if the program rewrote the file: its bytes, its inode
// (the program replaces a file by renaming a new one over it) and its mtime.
Stamp stampOf(const QString &path)
{
    Stamp stamp;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        stamp.bytes = file.readAll();
    struct stat info = {};
    if (::stat(QFile::encodeName(path).constData(), &info) == 0) {
        stamp.inode = info.st_ino;
        stamp.mtime = info.st_mtim;
    }
    return stamp;
}

QMap<QString, Stamp> runtimeStamps(const QString &folder)
{
    QMap<QString, Stamp> stamps;
    for (const RuntimeFile &file : RuntimeFiles::all())
        stamps.insert(file.fileName, stampOf(QDir(folder).filePath(file.fileName)));
    return stamps;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool portIsFree(quint16 port)
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, port);
}

} // namespace

void TstPackage::initTestCase()
{
    const QList<std::pair<QString, QString>> tools = {
        {QStringLiteral("cpack"), QStringLiteral("cmake")},
        {QStringLiteral("dpkg-deb"), QStringLiteral("dpkg")},
        {QStringLiteral("dpkg-shlibdeps"), QStringLiteral("dpkg-dev")},
        {QStringLiteral("file"), QStringLiteral("file")},
    };
    for (const auto &[tool, package] : tools) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is missing: install the Debian package %2 to "
                                            "build and check the .deb")
                                 .arg(tool, package)));
    }

    const QString config = QStringLiteral(ZHIWEI_BINARY_DIR "/CPackConfig.cmake");
    QVERIFY2(QFile::exists(config), qPrintable(config + u" is missing: configure the build"));

    m_scratch = std::make_unique<QTemporaryDir>(QDir::tempPath() + u"/tst_package-XXXXXX");
    QVERIFY(m_scratch->isValid());
    // Another user runs the program from in here.
    QVERIFY(QFile::setPermissions(m_scratch->path(),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                      QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                      QFileDevice::ExeOther));

    const QString packages = m_scratch->filePath(QStringLiteral("packages"));
    const Outcome cpack = run(QStringLiteral("cpack"),
                              {QStringLiteral("-G"), QStringLiteral("DEB"),
                               QStringLiteral("--config"), config, QStringLiteral("-B"), packages},
                              300000, m_scratch->path());
    QVERIFY2(cpack.exitCode == 0, qPrintable(u"cpack failed:\n" + cpack.output));

    const QStringList debs = QDir(packages).entryList({QStringLiteral("*.deb")}, QDir::Files);
    QCOMPARE(debs.size(), 1);
    m_deb = QDir(packages).filePath(debs.first());

    m_root = m_scratch->filePath(QStringLiteral("root"));
    const Outcome unpack = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), m_deb, m_root});
    QVERIFY2(unpack.exitCode == 0, qPrintable(unpack.output));
    QVERIFY(QFile::setPermissions(m_root, QFile::permissions(m_scratch->path())));

    const Outcome fields = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), m_deb});
    QVERIFY2(fields.exitCode == 0, qPrintable(fields.output));
    QString field;
    for (const QString &line : fields.output.split(u'\n', Qt::SkipEmptyParts)) {
        if (line.startsWith(u' ') && !field.isEmpty()) {
            m_control[field] += u'\n' + line.trimmed();
            continue;
        }
        field = line.section(u':', 0, 0);
        m_control[field] = line.section(u':', 1).trimmed();
    }
}

void TstPackage::cleanup()
{
    // Whatever a failed row left running from the scratch root.
    if (m_launcher && m_launcher->state() != QProcess::NotRunning) {
        m_launcher->kill();
        m_launcher->waitForFinished();
    }
    m_launcher.reset();
    if (!m_root.isEmpty()) {
        for (const QString &path : {program(), service()}) {
            for (const pid_t pid : processesOf(path))
                ::kill(pid, SIGKILL);
        }
    }
    if (!m_readOnlyDir.isEmpty()) {
        QFile::setPermissions(m_readOnlyDir,
                              QFile::permissions(m_readOnlyDir) | QFileDevice::WriteOwner);
        m_readOnlyDir.clear();
    }
}

void TstPackage::cleanupTestCase()
{
    cleanup();
}

void TstPackage::controlField_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("pattern");

    QTest::newRow("named zhiweige") << "Package"
                                    << "^zhiweige$";
    QTest::newRow("version is the project's")
        << "Version" << u'^' + QRegularExpression::escape(QStringLiteral(ZHIWEI_VERSION)) + u'$';
    QTest::newRow("section utils") << "Section"
                                   << "^utils$";
    QTest::newRow("maintainer with an address") << "Maintainer"
                                                << "^.+ <[^ ]+@[^ ]+>$";
    QTest::newRow("synopsis in English with the Chinese name") << "Description"
                                                               << "^[a-z][ -~]*\\(澄川知微阁\\)\n";
    QTest::newRow("long description present") << "Description"
                                              << "\n.{20,}";
}

void TstPackage::controlField()
{
    QFETCH(QString, field);
    QFETCH(QString, pattern);
    QVERIFY2(m_control.contains(field), qPrintable(field + u" is missing from the package"));
    const QRegularExpression expression(pattern);
    QVERIFY(expression.isValid());
    QVERIFY2(expression.match(m_control.value(field)).hasMatch(),
             qPrintable(field + u": " + m_control.value(field)));
}

void TstPackage::dependsOn_data()
{
    QTest::addColumn<QString>("dependency");

    // Found by dpkg-shlibdeps from what the program links.
    QTest::newRow("Qt widgets, found from the program") << "libqt6widgets6";
    QTest::newRow("Qt multimedia, found from the program") << "libqt6multimedia6";
    QTest::newRow("C++ runtime, found from the program") << "libstdc++6";
    // Loaded at run time, so named by hand.
    QTest::newRow("SVG plugins for the window icon") << "libqt6svg6";
    QTest::newRow("GStreamer's mp3 decoder for the tune") << "gstreamer1.0-plugins-good";
    QTest::newRow("a CJK font") << "fonts-wqy-microhei | fonts-noto-cjk";
}

void TstPackage::dependsOn()
{
    QFETCH(QString, dependency);
    QStringList names;
    // Version constraints apart: "libc6 (>= 2.34)" depends on libc6.
    static const QRegularExpression version(QStringLiteral("\\s*\\([^)]*\\)"));
    for (const QString &entry : m_control.value(QStringLiteral("Depends")).split(u','))
        names.append(QString(entry).remove(version).trimmed());
    QVERIFY2(names.contains(dependency),
             qPrintable(u"Depends: " + m_control.value(QStringLiteral("Depends"))));
}

void TstPackage::installedFile_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("executable");
    QTest::addColumn<QByteArray>("starts");
    QTest::addColumn<QString>("sameAs"); // a file of the tree it must equal, if any

    const QString source = QStringLiteral(ZHIWEI_SOURCE_DIR);
    QTest::newRow("launcher on the PATH")
        << "usr/bin/zhiweige" << true << QByteArray("#!/bin/sh\n") << QString();
    QTest::newRow("program in its own folder") << "usr/lib/zhiweige/zhiweige" << true
                                               << QByteArray("\x7f"
                                                             "ELF")
                                               << QString();
    QTest::newRow("offline fortune service beside it")
        << "usr/lib/zhiweige/zhiwei-fortune-service" << true
        << QByteArray("\x7f"
                      "ELF")
        << QString();
    QTest::newRow("tune beside the program")
        << "usr/lib/zhiweige/bg.mp3" << false << QByteArray() << source + u"/assets/bg.mp3";
    QTest::newRow("desktop entry") << "usr/share/applications/zhiweige.desktop" << false
                                   << QByteArray() << source + u"/packaging/zhiweige.desktop";
}

void TstPackage::installedFile()
{
    QFETCH(QString, path);
    QFETCH(bool, executable);
    QFETCH(QByteArray, starts);
    QFETCH(QString, sameAs);

    const QFileInfo info(m_root + u'/' + path);
    QVERIFY2(info.isFile(), qPrintable(path + u" is not in the package"));
    const QFileDevice::Permissions runnable =
        QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther;
    QCOMPARE(bool(info.permissions() & runnable), executable);
    QVERIFY(info.permissions() & QFileDevice::ReadOther);
    const QByteArray bytes = readAll(info.filePath());
    QVERIFY(bytes.startsWith(starts));
    if (!sameAs.isEmpty())
        QVERIFY2(bytes == readAll(sameAs), qPrintable(path + u" differs from " + sameAs));
}

void TstPackage::programFolderHoldsNothingElse()
{
    QStringList expected = {QStringLiteral("zhiweige"), QStringLiteral("zhiwei-fortune-service"),
                            QStringLiteral("bg.mp3")};
    for (const RuntimeFile &file : RuntimeFiles::all())
        expected.append(file.fileName);
    expected.sort();
    QStringList found = QDir(programDir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    found.sort();
    QCOMPARE(found, expected);
}

void TstPackage::runtimeFileIsWhatTheProgramWrites_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<int>("resourceNumber");
    for (const RuntimeFile &file : RuntimeFiles::all())
        QTest::addRow("%s", qPrintable(file.fileName)) << file.fileName << file.resourceNumber;
}

void TstPackage::runtimeFileIsWhatTheProgramWrites()
{
    QFETCH(QString, fileName);
    QFETCH(int, resourceNumber);
    const QByteArray expected = RuntimeFiles::resource(resourceNumber);
    QVERIFY(!expected.isEmpty());
    const QString path = QDir(programDir()).filePath(fileName);
    QVERIFY2(QFile::exists(path), qPrintable(fileName + u" is not installed"));
    QVERIFY2(readAll(path) == expected,
             qPrintable(fileName + u" differs from what the program writes"));
}

void TstPackage::icon_data()
{
    QTest::addColumn<int>("size");
    for (const int size : {16, 24, 32, 48, 64, 128, 256})
        QTest::addRow("%dx%d", size, size) << size;
    QTest::newRow("scalable") << 0;
}

void TstPackage::icon()
{
    QFETCH(int, size);
    const QString icons = m_root + u"/usr/share/icons/hicolor/";
    const QString source = QStringLiteral(ZHIWEI_SOURCE_DIR "/assets/icon/");
    if (size == 0) {
        const QString path = icons + u"scalable/apps/zhiweige.svg";
        QVERIFY2(QFile::exists(path), qPrintable(path));
        QCOMPARE(readAll(path), readAll(source + u"zhiweige.svg"));
        return;
    }
    const QString path = icons + QStringLiteral("%1x%1/apps/zhiweige.png").arg(size);
    QVERIFY2(QFile::exists(path), qPrintable(path + u" is missing"));
    QCOMPARE(readAll(path), readAll(source + QStringLiteral("zhiweige-%1.png").arg(size)));
    // An icon in the wrong size folder looks blurred or is skipped.
    QCOMPARE(QImageReader(path).size(), QSize(size, size));
}

void TstPackage::desktopEntryIsValidAndPointsAtInstalledFiles()
{
    const QString entry = m_root + u"/usr/share/applications/zhiweige.desktop";
    QVERIFY(QFile::exists(entry));
    if (QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate")).isEmpty())
        QSKIP("desktop-file-validate is missing: install the Debian package desktop-file-utils");
    const Outcome validation = run(QStringLiteral("desktop-file-validate"), {entry});
    QVERIFY2(validation.exitCode == 0 && validation.output.trimmed().isEmpty(),
             qPrintable(validation.output));

    const QString text = QString::fromUtf8(readAll(entry));
    const auto value = [&text](const QString &key) {
        const QRegularExpression line(u"^" + QRegularExpression::escape(key) + u"=(.*)$",
                                      QRegularExpression::MultilineOption);
        return line.match(text).captured(1);
    };
    // A menu entry whose command or icon is not installed shows but does not work.
    const QString command = value(QStringLiteral("Exec")).section(u' ', 0, 0);
    QVERIFY2(QFileInfo(m_root + u"/usr/bin/" + command).isExecutable(), qPrintable(command));
    const QString icon = value(QStringLiteral("Icon"));
    QVERIFY2(QFile::exists(m_root + u"/usr/share/icons/hicolor/48x48/apps/" + icon + u".png"),
             qPrintable(icon));
    QCOMPARE(value(QStringLiteral("Name[zh_CN]")), QStringLiteral("澄川知微阁"));
    QCOMPARE(value(QStringLiteral("Comment[zh_CN]")), QStringLiteral("查看十二星座今日与明日运势"));
}

QString TstPackage::missingForDisplay()
{
    if (qEnvironmentVariable("QT_QPA_PLATFORM") == u"offscreen" ||
        qEnvironmentVariableIsEmpty("DISPLAY"))
        return QStringLiteral(
            "No X display: install xvfb and openbox to run the installed program");
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        return QStringLiteral("xdotool is missing: install the Debian package xdotool");
    return {};
}

QString TstPackage::portTaken()
{
    if (!ZHIWEI_STARTS_SERVICE || portIsFree(ZHIWEI_SERVICE_PORT))
        return {};
    return QStringLiteral("Something else listens on 127.0.0.1:%1, the port the launcher starts "
                          "the service on")
        .arg(ZHIWEI_SERVICE_PORT);
}

void TstPackage::startLauncher(const QStringList &wrapper, const QProcessEnvironment &environment)
{
    m_launcher = std::make_unique<QProcess>();
    m_launcher->setProcessChannelMode(QProcess::MergedChannels);
    m_launcher->setProcessEnvironment(environment);
    // Started from elsewhere, as a menu would: the launcher must find its files by itself.
    m_launcher->setWorkingDirectory(QDir::rootPath());
    if (wrapper.isEmpty())
        m_launcher->start(launcher(), {});
    else
        m_launcher->start(wrapper.first(), wrapper.mid(1) << launcher());
    QVERIFY2(m_launcher->waitForStarted(), qPrintable(m_launcher->errorString()));
}

QString TstPackage::launcherOutput()
{
    return m_launcher ? QString::fromLocal8Bit(m_launcher->readAll()) : QString();
}

void TstPackage::passSplash()
{
    if (QTest::currentTestFailed())
        return;
    QString splash;
    QTRY_VERIFY2_WITH_TIMEOUT(!(splash = visibleWindow(QStringLiteral("^Form3$"))).isEmpty(),
                              qPrintable(u"no splash; launcher said: " + launcherOutput()),
                              StartTimeoutMs);

    // A click that comes while the window is still being set up can be lost;
    // another one is harmless while the splash fades out.
    QElapsedTimer sinceClick;
    const auto clickedThrough = [&] {
        if (!visibleWindow(QRegularExpression::escape(MainWindowTitle)).isEmpty())
            return true;
        if (!sinceClick.isValid() || sinceClick.elapsed() > 3000) {
            if (!visibleWindow(QStringLiteral("^Form3$")).isEmpty())
                run(QStringLiteral("xdotool"),
                    {QStringLiteral("mousemove"), QStringLiteral("--window"), splash,
                     QStringLiteral("300"), QStringLiteral("196"), QStringLiteral("click"),
                     QStringLiteral("1")},
                    10000);
            sinceClick.start();
        }
        return false;
    };
    QTRY_VERIFY2_WITH_TIMEOUT(clickedThrough(),
                              qPrintable(u"no main window; launcher said: " + launcherOutput()),
                              StartTimeoutMs);
}

void TstPackage::launcherRunsProgramAndService_data()
{
    QTest::addColumn<bool>("endProgramItself");
    QTest::newRow("launcher stopped") << false;
    QTest::newRow("program stopped directly") << true;
}

void TstPackage::launcherRunsProgramAndService()
{
    QFETCH(bool, endProgramItself);
    for (const QString &why : {missingForDisplay(), portTaken()}) {
        if (!why.isEmpty())
            QSKIP(qPrintable(why));
    }

    const QMap<QString, Stamp> before = runtimeStamps(programDir());
    startLauncher();
    passSplash();
    if (QTest::currentTestFailed())
        return;

    QCOMPARE(processesOf(program()).size(), 1);
    if (ZHIWEI_STARTS_SERVICE) {
        QCOMPARE(processesOf(service()).size(), 1);
        QNetworkAccessManager network;
        std::unique_ptr<QNetworkReply> reply(network.get(QNetworkRequest(QUrl(
            QStringLiteral("http://127.0.0.1:%1/kwgamejc/xz/jc.txt").arg(ZHIWEI_SERVICE_PORT)))));
        QSignalSpy finished(reply.get(), &QNetworkReply::finished);
        QVERIFY(finished.wait(StartTimeoutMs));
        QCOMPARE(reply->error(), QNetworkReply::NoError);
    } else {
        QVERIFY(processesOf(service()).isEmpty());
    }
    // The folder is writable here, so only a file that differs would be rewritten.
    QCOMPARE(runtimeStamps(programDir()), before);

    if (endProgramItself) {
        const QList<pid_t> programs = processesOf(program());
        QCOMPARE(programs.size(), 1);
        QCOMPARE(::kill(programs.first(), SIGTERM), 0);
    } else {
        m_launcher->terminate();
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_launcher->state(), QProcess::NotRunning, StartTimeoutMs);
    // The program's own end, passed on: as the shell reports it, or as the
    // program's when the launcher became the program.
    if (m_launcher->exitStatus() == QProcess::CrashExit)
        QCOMPARE(m_launcher->exitCode(), SIGTERM);
    else
        QCOMPARE(m_launcher->exitCode(), 128 + SIGTERM);
    QVERIFY(processesOf(program()).isEmpty());
    QVERIFY2(processesOf(service()).isEmpty(), "the launcher left its service running");
    if (ZHIWEI_STARTS_SERVICE)
        QVERIFY(portIsFree(ZHIWEI_SERVICE_PORT));
}

void TstPackage::launcherLeavesARunningServiceAlone()
{
    if (!ZHIWEI_STARTS_SERVICE)
        QSKIP("This build talks to other hosts; its launcher starts no service");
    if (const QString why = missingForDisplay(); !why.isEmpty())
        QSKIP(qPrintable(why));

    httpkit::Server running([](const httpkit::Request &request) {
        if (request.path() == "/kwgamejc/xz/jc.txt")
            return httpkit::Response::text("V2");
        return httpkit::Response::status404();
    });
    if (!running.listen(QHostAddress::LocalHost, ZHIWEI_SERVICE_PORT))
        QSKIP(qPrintable(QStringLiteral("Cannot listen on 127.0.0.1:%1: %2")
                             .arg(ZHIWEI_SERVICE_PORT)
                             .arg(running.errorString())));

    startLauncher();
    passSplash();
    if (QTest::currentTestFailed())
        return;
    // The version check, a second after the main window opens, reaches the
    // service that was already there.
    QTRY_VERIFY_WITH_TIMEOUT(std::any_of(running.requests().cbegin(), running.requests().cend(),
                                         [](const httpkit::Request &request) {
                                             return request.path() == "/kwgamejc/xz/jc.txt";
                                         }),
                             StartTimeoutMs);
    QVERIFY2(processesOf(service()).isEmpty(), "a second service was left running");

    m_launcher->terminate();
    QTRY_COMPARE_WITH_TIMEOUT(m_launcher->state(), QProcess::NotRunning, StartTimeoutMs);
    QVERIFY(processesOf(program()).isEmpty());
}

void TstPackage::runsForAUserWhoCannotWriteItsFolder()
{
    for (const QString &why : {missingForDisplay(), portTaken()}) {
        if (!why.isEmpty())
            QSKIP(qPrintable(why));
    }

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QStringList wrapper;
    if (::geteuid() == 0) {
        const passwd *nobody = ::getpwnam("nobody");
        if (!nobody)
            QSKIP("There is no user nobody to run the program as");
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (setpriv.isEmpty())
            QSKIP("setpriv is missing: install the Debian package util-linux");
        wrapper = {setpriv, QStringLiteral("--reuid=%1").arg(nobody->pw_uid),
                   QStringLiteral("--regid=%1").arg(nobody->pw_gid),
                   QStringLiteral("--clear-groups"), QStringLiteral("--")};
        // A home and a runtime folder of its own, as a logged-in user has.
        const QString home = m_scratch->filePath(QStringLiteral("home-nobody"));
        QVERIFY(QDir().mkpath(home));
        QCOMPARE(::chown(QFile::encodeName(home).constData(), nobody->pw_uid, nobody->pw_gid), 0);
        QVERIFY(QFile::setPermissions(home, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                QFileDevice::ExeOwner));
        environment.insert(QStringLiteral("HOME"), home);
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home);
        environment.insert(QStringLiteral("TMPDIR"), home);
        environment.insert(QStringLiteral("USER"), QString::fromLocal8Bit(nobody->pw_name));
        environment.insert(QStringLiteral("LOGNAME"), QString::fromLocal8Bit(nobody->pw_name));
    } else {
        m_readOnlyDir = programDir();
        QVERIFY(QFile::setPermissions(m_readOnlyDir,
                                      QFile::permissions(m_readOnlyDir) &
                                          ~(QFileDevice::WriteOwner | QFileDevice::WriteUser |
                                            QFileDevice::WriteGroup | QFileDevice::WriteOther)));
    }

    const QMap<QString, Stamp> before = runtimeStamps(programDir());
    startLauncher(wrapper, environment);
    passSplash();
    if (QTest::currentTestFailed())
        return;

    // Its folder as installed, and the skin the main window attaches among it.
    QCOMPARE(runtimeStamps(programDir()), before);
    QCOMPARE(readAll(QDir(programDir()).filePath(QStringLiteral("skinh.she"))),
             RuntimeFiles::resource(111));
    const QList<pid_t> programs = processesOf(program());
    QCOMPARE(programs.size(), 1);
    if (!wrapper.isEmpty()) {
        struct stat info = {};
        QCOMPARE(::stat(QStringLiteral("/proc/%1").arg(programs.first()).toLocal8Bit().constData(),
                        &info),
                 0);
        QCOMPARE(info.st_uid, ::getpwnam("nobody")->pw_uid);
    }
    if (ZHIWEI_STARTS_SERVICE)
        QCOMPARE(processesOf(service()).size(), 1);

    m_launcher->terminate();
    QTRY_COMPARE_WITH_TIMEOUT(m_launcher->state(), QProcess::NotRunning, StartTimeoutMs);
    QVERIFY(processesOf(program()).isEmpty());
    QVERIFY(processesOf(service()).isEmpty());
}

QTEST_GUILESS_MAIN(TstPackage)
#include "tst_package.moc"
