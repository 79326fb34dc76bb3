#include "core/RuntimeFiles.h"

#include "CannedLocalServer.h"
#include "HostileListener.h"
#include "ProcStat.h"
#include "SoundServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QLibraryInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include <cstring>
#include <list>
#include <memory>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

// The Debian package built from this tree, unpacked into a scratch root: what
// it holds and what Debian's own checkers say of it; then the program run
// from it through its launcher, with the offline service as users meet it:
// shared, outliving any one program, ending by itself when idle.
class TstPackage : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
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
    void lintianFindsNothing();
    void binaryIsHardened_data();
    void binaryIsHardened();
    void metainfoIsValidAndPointsAtInstalledFiles();
    void serviceUnitsVerify();
    void socketIsEnabledOnInstallAndGoneOnPurge();

    void programEndsAndTheServiceIdlesOut_data();
    void programEndsAndTheServiceIdlesOut();
    void twoUsersShareOneService();
    void runsWithItsIconOnWhatItDependsOn();
    void keepsToItsOwnSocketAndForum();
    void getsItsFortuneWhateverBecameOfTheService_data();
    void getsItsFortuneWhateverBecameOfTheService();
    void launcherStartsNothingWhenItCannotTell_data();
    void launcherStartsNothingWhenItCannotTell();

private:
    QString programDir() const { return m_root + u"/usr/lib/zhiweige"; }
    QString program() const { return programDir() + u"/zhiweige"; }
    QString service() const { return programDir() + u"/zhiwei-fortune-service"; }
    QString unitFile(const char *unit) const
    {
        return m_root + u"/usr/lib/systemd/system/" + QLatin1StringView(unit);
    }
    // The same tree built for the lifecycle's system socket.
    QString runDir() const { return m_runRoot + u"/usr/lib/zhiweige"; }
    QString runProgram() const { return runDir() + u"/zhiweige"; }
    QString runService() const { return runDir() + u"/zhiwei-fortune-service"; }

    // Why the program cannot be run here, or nothing.
    static QString missingForRuns();
    // The environment of a person's session here: no desktop, so that
    // xdg-open hands web addresses to $BROWSER, a scratch TMPDIR and a
    // runtime folder of the row's own.
    QProcessEnvironment sessionEnvironment() const;
    // The same for the user nobody (when the test runs as root): a home and
    // a runtime folder of its own, and the command that becomes nobody.
    QStringList becomeNobody(QProcessEnvironment &environment);
    // Starts the lifecycle tree's launcher, under `wrapper` if given.
    QProcess *launch(const QProcessEnvironment &environment, const QStringList &wrapper = {});
    // Waits for the program's splash, clicks it, waits for its main window.
    QString passSplash(QProcess *launcher);
    // Copies the fortune on show through the share menu; the report, or
    // nothing when there is none on show yet.
    QString copyReport(qint64 pid, const QString &mainWindow);
    // Copies it until there is one, into *report; false when none came.
    bool copiedFortune(qint64 pid, const QString &mainWindow, QString *report);
    // Waits for the program's message box and presses `key` in it.
    void answerMessageBox(qint64 pid, const QString &key);
    // The services the lifecycle tree has running.
    QList<pid_t> runServices() const;

    std::unique_ptr<QTemporaryDir> m_scratch;
    QString m_root;
    QString m_runRoot;
    QString m_deb;
    QMap<QString, QString> m_control;
    std::list<QProcess> m_launchers;
    std::unique_ptr<QProcess> m_activator;
    QString m_readOnlyDir;
    QString m_runtime;
};

namespace {

constexpr int StartTimeoutMs = 30000;
const QString LifecycleSocket = QStringLiteral(ZHIWEI_LIFECYCLE_SOCKET);
constexpr int IdleSeconds = ZHIWEI_LIFECYCLE_IDLE_SECONDS;
const QString PackageVersion = QStringLiteral(ZHIWEI_VERSION "-" ZHIWEI_PACKAGE_REVISION);

struct Outcome
{
    int exitCode = -1;
    QString output;
};

Outcome run(const QString &program, const QStringList &arguments, int timeoutMs = 60000,
            const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment(),
            QProcess::ProcessChannelMode channels = QProcess::MergedChannels)
{
    QProcess process;
    process.setProcessChannelMode(channels);
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    Outcome outcome;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        outcome.output = QStringLiteral("%1 did not finish: %2")
                             .arg(program, QString::fromLocal8Bit(process.readAll()));
        return outcome;
    }
    outcome.output = QString::fromLocal8Bit(process.readAllStandardOutput());
    outcome.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return outcome;
}

QList<pid_t> processesOf(const QString &path)
{
    QList<pid_t> pids;
    for (const qint64 pid : ProcStat::processesRunning(path))
        pids.append(pid_t(pid));
    return pids;
}

// The suites' driver of the program in X (tests/support/zhiweige), one
// action a run: its answer's lines. Its names stand for the program's
// titles and points: MAIN_TITLE, SHARE_LABEL.
QStringList driver(const QStringList &arguments)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PYTHONPATH"),
                       QStringLiteral(ZHIWEI_SOURCE_DIR "/tests/support"));
    const Outcome done =
        run(QStringLiteral("python3"),
            QStringList{QStringLiteral("-Bm"), QStringLiteral("zhiweige")} + arguments, 10000,
            environment, QProcess::SeparateChannels);
    return done.exitCode == 0 ? done.output.split(u'\n', Qt::SkipEmptyParts) : QStringList();
}

// The visible windows of a process, popups included.
QStringList windowsOf(qint64 pid)
{
    return driver({QStringLiteral("windows"), QString::number(pid)});
}

QString windowNamed(qint64 pid, const char *title)
{
    return driver({QStringLiteral("window"), QString::number(pid), QLatin1String(title)}).value(0);
}

void click(const QString &window, const char *point)
{
    driver({QStringLiteral("click"), window, QLatin1String(point)});
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

bool writeScript(const QString &path, const QByteArray &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() &&
           file.setPermissions(file.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeGroup |
                               QFileDevice::ExeOther | QFileDevice::ReadOther);
}

// A browser that writes down each address it is asked to open in `record`.
// No desktop here, so xdg-open hands addresses to $BROWSER.
QString browserWritingTo(const QString &record)
{
    const QString browser = record + u".sh";
    writeScript(browser,
                "#!/bin/sh\nprintf '%s\\n' \"$*\" >> '" + QFile::encodeName(record) + "'\n");
    return browser;
}

// The Debian package that installed `path`, or nothing.
QString packageOwning(const QString &path)
{
    const Outcome owner = run(QStringLiteral("dpkg-query"), {QStringLiteral("-S"), path}, 60000,
                              QProcessEnvironment::systemEnvironment(), QProcess::SeparateChannels);
    return owner.exitCode == 0 ? owner.output.section(u':', 0, 0).section(u',', 0, 0).trimmed()
                               : QString();
}

// The package names a Depends field names, alternatives and all.
QStringList packageNames(const QString &field)
{
    QStringList names;
    for (const QString &entry : field.split(QRegularExpression(QStringLiteral("[,|]")))) {
        const QString name = entry.trimmed().section(u' ', 0, 0).section(u':', 0, 0);
        if (!name.isEmpty())
            names << name;
    }
    return names;
}

QString missingTool(const QString &tool, const QString &package)
{
    if (!QStandardPaths::findExecutable(tool).isEmpty())
        return {};
    return QStringLiteral("%1 is missing: install the Debian package %2").arg(tool, package);
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
        if (const QString why = missingTool(tool, package); !why.isEmpty())
            QSKIP(qPrintable(why + u" to build and check the .deb"));
    }

    const QString config = QStringLiteral(ZHIWEI_BINARY_DIR "/CPackConfig.cmake");
    QVERIFY2(QFile::exists(config), qPrintable(config + u" is missing: configure the build"));

    m_scratch = std::make_unique<QTemporaryDir>(QDir::tempPath() + u"/tst_package-XXXXXX");
    QVERIFY(m_scratch->isValid());
    // Another user runs the program from in here.
    const QFileDevice::Permissions shared = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                            QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                            QFileDevice::ExeOther;
    QVERIFY(QFile::setPermissions(m_scratch->path(), shared));

    const QString packages = m_scratch->filePath(QStringLiteral("packages"));
    QProcess cpack;
    cpack.setWorkingDirectory(m_scratch->path());
    cpack.setProcessChannelMode(QProcess::MergedChannels);
    cpack.start(QStringLiteral("cpack"),
                {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("--config"), config,
                 QStringLiteral("-B"), packages});
    QVERIFY(cpack.waitForFinished(300000));
    QVERIFY2(cpack.exitCode() == 0, qPrintable(u"cpack failed:\n" + cpack.readAll()));

    const QStringList debs = QDir(packages).entryList({QStringLiteral("*.deb")}, QDir::Files);
    QCOMPARE(debs.size(), 1);
    m_deb = QDir(packages).filePath(debs.first());

    m_root = m_scratch->filePath(QStringLiteral("root"));
    const Outcome unpack = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), m_deb, m_root});
    QVERIFY2(unpack.exitCode == 0, qPrintable(unpack.output));
    QVERIFY(QFile::setPermissions(m_root, shared));

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

    // The runs use the same tree with the program and launcher built for
    // the lifecycle's system socket.
    m_runRoot = m_scratch->filePath(QStringLiteral("run-root"));
    const Outcome copy = run(QStringLiteral("cp"), {QStringLiteral("-a"), m_root, m_runRoot});
    QVERIFY2(copy.exitCode == 0, qPrintable(copy.output));
    for (const auto &[from, to] :
         {std::pair{QStringLiteral(ZHIWEI_LIFECYCLE_PROGRAM), runProgram()},
          std::pair{QStringLiteral(ZHIWEI_LIFECYCLE_LAUNCHER),
                    QString(m_runRoot + u"/usr/bin/zhiweige")}}) {
        QVERIFY(QFile::remove(to));
        QVERIFY2(QFile::copy(from, to), qPrintable(from));
        QVERIFY(QFile::setPermissions(to, QFile::permissions(to) | QFileDevice::ReadOther |
                                              QFileDevice::ExeOther));
    }
}

void TstPackage::init()
{
    static int row = 0;
    if (!m_scratch)
        return;
    m_runtime = m_scratch->filePath(QStringLiteral("runtime-%1").arg(++row));
    QVERIFY(QDir().mkpath(m_runtime));
    QVERIFY(QFile::setPermissions(m_runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                 QFileDevice::ExeOwner));
}

void TstPackage::cleanup()
{
    // Whatever a row left running from the scratch trees.
    for (QProcess &launcher : m_launchers) {
        if (launcher.state() != QProcess::NotRunning) {
            launcher.kill();
            launcher.waitForFinished();
        }
    }
    m_launchers.clear();
    if (m_activator && m_activator->state() != QProcess::NotRunning) {
        m_activator->kill();
        m_activator->waitForFinished();
    }
    m_activator.reset();
    QDir(QFileInfo(LifecycleSocket).path()).removeRecursively();
    if (!m_root.isEmpty()) {
        const QStringList executables = {program(), service(), runProgram(), runService()};
        for (const QString &path : executables) {
            for (const pid_t pid : processesOf(path))
                ::kill(pid, SIGKILL);
        }
        // Gone, and their port with them, before the next row looks.
        const bool gone = QTest::qWaitFor(
            [&] {
                return std::all_of(executables.cbegin(), executables.cend(),
                                   [](const QString &path) { return processesOf(path).isEmpty(); });
            },
            StartTimeoutMs);
        if (!gone)
            qWarning("a program or service of the package would not end");
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

// ---------------------------------------------------------------- contents

void TstPackage::controlField_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("pattern");

    QTest::newRow("named zhiweige") << "Package"
                                    << "^zhiweige$";
    QTest::newRow("version is the project's, with a Debian revision")
        << "Version" << u'^' + QRegularExpression::escape(PackageVersion) + u'$';
    QTest::newRow("section utils") << "Section"
                                   << "^utils$";
    QTest::newRow("maintainer with an address off this machine")
        << "Maintainer"
        << "^.+ <[^ @]+@(?!localhost)[^ @]+\\.[a-z]+>$";
    QTest::newRow("synopsis in English with the Chinese name") << "Description"
                                                               << "^[a-z][ -~]*\\(澄川知微阁\\)\n";
    QTest::newRow("long description present") << "Description"
                                              << "\n.{20,}";
    QTest::newRow("recommends xdg-utils, which opens the forums") << "Recommends"
                                                                  << "(^|, )xdg-utils(,|$)";
    QTest::newRow("recommends a dialog for the launcher's warning")
        << "Recommends"
        << "(^|, )zenity \\| kdialog(,|$)";
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
    // Named by hand: what Qt loads at run time is checked on a run below.
    QTest::newRow("a CJK font") << "fonts-wqy-microhei | fonts-noto-cjk";
    // Qt's private headers change with every Qt: the program is tied to the
    // ABI its Qt's package provides (qt6-base-abi or qt6-base-private-abi).
    const QString core =
        packageOwning(QLibraryInfo::path(QLibraryInfo::LibrariesPath) + u"/libQt6Core.so.6");
    static const QRegularExpression abi(QStringLiteral("qt6-base(-private)?-abi \\(= [^)]+\\)"));
    const QString provides = run(QStringLiteral("dpkg-query"),
                                 {QStringLiteral("-W"), QStringLiteral("-f=${Provides}"), core})
                                 .output;
    const QString provided = abi.match(provides).captured(0);
    QTest::newRow("the exact Qt it was built with")
        << (provided.isEmpty() ? u"an ABI that " + core + u" provides: " + provides : provided);
}

void TstPackage::dependsOn()
{
    QFETCH(QString, dependency);
    QStringList names;
    // Version constraints apart: "libc6 (>= 2.34)" depends on libc6; an
    // exact one must match as a whole.
    static const QRegularExpression version(QStringLiteral("\\s*\\([^)]*\\)"));
    for (const QString &entry : m_control.value(QStringLiteral("Depends")).split(u','))
        names << QString(entry).remove(version).trimmed() << entry.trimmed();
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
    const QByteArray elf("\x7f"
                         "ELF");
    const QByteArray gzip("\x1f\x8b");
    QTest::newRow("launcher on the PATH")
        << "usr/bin/zhiweige" << true << QByteArray("#!/bin/sh\n") << QString();
    QTest::newRow("program in its own folder")
        << "usr/lib/zhiweige/zhiweige" << true << elf << QString();
    QTest::newRow("offline fortune service beside it")
        << "usr/lib/zhiweige/zhiwei-fortune-service" << true << elf << QString();
    QTest::newRow("tune beside the program")
        << "usr/lib/zhiweige/bg.mp3" << false << QByteArray() << source + u"/assets/bg.mp3";
    QTest::newRow("desktop entry") << "usr/share/applications/zhiweige.desktop" << false
                                   << QByteArray() << source + u"/packaging/zhiweige.desktop";
    QTest::newRow("machine-readable copyright")
        << "usr/share/doc/zhiweige/copyright" << false
        << QByteArray(
               "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n")
        << source + u"/packaging/copyright";
    QTest::newRow("Debian changelog, compressed")
        << "usr/share/doc/zhiweige/changelog.Debian.gz" << false << gzip << QString();
    QTest::newRow("manual page, compressed")
        << "usr/share/man/man1/zhiweige.1.gz" << false << gzip << QString();
    QTest::newRow("AppStream metadata") << "usr/share/metainfo/" ZHIWEI_APPSTREAM_ID ".metainfo.xml"
                                        << false << QByteArray("<?xml") << QString();
    if (ZHIWEI_STARTS_SERVICE) {
        for (const char *forum : {"bbs", "yunfan"}) {
            QTest::addRow("the %s forum's page beside the program", forum)
                << u"usr/lib/zhiweige/forum/" + QLatin1StringView(forum) + u"/index.html" << false
                << QByteArray("<!DOCTYPE html>") << QString();
        }
        QTest::newRow("the service's socket unit") << "usr/lib/systemd/system/" ZHIWEI_SOCKET_UNIT
                                                   << false << QByteArray("[Unit]\n") << QString();
        QTest::newRow("the service's unit") << "usr/lib/systemd/system/" ZHIWEI_SERVICE_UNIT
                                            << false << QByteArray("[Unit]\n") << QString();
    }
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
    if (ZHIWEI_STARTS_SERVICE)
        expected.append(QStringLiteral("forum"));
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
    if (const QString why = missingTool(QStringLiteral("desktop-file-validate"),
                                        QStringLiteral("desktop-file-utils"));
        !why.isEmpty())
        QSKIP(qPrintable(why));
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

// What a distribution asks of a package before it takes it.
void TstPackage::lintianFindsNothing()
{
    if (const QString why = missingTool(QStringLiteral("lintian"), QStringLiteral("lintian"));
        !why.isEmpty())
        QSKIP(qPrintable(why));
    // It leaves files in its TMPDIR; this one goes with the test's scratch.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString tmp = m_scratch->filePath(QStringLiteral("lintian-tmp"));
    QVERIFY(QDir().mkpath(tmp));
    environment.insert(QStringLiteral("TMPDIR"), tmp);
    // Its tags on the standard output; a note about running as root goes to
    // the standard error.
    const Outcome lintian =
        run(QStringLiteral("lintian"),
            {QStringLiteral("--fail-on"), QStringLiteral("error,warning"), m_deb}, 300000,
            environment, QProcess::SeparateChannels);
    QVERIFY2(lintian.exitCode == 0 && lintian.output.trimmed().isEmpty(),
             qPrintable(u"lintian says:\n" + lintian.output));
}

void TstPackage::binaryIsHardened_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("notChecked");

    // The program's only fortifiable calls are memcpy and memmove inlined
    // from Qt's containers, with sizes known only at run time: fortified or
    // not, they stay plain, the false alarm hardening-check(1) describes.
    // The service shows the fortified calls of the same build.
    QTest::newRow("the program") << "usr/lib/zhiweige/zhiweige"
                                 << QStringList{QStringLiteral("--nofortify")};
    QTest::newRow("the offline service")
        << "usr/lib/zhiweige/zhiwei-fortune-service" << QStringList();
}

// Stack protector, fortified calls, PIE, read-only relocations bound at
// start, and whatever else this release's own hardening gives a program:
// hardening-check of each release must pass on what its flags produce.
void TstPackage::binaryIsHardened()
{
    QFETCH(QString, path);
    QFETCH(QStringList, notChecked);
    if (const QString why =
            missingTool(QStringLiteral("hardening-check"), QStringLiteral("devscripts"));
        !why.isEmpty())
        QSKIP(qPrintable(why));
    if (!ZHIWEI_BUILT_AS_SHIPPED)
        QSKIP("This build is not optimised, or runs the sanitizers: fortified calls need "
              "optimisation, so hardening is checked on a build as it ships");
    const QString checks =
        run(QStringLiteral("hardening-check"), {QStringLiteral("--help")}).output;
    QProcessEnvironment debian = QProcessEnvironment::systemEnvironment();
    debian.insert(QStringLiteral("DEB_BUILD_MAINT_OPTIONS"), QStringLiteral("hardening=+all"));
    const Outcome flags = run(QStringLiteral("dpkg-buildflags"),
                              {QStringLiteral("--get"), QStringLiteral("CXXFLAGS")}, 60000, debian);
    QVERIFY2(flags.exitCode == 0, qPrintable(flags.output));
    // Control-flow and branch marks hold only if every object linked in has
    // them, the C start files included (Debian 12's and 13's carry none);
    // branch protection is arm64's, given only where the flags ask for it.
    const Outcome start = run(QStringLiteral("c++"), {QStringLiteral("-print-file-name=Scrt1.o")});
    const Outcome notes =
        run(QStringLiteral("readelf"), {QStringLiteral("-n"), start.output.trimmed()});
    QVERIFY2(notes.exitCode == 0, qPrintable(notes.output));
    if (!notes.output.contains(u"x86 feature: IBT, SHSTK"))
        notChecked << QStringLiteral("--nocfprotection");
    if (checks.contains(u"--nobranchprotection") &&
        !(flags.output.contains(u"-mbranch-protection") &&
          notes.output.contains(u"AArch64 feature: BTI, PAC")))
        notChecked << QStringLiteral("--nobranchprotection");
    const Outcome check =
        run(QStringLiteral("hardening-check"), notChecked + QStringList{m_root + u'/' + path});
    QVERIFY2(check.exitCode == 0, qPrintable(notChecked.join(u' ') + check.output));
}

// What software centres list the program by.
void TstPackage::metainfoIsValidAndPointsAtInstalledFiles()
{
    const QString path =
        m_root + QStringLiteral("/usr/share/metainfo/" ZHIWEI_APPSTREAM_ID ".metainfo.xml");
    QVERIFY(QFile::exists(path));
    if (const QString why =
            missingTool(QStringLiteral("appstreamcli"), QStringLiteral("appstream"));
        !why.isEmpty())
        QSKIP(qPrintable(why));
    const Outcome validation =
        run(QStringLiteral("appstreamcli"), {QStringLiteral("validate"), QStringLiteral("--no-net"),
                                             QStringLiteral("--no-color"), path});
    QVERIFY2(validation.exitCode == 0, qPrintable(validation.output));

    // The untranslated text of the elements that name files, by element
    // and type.
    const QStringList wanted = {QStringLiteral("id"), QStringLiteral("name"),
                                QStringLiteral("launchable:desktop-id"),
                                QStringLiteral("image:source")};
    QMap<QString, QString> found;
    QXmlStreamReader xml(readAll(path));
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QString type = xml.attributes().value(QStringLiteral("type")).toString();
        const QString key = xml.name().toString() + (type.isEmpty() ? QString() : u':' + type);
        if (wanted.contains(key) && !found.contains(key) &&
            !xml.attributes().hasAttribute(QStringLiteral("xml:lang")))
            found.insert(key, xml.readElementText());
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(found.value(QStringLiteral("id")), QStringLiteral(ZHIWEI_APPSTREAM_ID));
    QCOMPARE(found.value(QStringLiteral("name")), QStringLiteral("澄川知微阁"));
    QVERIFY(QFile::exists(m_root + u"/usr/share/applications/" +
                          found.value(QStringLiteral("launchable:desktop-id"))));
    // The screenshot is the one in docs/.
    const QString screenshot = found.value(QStringLiteral("image:source"));
    QVERIFY2(screenshot.endsWith(u"/docs/main-window.png"), qPrintable(screenshot));
    QVERIFY(QFile::exists(QStringLiteral(ZHIWEI_SOURCE_DIR "/docs/main-window.png")));
}

// systemd's own checker, on the units as installed. It wants the service's
// executable and the manual page to exist: the copy it reads names the
// service inside the unpacked tree, and man looks there too.
void TstPackage::serviceUnitsVerify()
{
    if (!ZHIWEI_STARTS_SERVICE)
        QSKIP("This build talks to other hosts; it ships no service units");
    if (const QString why =
            missingTool(QStringLiteral("systemd-analyze"), QStringLiteral("systemd"));
        !why.isEmpty())
        QSKIP(qPrintable(why));
    const QString units = m_scratch->filePath(QStringLiteral("units"));
    QVERIFY(QDir().mkpath(units));
    // One socket for every user, where only root makes names.
    const QByteArray socketUnit = readAll(unitFile(ZHIWEI_SOCKET_UNIT));
    for (const QByteArray &line : {QByteArray("\nListenStream=" ZHIWEI_SYSTEM_SOCKET "\n"),
                                   QByteArray("\nSocketMode=0666\n")})
        QVERIFY2(socketUnit.contains(line), socketUnit.constData());
    for (const char *unit : {ZHIWEI_SOCKET_UNIT, ZHIWEI_SERVICE_UNIT}) {
        QByteArray text = readAll(unitFile(unit));
        QVERIFY(!text.isEmpty());
        text.replace("=/usr/lib/zhiweige/",
                     QByteArray("=" + QFile::encodeName(programDir()) + '/'));
        QFile copy(units + u'/' + QLatin1StringView(unit));
        QVERIFY(copy.open(QIODevice::WriteOnly) && copy.write(text) == text.size());
    }
    QStringList arguments = {QStringLiteral("verify")};
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (QStandardPaths::findExecutable(QStringLiteral("man")).isEmpty())
        arguments << QStringLiteral("--man=no");
    else
        environment.insert(QStringLiteral("MANPATH"), m_root + u"/usr/share/man");
    arguments << units + u"/" ZHIWEI_SOCKET_UNIT << units + u"/" ZHIWEI_SERVICE_UNIT;
    const Outcome verify = run(QStringLiteral("systemd-analyze"), arguments, 60000, environment);
    QVERIFY2(verify.exitCode == 0 && verify.output.trimmed().isEmpty(),
             qPrintable(u"systemd-analyze verify says:\n" + verify.output));
}

// The package's own scripts, run as dpkg runs them on a system installed
// into a folder (DPKG_ROOT): they enable the socket and a purge removes it.
void TstPackage::socketIsEnabledOnInstallAndGoneOnPurge()
{
    if (!ZHIWEI_STARTS_SERVICE)
        QSKIP("This build talks to other hosts; it ships no service units");
    if (const QString why = missingTool(QStringLiteral("deb-systemd-helper"),
                                        QStringLiteral("init-system-helpers"));
        !why.isEmpty())
        QSKIP(qPrintable(why));
    const QString system = m_scratch->filePath(QStringLiteral("system"));
    const QString scripts = m_scratch->filePath(QStringLiteral("control"));
    QCOMPARE(run(QStringLiteral("cp"), {QStringLiteral("-a"), m_root, system}).exitCode, 0);
    QCOMPARE(run(QStringLiteral("dpkg-deb"), {QStringLiteral("-e"), m_deb, scripts}).exitCode, 0);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DPKG_ROOT"), system);
    environment.insert(QStringLiteral("DPKG_MAINTSCRIPT_PACKAGE"), QStringLiteral("zhiweige"));
    const auto maintainer = [&](const QString &script, const QStringList &arguments) {
        environment.insert(QStringLiteral("DPKG_MAINTSCRIPT_NAME"), script);
        const Outcome outcome =
            run(QStringLiteral("sh"), QStringList{scripts + u'/' + script} + arguments, 60000,
                environment);
        return outcome.exitCode == 0 ? QString() : outcome.output + u" (exit not 0)";
    };
    const QString wants = system + u"/etc/systemd/system/sockets.target.wants/" ZHIWEI_SOCKET_UNIT;
    const QString mask = system + u"/etc/systemd/system/" ZHIWEI_SOCKET_UNIT;

    // Links as the installed system reads them, from inside its root.
    QCOMPARE(maintainer(QStringLiteral("postinst"), {QStringLiteral("configure")}), QString());
    QCOMPARE(QFileInfo(wants).symLinkTarget(),
             QStringLiteral("/usr/lib/systemd/system/" ZHIWEI_SOCKET_UNIT));

    QCOMPARE(maintainer(QStringLiteral("prerm"), {QStringLiteral("remove")}), QString());
    QCOMPARE(maintainer(QStringLiteral("postrm"), {QStringLiteral("remove")}), QString());
    QCOMPARE(QFileInfo(mask).symLinkTarget(), QStringLiteral("/dev/null"));

    QCOMPARE(maintainer(QStringLiteral("postrm"), {QStringLiteral("purge")}), QString());
    QVERIFY(!QFileInfo(wants).isSymLink());
    QVERIFY(!QFileInfo(mask).isSymLink());
    for (const QString &folder :
         {QStringLiteral("/etc/systemd/system"), QStringLiteral("/var/lib/systemd")})
        QVERIFY2(QDir(system + folder).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot),
                 qPrintable(u"the purge left something in " + folder));
}

// ---------------------------------------------------------------- the runs

QString TstPackage::missingForRuns()
{
    if (qEnvironmentVariable("QT_QPA_PLATFORM") == u"offscreen" ||
        qEnvironmentVariableIsEmpty("DISPLAY"))
        return QStringLiteral(
            "No X display: install xvfb and openbox to run the installed program");
    for (const auto &[tool, package] :
         {std::pair{QStringLiteral("python3"), QStringLiteral("python3")},
          std::pair{QStringLiteral("xdotool"), QStringLiteral("xdotool")},
          std::pair{QStringLiteral("xclip"), QStringLiteral("xclip")}}) {
        if (const QString why = missingTool(tool, package); !why.isEmpty())
            return why;
    }
    return {};
}

QProcessEnvironment TstPackage::sessionEnvironment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &name : environment.keys()) {
        if (name.startsWith(u"XDG_CURRENT") || name.startsWith(u"KDE_") ||
            name.startsWith(u"GNOME_") || name == u"DESKTOP_SESSION" || name == u"BROWSER" ||
            name == u"QT_QPA_PLATFORM")
            environment.remove(name);
    }
    const QString tmp = m_scratch->filePath(QStringLiteral("tmp"));
    QDir().mkpath(tmp);
    environment.insert(QStringLiteral("TMPDIR"), tmp);
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime);
    return environment;
}

QStringList TstPackage::becomeNobody(QProcessEnvironment &environment)
{
    if (::geteuid() != 0)
        return {};
    const passwd *nobody = ::getpwnam("nobody");
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (!nobody || setpriv.isEmpty())
        return {};
    // A home, runtime and scratch folder of its own, as a logged-in user has.
    const QString home = m_scratch->filePath(QStringLiteral("home-nobody"));
    QDir().mkpath(home);
    if (::chown(QFile::encodeName(home).constData(), nobody->pw_uid, nobody->pw_gid) != 0)
        return {};
    QFile::setPermissions(home,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home);
    environment.insert(QStringLiteral("TMPDIR"), home);
    environment.insert(QStringLiteral("USER"), QString::fromLocal8Bit(nobody->pw_name));
    environment.insert(QStringLiteral("LOGNAME"), QString::fromLocal8Bit(nobody->pw_name));
    return {setpriv, QStringLiteral("--reuid=%1").arg(nobody->pw_uid),
            QStringLiteral("--regid=%1").arg(nobody->pw_gid), QStringLiteral("--clear-groups"),
            QStringLiteral("--")};
}

QProcess *TstPackage::launch(const QProcessEnvironment &environment, const QStringList &wrapper)
{
    QProcess &launcher = m_launchers.emplace_back();
    launcher.setProcessEnvironment(environment);
    // Started from elsewhere, as a menu would: the launcher must find its files by itself.
    launcher.setWorkingDirectory(QDir::rootPath());
    const QString path = m_runRoot + u"/usr/bin/zhiweige";
    if (wrapper.isEmpty())
        launcher.start(path, {});
    else
        launcher.start(wrapper.first(), wrapper.mid(1) << path);
    if (!launcher.waitForStarted())
        qWarning("cannot start the launcher: %s", qPrintable(launcher.errorString()));
    return &launcher;
}

QString TstPackage::passSplash(QProcess *launcher)
{
    // The launcher becomes the program: same process.
    const qint64 pid = launcher->processId();
    const auto fail = [launcher](const char *what) {
        const QString said = QString::fromLocal8Bit(launcher->readAllStandardError() +
                                                    launcher->readAllStandardOutput());
        QTest::qFail(qPrintable(QString::fromLatin1(what) + u"; the launcher said: " + said),
                     __FILE__, __LINE__);
        return QString();
    };
    QString splash;
    if (!QTest::qWaitFor([&] { return !(splash = windowNamed(pid, "SPLASH_TITLE")).isEmpty(); },
                         StartTimeoutMs))
        return fail("no splash");

    // A click that comes while the window is still being set up can be lost;
    // another one is harmless while the splash fades out.
    QString main;
    QElapsedTimer sinceClick;
    const auto clickedThrough = [&] {
        main = windowNamed(pid, "MAIN_TITLE");
        if (!main.isEmpty())
            return true;
        if (!sinceClick.isValid() || sinceClick.elapsed() > 3000) {
            if (!windowNamed(pid, "SPLASH_TITLE").isEmpty())
                click(splash, "SPLASH_CLICK");
            sinceClick.start();
        }
        return false;
    };
    if (!QTest::qWaitFor(clickedThrough, StartTimeoutMs))
        return fail("no main window");
    return main;
}

QString TstPackage::copyReport(qint64 pid, const QString &mainWindow)
{
    const QStringList before = windowsOf(pid);
    click(mainWindow, "SHARE_LABEL");
    QString menu;
    const auto opened = [&] {
        const QStringList now = windowsOf(pid);
        for (const QString &window : now) {
            if (!before.contains(window))
                menu = window;
        }
        return !menu.isEmpty();
    };
    if (!QTest::qWaitFor(opened, StartTimeoutMs))
        return {};
    // Copying as text is the first of its two items.
    driver({QStringLiteral("share-item"), menu, QStringLiteral("0")});
    // The program says what it did in a box, and owns the clipboard while it runs.
    QString box;
    if (!QTest::qWaitFor([&] { return !(box = windowNamed(pid, "MESSAGE_TITLE")).isEmpty(); },
                         StartTimeoutMs))
        return {};
    const Outcome clipboard =
        run(QStringLiteral("xclip"),
            {QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-o"),
             QStringLiteral("-t"), QStringLiteral("UTF8_STRING")},
            10000, QProcessEnvironment::systemEnvironment(), QProcess::SeparateChannels);
    answerMessageBox(pid, QStringLiteral("Return"));
    const bool closed = QTest::qWaitFor([&] { return windowNamed(pid, "MESSAGE_TITLE").isEmpty(); },
                                        StartTimeoutMs);
    return closed && clipboard.exitCode == 0 ? clipboard.output : QString();
}

// Copied again until the fortune is there. Not in a QTRY_ macro, which
// evaluates its condition twice more after it holds: each copy costs seconds
// (and each look for a window a run of the driver).
bool TstPackage::copiedFortune(qint64 pid, const QString &mainWindow, QString *report)
{
    return QTest::qWaitFor([&] { return !(*report = copyReport(pid, mainWindow)).isEmpty(); },
                           StartTimeoutMs * 2);
}

void TstPackage::answerMessageBox(qint64 pid, const QString &key)
{
    QString box;
    QVERIFY(QTest::qWaitFor([&] { return !(box = windowNamed(pid, "MESSAGE_TITLE")).isEmpty(); },
                            StartTimeoutMs));
    driver({QStringLiteral("activate"), box});
    driver({QStringLiteral("key"), key});
}

QList<pid_t> TstPackage::runServices() const
{
    return processesOf(runService());
}

void TstPackage::programEndsAndTheServiceIdlesOut_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("the program told to stop") << int(SIGTERM);
    QTest::newRow("the launcher killed") << int(SIGKILL);
}

// However the program ends, the launcher leaves no folder behind, and the
// service it started outlives the program (others may use it), then ends
// after its idle time.
void TstPackage::programEndsAndTheServiceIdlesOut()
{
    QFETCH(int, signal);
    if (const QString why = missingForRuns(); !why.isEmpty())
        QSKIP(qPrintable(why));

    const QProcessEnvironment environment = sessionEnvironment();
    const QString tmp = environment.value(QStringLiteral("TMPDIR"));
    const QMap<QString, Stamp> before = runtimeStamps(runDir());
    QProcess *launcher = launch(environment);
    passSplash(launcher);
    if (QTest::currentTestFailed())
        return;

    QCOMPARE(processesOf(runProgram()), QList<pid_t>{pid_t(launcher->processId())});
    QCOMPARE(runServices().size(), 1);
    // The folder is writable here, so only a file that differs would be rewritten.
    QCOMPARE(runtimeStamps(runDir()), before);

    ::kill(pid_t(launcher->processId()), signal);
    QTRY_COMPARE_WITH_TIMEOUT(launcher->state(), QProcess::NotRunning, StartTimeoutMs);
    QCOMPARE(launcher->exitStatus(), QProcess::CrashExit);
    QCOMPARE(launcher->exitCode(), signal);
    QVERIFY(QDir(tmp).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));

    QCOMPARE(runServices().size(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(runServices().isEmpty(), (IdleSeconds + 20) * 1000);
}

// The system's socket, as the packaged units make it: systemd holds it for
// every user (the lifecycle tree's own, under /run) and starts the unit's
// command on it; both users' launchers start nothing, the first user quits,
// and the second's next query, who cannot write the program's folder, still
// gets its fortune.
void TstPackage::twoUsersShareOneService()
{
    if (!ZHIWEI_STARTS_SERVICE)
        QSKIP("This build talks to other hosts; it ships no service units");
    if (const QString why = missingForRuns(); !why.isEmpty())
        QSKIP(qPrintable(why));
    const QString activate =
        QStandardPaths::findExecutable(QStringLiteral("systemd-socket-activate"));
    if (activate.isEmpty())
        QSKIP("systemd-socket-activate is missing: install the Debian package systemd");
    if (::geteuid() != 0)
        QSKIP("The system's socket is made under /run, which needs root");

    static const QRegularExpression execStart(QStringLiteral("^ExecStart=(\\S+)(.*)$"),
                                              QRegularExpression::MultilineOption);
    const QRegularExpressionMatch command =
        execStart.match(QString::fromUtf8(readAll(unitFile(ZHIWEI_SERVICE_UNIT))));
    QVERIFY(command.hasMatch());
    QCOMPARE(command.captured(1), QStringLiteral("/usr/lib/zhiweige/zhiwei-fortune-service"));
    QVERIFY(QDir().mkpath(QFileInfo(LifecycleSocket).path()));
    m_activator = std::make_unique<QProcess>();
    m_activator->start(activate, QStringList{u"--listen=" + LifecycleSocket, runService()} +
                                     command.captured(2).split(u' ', Qt::SkipEmptyParts));
    QByteArray announced;
    QTRY_VERIFY_WITH_TIMEOUT(
        (announced += m_activator->readAllStandardError()).contains("Listening"), StartTimeoutMs);
    // As the socket unit has it (SocketMode=0666), so that every user may connect.
    const auto everyone = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                          QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                          QFileDevice::ReadOther | QFileDevice::WriteOther;
    QVERIFY(QFile::setPermissions(LifecycleSocket, everyone));
    const QList<pid_t> services{pid_t(m_activator->processId())};

    QProcess *first = launch(sessionEnvironment());
    passSplash(first);
    if (QTest::currentTestFailed())
        return;
    // Only systemd's: the service runs in the process that held the socket.
    QCOMPARE(runServices(), services);

    QProcessEnvironment secondEnvironment = sessionEnvironment();
    const QStringList asNobody = becomeNobody(secondEnvironment);
    QVERIFY2(!asNobody.isEmpty(), "cannot become nobody (setpriv is missing?)");
    const QMap<QString, Stamp> before = runtimeStamps(runDir());
    QProcess *second = launch(secondEnvironment, asNobody);
    const QString secondWindow = passSplash(second);
    if (QTest::currentTestFailed())
        return;
    struct stat info = {};
    QCOMPARE(::stat(qPrintable(QStringLiteral("/proc/%1").arg(second->processId())), &info), 0);
    QCOMPARE(info.st_uid, ::getpwnam("nobody")->pw_uid);
    QCOMPARE(runServices(), services);
    QCOMPARE(runtimeStamps(runDir()), before);

    first->terminate();
    QTRY_COMPARE_WITH_TIMEOUT(first->state(), QProcess::NotRunning, StartTimeoutMs);
    QCOMPARE(runServices(), services);

    click(secondWindow, "FIRST_SIGN");
    QString report;
    QVERIFY2(copiedFortune(second->processId(), secondWindow, &report),
             "the second program shows no fortune");
    QVERIFY2(report.contains(u"白羊座"), qPrintable(report));
    QVERIFY2(report.contains(u"今日运势"), qPrintable(report));
}

// The installed program shows its window icon and plays its tune with no
// media backend behind its sound output, and every plugin it loads that Qt
// chooses at run time (so dpkg-shlibdeps cannot see it) comes from a package
// it depends on, directly or through one of those.
void TstPackage::runsWithItsIconOnWhatItDependsOn()
{
    if (const QString why = missingForRuns(); !why.isEmpty())
        QSKIP(qPrintable(why));
    // As on a desktop with sound.
    SoundServer sound;
    const QString failure = sound.start();
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QProcess *launcher = launch(sessionEnvironment());
    const QString window = passSplash(launcher);
    if (QTest::currentTestFailed())
        return;
    const Outcome icon = run(QStringLiteral("xprop"),
                             {QStringLiteral("-id"), window, QStringLiteral("_NET_WM_ICON")});
    // The icon comes in the sizes drawn for it; openbox puts a default of
    // one size on a window that has none.
    QVERIFY2(icon.output.count(u"Icon (") > 1, qPrintable(icon.output.left(300)));
    QTRY_VERIFY2_WITH_TIMEOUT(!sound.streamOf(launcher->processId()).isEmpty(),
                              "the tune does not play", StartTimeoutMs);

    const QString qtPlugins = QLibraryInfo::path(QLibraryInfo::PluginsPath) + u'/';
    QSet<QString> loaded;
    QFile maps(QStringLiteral("/proc/%1/maps").arg(launcher->processId()));
    QVERIFY(maps.open(QIODevice::ReadOnly));
    for (const QByteArray &line : maps.readAll().split('\n')) {
        const QString path = QString::fromLocal8Bit(line.mid(line.indexOf('/')));
        if (path.startsWith(qtPlugins))
            loaded << path;
    }
    for (const QString &path : std::as_const(loaded))
        QVERIFY2(!path.startsWith(qtPlugins + u"multimedia/"), qPrintable(path));

    const QStringList depends = packageNames(m_control.value(QStringLiteral("Depends")));
    QSet<QString> reached(depends.cbegin(), depends.cend());
    for (const QString &package : depends) {
        const Outcome theirs =
            run(QStringLiteral("dpkg-query"),
                {QStringLiteral("-W"), QStringLiteral("-f=${Depends}"), package});
        for (const QString &name : packageNames(theirs.output))
            reached << name;
    }
    QStringList unmet;
    for (const QString &path : std::as_const(loaded)) {
        const QString package = packageOwning(path);
        if (!reached.contains(package))
            unmet << path + u" (" + (package.isEmpty() ? QStringLiteral("no package") : package) +
                         u')';
    }
    QVERIFY2(unmet.isEmpty(),
             qPrintable(u"Loaded from packages it does not depend on: " + unmet.join(u", ") +
                        u"; Depends: " + m_control.value(QStringLiteral("Depends"))));
}

// Another user holds the port the service once had, on 0.0.0.0 and on [::],
// answering as the service would with a newer notice: the launcher and the
// program reach the service over the person's own socket and never ask him
// anything (however he answered, a connection would show in his count). The
// program opens, asks nobody about the genuine "V2" notice, and shows and
// copies the genuine fortune; 是 in the exit prompt opens the maker's forum
// as the program ends: the page installed beside it, as a browser cannot
// reach the service's socket.
void TstPackage::keepsToItsOwnSocketAndForum()
{
    if (const QString why = missingForRuns(); !why.isEmpty())
        QSKIP(qPrintable(why));
    if (const QString why = missingTool(QStringLiteral("xdg-open"), QStringLiteral("xdg-utils"));
        !why.isEmpty())
        QSKIP(qPrintable(why));
    std::list<HostileListener> squatters;
    for (const QString &form :
         {QStringLiteral("v4-mapped-wildcard"), QStringLiteral("v6-only-wildcard")}) {
        const HostileListener &squatter = squatters.emplace_back(form, 18231);
        if (!squatter.whyNot().isEmpty())
            QSKIP(qPrintable(squatter.whyNot()));
    }

    QProcessEnvironment environment = sessionEnvironment();
    const QString browsed = m_scratch->filePath(QStringLiteral("browsed.txt"));
    QFile::remove(browsed);
    environment.insert(QStringLiteral("BROWSER"), browserWritingTo(browsed));
    QProcess *launcher = launch(environment);
    const QString window = passSplash(launcher);
    if (QTest::currentTestFailed())
        return;
    // Past the version check, one second after the window: nothing but it.
    QTest::qWait(2500);
    QCOMPARE(windowsOf(launcher->processId()), QStringList{window});

    click(window, "FIRST_SIGN");
    QString report;
    QVERIFY2(copiedFortune(launcher->processId(), window, &report), "the program shows no fortune");
    QVERIFY2(report.startsWith(u"白羊座今日运势") && report.contains(u"综合运势:"),
             qPrintable(report));
    click(window, "EXIT_BUTTON");
    answerMessageBox(launcher->processId(), QStringLiteral("Return"));
    QTRY_COMPARE_WITH_TIMEOUT(launcher->state(), QProcess::NotRunning, StartTimeoutMs);
    QCOMPARE(launcher->exitStatus(), QProcess::NormalExit);
    QCOMPARE(launcher->exitCode(), 0);

    QTRY_VERIFY_WITH_TIMEOUT(!readAll(browsed).isEmpty(), StartTimeoutMs);
    const QUrl forum(QString::fromLocal8Bit(readAll(browsed)).trimmed());
    QCOMPARE(forum, QUrl::fromLocalFile(runDir() + u"/forum/bbs/index.html"));
    QVERIFY(QString::fromUtf8(readAll(forum.toLocalFile())).contains(u"Kw系列软件论坛"));
    for (HostileListener &squatter : squatters)
        QCOMPARE(squatter.connections(), 0);
}

void TstPackage::getsItsFortuneWhateverBecameOfTheService_data()
{
    QTest::addColumn<bool>("systemSocketLeftBehind");
    // The launcher passes over it and starts the person's own service.
    QTest::newRow("the system's socket left behind by a stopped unit") << true;
    // The program starts it again at the next click, as the launcher did.
    QTest::newRow("its service gone while the window is open") << false;
}

// Whatever became of the service it was started with, the next click shows
// and copies a fortune, with one service of the person's running.
void TstPackage::getsItsFortuneWhateverBecameOfTheService()
{
    QFETCH(bool, systemSocketLeftBehind);
    if (const QString why = missingForRuns(); !why.isEmpty())
        QSKIP(qPrintable(why));
    if (systemSocketLeftBehind) {
        if (::geteuid() != 0)
            QSKIP("The system's socket is made under /run, which needs root");
        // As a unit without RemoveOnStop leaves it.
        QVERIFY(QDir().mkpath(QFileInfo(LifecycleSocket).path()));
        QVERIFY(leaveStaleSocket(LifecycleSocket));
    }
    QProcess *launcher = launch(sessionEnvironment());
    const QString window = passSplash(launcher);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(runServices().size(), 1);
    if (!systemSocketLeftBehind) {
        for (const pid_t pid : runServices())
            ::kill(pid, SIGKILL);
        QTRY_VERIFY_WITH_TIMEOUT(runServices().isEmpty(), StartTimeoutMs);
    }
    click(window, "FIRST_SIGN");
    QString report;
    QVERIFY2(copiedFortune(launcher->processId(), window, &report), "the program shows no fortune");
    QVERIFY2(report.startsWith(u"白羊座今日运势"), qPrintable(report));
    QCOMPARE(runServices().size(), 1);
}

// A launcher that cannot have the service answer does not start the
// program as if all were well: its service (and so its probe) missing, or a
// probe that crashes. No desktop here: the launcher says why on its
// standard error.
void TstPackage::launcherStartsNothingWhenItCannotTell_data()
{
    QTest::addColumn<QByteArray>("service"); // what stands in for it; empty: nothing
    QTest::addColumn<QString>("says");
    QTest::newRow("the service is missing") << QByteArray() << "zhiwei-fortune-service is missing";
    QTest::newRow("the probe crashes")
        << QByteArray("#!/bin/sh\nkill -SEGV $$\n") << "failed (status 139)";
}

void TstPackage::launcherStartsNothingWhenItCannotTell()
{
    QFETCH(QByteArray, service);
    QFETCH(QString, says);
    const QString root = m_scratch->filePath(QStringLiteral("broken-root"));
    const QString lib = root + u"/usr/lib/zhiweige";
    QVERIFY(QDir().mkpath(lib) && QDir().mkpath(root + u"/usr/bin"));
    QVERIFY(QFile::copy(m_runRoot + u"/usr/bin/zhiweige", root + u"/usr/bin/zhiweige"));
    QVERIFY(QFile::copy(runProgram(), lib + u"/zhiweige"));
    if (!service.isEmpty())
        QVERIFY(writeScript(lib + u"/zhiwei-fortune-service", service));

    QProcessEnvironment environment = sessionEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    const Outcome launched = run(root + u"/usr/bin/zhiweige", {}, StartTimeoutMs, environment);
    QVERIFY(QDir(root).removeRecursively());
    QVERIFY2(launched.exitCode == 1 && launched.output.contains(says), qPrintable(launched.output));
}

QTEST_GUILESS_MAIN(TstPackage)
#include "tst_package.moc"
