#include "core/RuntimeFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>

#include <csignal>
#include <pwd.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool putFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

bool isRoot()
{
    return ::geteuid() == 0;
}

// Reads one file over and over, as a second copy of the program would, and
// counts every read that matches neither of the two contents it may hold.
class Reader : public QThread
{
public:
    Reader(QString path, QByteArray first, QByteArray second)
        : m_path(std::move(path))
        , m_first(std::move(first))
        , m_second(std::move(second))
    {}

    void stop() { m_stop = true; }
    int reads() const { return m_reads; }
    int torn() const { return m_torn; }
    QByteArray example() const { return m_example; }

protected:
    void run() override
    {
        while (!m_stop) {
            QFile file(m_path);
            if (!file.open(QIODevice::ReadOnly)) {
                // Renamed into place: the name never goes missing.
                ++m_torn;
                continue;
            }
            const QByteArray bytes = file.readAll();
            ++m_reads;
            if (bytes != m_first && bytes != m_second) {
                ++m_torn;
                m_example = bytes.left(64);
            }
        }
    }

private:
    const QString m_path;
    const QByteArray m_first;
    const QByteArray m_second;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_reads{0};
    std::atomic<int> m_torn{0};
    QByteArray m_example;
};

} // namespace

class TestRuntimeFiles : public QObject
{
    Q_OBJECT
private slots:
    void embeddedResources_data();
    void embeddedResources();
    void firstStartWritesEveryFile();
    void longerOlderFileIsReplacedWhole();
    void identicalFileIsNotRewritten();
    void unwritableFolderFailsQuietly_data();
    void unwritableFolderFailsQuietly();
    void unwritableFileIsSkippedAndTheNextWritten_data();
    void unwritableFileIsSkippedAndTheNextWritten();
    void concurrentReaderNeverSeesAHalfWrittenFile();
    void fullDiskLeavesEveryFileWhole();
    void fileSizeLimitLeavesTheFileWhole();
    void linkIsNeitherFollowedNorReplaced_data();
    void linkIsNeitherFollowedNorReplaced();
    void linkInStickyFolderIsNotFollowedByRoot();
};

void TestRuntimeFiles::embeddedResources_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("fileName");
    QTest::newRow("first: 122 as SkinH_VB6.dll") << 0 << 122 << "SkinH_VB6.dll";
    QTest::newRow("second: 111 as skinh.she") << 1 << 111 << "skinh.she";
    QTest::newRow("third: 126 as MSCOMCTL.OCX") << 2 << 126 << "MSCOMCTL.OCX";
    QTest::newRow("fourth: 127 as MSINET.OCX") << 3 << 127 << "MSINET.OCX";
}

void TestRuntimeFiles::embeddedResources()
{
    QFETCH(int, index);
    QFETCH(int, number);
    QFETCH(QString, fileName);
    QCOMPARE(RuntimeFiles::all().size(), 4);
    QCOMPARE(RuntimeFiles::all().at(index).resourceNumber, number);
    QCOMPARE(RuntimeFiles::all().at(index).fileName, fileName);
    // The resource path is exactly ":/CUSTOM/<number>".
    QVERIFY(QFile::exists(QStringLiteral(":/CUSTOM/%1").arg(number)));
    const QByteArray bytes = RuntimeFiles::resource(number);
    QVERIFY(bytes.size() >= 200);
    if (number != 111) {
        // A self-describing note that names the file it is written as.
        QVERIFY(bytes.startsWith(fileName.toUtf8()));
        QVERIFY(bytes.contains("Nothing loads"));
    }
}

void TestRuntimeFiles::firstStartWritesEveryFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QCOMPARE(RuntimeFiles::writeAll(dir.path()), QList<bool>({true, true, true, true}));
    for (const RuntimeFile &file : RuntimeFiles::all()) {
        const QByteArray written = contentsOf(dir.filePath(file.fileName));
        QCOMPARE(written, RuntimeFiles::resource(file.resourceNumber));
    }
    QVERIFY(contentsOf(dir.filePath(QStringLiteral("skinh.she"))).startsWith(".SHE"));
    // No temporary file is left beside them.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 4);
}

void TestRuntimeFiles::longerOlderFileIsReplacedWhole()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const RuntimeFile &file : RuntimeFiles::all()) {
        const QByteArray bytes = RuntimeFiles::resource(file.resourceNumber);
        // Same start, longer tail: a write that does not truncate leaves the tail.
        QVERIFY(putFile(dir.filePath(file.fileName), bytes + QByteArray(20000, 'x')));
        // Writable by all, as someone else may have left it: the new file is
        // the program's own mode, not this one.
        QCOMPARE(::chmod(QFile::encodeName(dir.filePath(file.fileName)).constData(), 0666), 0);
    }
    QCOMPARE(RuntimeFiles::writeAll(dir.path()), QList<bool>({true, true, true, true}));
    for (const RuntimeFile &file : RuntimeFiles::all()) {
        QCOMPARE(contentsOf(dir.filePath(file.fileName)),
                 RuntimeFiles::resource(file.resourceNumber));
        struct stat info = {};
        QCOMPARE(::stat(QFile::encodeName(dir.filePath(file.fileName)).constData(), &info), 0);
        QCOMPARE(info.st_mode & 07777, mode_t(0644));
    }
}

void TestRuntimeFiles::identicalFileIsNotRewritten()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QCOMPARE(RuntimeFiles::writeAll(dir.path()), QList<bool>({true, true, true, true}));
    const QDateTime old(QDate(2001, 2, 3), QTime(4, 5, 6));
    for (const RuntimeFile &file : RuntimeFiles::all()) {
        QFile written(dir.filePath(file.fileName));
        QVERIFY(written.open(QIODevice::ReadWrite));
        QVERIFY(written.setFileTime(old, QFileDevice::FileModificationTime));
    }
    QCOMPARE(RuntimeFiles::writeAll(dir.path()), QList<bool>({true, true, true, true}));
    for (const RuntimeFile &file : RuntimeFiles::all()) {
        const QFileInfo info(dir.filePath(file.fileName));
        QCOMPARE(info.lastModified(), old);
    }
}

void TestRuntimeFiles::unwritableFolderFailsQuietly_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("folder path runs through a regular file") << "under-file";
    QTest::newRow("folder does not exist") << "missing";
    QTest::newRow("folder is read-only") << "read-only";
}

void TestRuntimeFiles::unwritableFolderFailsQuietly()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString folder;
    if (kind == u"under-file") {
        QVERIFY(putFile(dir.filePath(QStringLiteral("plain")), "not a folder"));
        folder = dir.filePath(QStringLiteral("plain/app"));
    } else if (kind == u"missing") {
        folder = dir.filePath(QStringLiteral("gone/app"));
    } else {
        // Root writes through any mode bits; the rows above cover it there.
        if (isRoot())
            QSKIP("root writes into read-only folders");
        folder = dir.filePath(QStringLiteral("locked"));
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    }

    QCOMPARE(RuntimeFiles::writeAll(folder), QList<bool>({false, false, false, false}));
    if (kind == u"read-only") {
        QVERIFY(QDir(folder)
                    .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                    .isEmpty());
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
}

enum class Blocker { Folder, ReadOnly, AnotherUsersFile };

void TestRuntimeFiles::unwritableFileIsSkippedAndTheNextWritten_data()
{
    QTest::addColumn<int>("blocked");
    QTest::addColumn<Blocker>("blocker");
    for (int i = 0; i < 4; ++i) {
        const QString name = RuntimeFiles::all().at(i).fileName;
        QTest::addRow("%s is a folder", qPrintable(name)) << i << Blocker::Folder;
    }
    QTest::newRow("skinh.she is read-only") << 1 << Blocker::ReadOnly;
    // In a folder others may write to, another user's file, writable by all,
    // is neither replaced (the replacement would keep its mode) nor used.
    QTest::newRow("skinh.she planted by another user") << 1 << Blocker::AnotherUsersFile;
}

void TestRuntimeFiles::unwritableFileIsSkippedAndTheNextWritten()
{
    QFETCH(int, blocked);
    QFETCH(Blocker, blocker);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString blockedPath = dir.filePath(RuntimeFiles::all().at(blocked).fileName);
    const bool asDirectory = blocker == Blocker::Folder;
    if (asDirectory) {
        // A non-empty folder under the file's name: nothing can be renamed onto it.
        QVERIFY(QDir().mkpath(blockedPath));
        QVERIFY(putFile(blockedPath + u"/keep", "keep"));
    } else if (blocker == Blocker::ReadOnly) {
        if (isRoot())
            QSKIP("root writes into read-only files; the folder rows cover it");
        QVERIFY(putFile(blockedPath, "old"));
        QVERIFY(QFile::setPermissions(blockedPath, QFile::ReadOwner));
    } else {
        const passwd *nobody = ::getpwnam("nobody");
        if (!isRoot() || !nobody)
            QSKIP("A file of another user (nobody) needs root to make");
        QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), 01777), 0);
        QVERIFY(putFile(blockedPath, "old"));
        const QByteArray path = QFile::encodeName(blockedPath);
        QCOMPARE(::chown(path.constData(), nobody->pw_uid, nobody->pw_gid), 0);
        QCOMPARE(::chmod(path.constData(), 0666), 0);
        QCOMPARE(RuntimeFiles::readFile(blockedPath, 100), std::nullopt);
    }

    QList<bool> expected(4, true);
    expected[blocked] = false;
    QCOMPARE(RuntimeFiles::writeAll(dir.path()), expected);
    for (int i = 0; i < 4; ++i) {
        const RuntimeFile &file = RuntimeFiles::all().at(i);
        if (i == blocked)
            continue;
        QCOMPARE(contentsOf(dir.filePath(file.fileName)),
                 RuntimeFiles::resource(file.resourceNumber));
    }
    if (asDirectory)
        QVERIFY(QFileInfo(blockedPath).isDir());
    else
        QCOMPARE(contentsOf(blockedPath), QByteArray("old"));
}

void TestRuntimeFiles::concurrentReaderNeverSeesAHalfWrittenFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray skin = RuntimeFiles::resource(111);
    // Much longer than the skin, so a write in place would be seen half done.
    QByteArray other;
    while (other.size() < 256 * 1024)
        other += "another skin, much longer than the first one. ";
    const QString path = dir.filePath(QStringLiteral("skinh.she"));
    QVERIFY(RuntimeFiles::writeAll(dir.path()).at(1));

    Reader reader(path, skin, other);
    reader.start();
    for (int i = 0; i < 200; ++i) {
        QVERIFY(RuntimeFiles::writeFile(path, other));
        QVERIFY(RuntimeFiles::write(dir.path(), RuntimeFiles::all().at(1)));
    }
    reader.stop();
    QVERIFY(reader.wait(10000));
    QVERIFY2(reader.reads() > 0, "the reader never ran");
    QVERIFY2(reader.torn() == 0, qPrintable(QStringLiteral("%1 of %2 reads saw a mix, e.g. %3")
                                                .arg(reader.torn())
                                                .arg(reader.reads())
                                                .arg(QString::fromUtf8(reader.example()))));
}

namespace {

// After a write that may have failed, every file holds either its old bytes
// or the new ones, whole, and nothing else lies in the folder.
void checkWholeOrUntouched(const QString &folder, const QByteArray &old, const QStringList &others)
{
    for (const RuntimeFile &file : RuntimeFiles::all()) {
        const QByteArray now = contentsOf(folder + u'/' + file.fileName);
        QVERIFY2(now == old || now == RuntimeFiles::resource(file.resourceNumber),
                 qPrintable(file.fileName + u" holds " + QString::number(now.size()) + u" bytes"));
    }
    QStringList expected = others;
    for (const RuntimeFile &file : RuntimeFiles::all())
        expected << file.fileName;
    expected.sort();
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name), expected);
}

} // namespace

void TestRuntimeFiles::fullDiskLeavesEveryFileWhole()
{
    if (!isRoot())
        QSKIP("mounting a small tmpfs needs root");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray target = QFile::encodeName(dir.path());
    if (::mount("tmpfs", target.constData(), "tmpfs", 0, "size=64k") != 0)
        QSKIP("this machine does not let the test mount a tmpfs");
    const auto unmount = qScopeGuard([&] { ::umount(target.constData()); });

    const QByteArray old = "an older copy";
    for (const RuntimeFile &file : RuntimeFiles::all())
        QVERIFY(putFile(dir.filePath(file.fileName), old));
    // Fill the disk to the last byte.
    {
        QFile filler(dir.filePath(QStringLiteral("filler")));
        QVERIFY(filler.open(QIODevice::WriteOnly));
        const QByteArray block(4096, 'f');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
        const QByteArray byte(1, 'f');
        while (filler.write(byte) == 1 && filler.flush()) {
        }
    }
    const QList<bool> written = RuntimeFiles::writeAll(dir.path());
    QVERIFY(written.contains(false)); // the disk was full
    checkWholeOrUntouched(dir.path(), old, {QStringLiteral("filler")});

    // With room again, the next start writes them all.
    QVERIFY(QFile::remove(dir.filePath(QStringLiteral("filler"))));
    QCOMPARE(RuntimeFiles::writeAll(dir.path()), QList<bool>({true, true, true, true}));
    for (const RuntimeFile &file : RuntimeFiles::all())
        QCOMPARE(contentsOf(dir.filePath(file.fileName)),
                 RuntimeFiles::resource(file.resourceNumber));
}

void TestRuntimeFiles::fileSizeLimitLeavesTheFileWhole()
{
    // A limit on file size fails a write part of the way, as a full disk
    // does, on any machine and for any user.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray old = "an older copy";
    for (const RuntimeFile &file : RuntimeFiles::all())
        QVERIFY(putFile(dir.filePath(file.fileName), old));

    rlimit saved{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1024; // the skin file is larger, the three notes are not
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const QList<bool> written = RuntimeFiles::writeAll(dir.path());
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    QCOMPARE(written, QList<bool>({true, false, true, true}));
    QCOMPARE(contentsOf(dir.filePath(QStringLiteral("skinh.she"))), old);
    checkWholeOrUntouched(dir.path(), old, {});
}

void TestRuntimeFiles::linkIsNeitherFollowedNorReplaced_data()
{
    QTest::addColumn<int>("linked");
    QTest::addColumn<bool>("dangling");
    for (int i = 0; i < 4; ++i) {
        const QString name = RuntimeFiles::all().at(i).fileName;
        QTest::addRow("%s links to a user's file", qPrintable(name)) << i << false;
    }
    QTest::newRow("skinh.she links to nothing yet") << 1 << true;
}

void TestRuntimeFiles::linkIsNeitherFollowedNorReplaced()
{
    QFETCH(int, linked);
    QFETCH(bool, dangling);
    QTemporaryDir app;
    QTemporaryDir home;
    QVERIFY(app.isValid() && home.isValid());
    const QString target = home.filePath(QStringLiteral("notes.txt"));
    if (!dangling)
        QVERIFY(putFile(target, "a user's notes"));
    const QString link = app.filePath(RuntimeFiles::all().at(linked).fileName);
    QVERIFY(QFile::link(target, link));

    QList<bool> expected(4, true);
    expected[linked] = false;
    QCOMPARE(RuntimeFiles::writeAll(app.path()), expected);

    QCOMPARE(QFileInfo(link).symLinkTarget(), target);
    if (dangling)
        QVERIFY(!QFileInfo::exists(target));
    else
        QCOMPARE(contentsOf(target), QByteArray("a user's notes"));
    for (int i = 0; i < 4; ++i) {
        const RuntimeFile &file = RuntimeFiles::all().at(i);
        if (i != linked)
            QCOMPARE(contentsOf(app.filePath(file.fileName)),
                     RuntimeFiles::resource(file.resourceNumber));
    }
    // No temporary file left behind either.
    QCOMPARE(QDir(app.path())
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
                 .size(),
             4);
}

void TestRuntimeFiles::linkInStickyFolderIsNotFollowedByRoot()
{
    // The kernel guards links in sticky folders only when they are followed;
    // root run from such a folder must not replace a root-only file through
    // another user's link.
    if (!isRoot())
        QSKIP("needs root, to own the target and give the link to another user");
    QTemporaryDir shared;
    QTemporaryDir secret;
    QVERIFY(shared.isValid() && secret.isValid());
    QVERIFY(::chmod(QFile::encodeName(shared.path()).constData(), 01777) == 0);
    const QString target = secret.filePath(QStringLiteral("shadow"));
    QVERIFY(putFile(target, "root only"));
    QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner));
    const QString link = shared.filePath(QStringLiteral("skinh.she"));
    QVERIFY(QFile::link(target, link));
    constexpr uid_t Nobody = 65534;
    QVERIFY(::lchown(QFile::encodeName(link).constData(), Nobody, Nobody) == 0);

    QCOMPARE(RuntimeFiles::writeAll(shared.path()), QList<bool>({true, false, true, true}));
    QCOMPARE(contentsOf(target), QByteArray("root only"));
    // Still for its owner's eyes only.
    QCOMPARE(int(QFileInfo(target).permissions() & 0x00ff), 0);
    QVERIFY(QFileInfo(link).isSymLink());
}

QTEST_GUILESS_MAIN(TestRuntimeFiles)
#include "tst_runtimefiles.moc"
