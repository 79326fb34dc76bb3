#include "sound/MediaPlayer.h"

#include <QAudioOutput>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QMediaPlayer>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <QTest>
#include <QUrl>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>

namespace {

// The tune is one second long; every wait below leaves room for a slow,
// busy machine, and a fault shows as a failed wait rather than a hang.
constexpr int StartWaitMs = 10'000;
constexpr int EndWaitMs = 10'000;
// How close to the start "from the beginning" has to be, in milliseconds.
constexpr qint64 NearStartMs = 400;

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval &t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

QList<int> statesOf(const QSignalSpy &spy)
{
    QList<int> states;
    for (const QList<QVariant> &call : spy)
        states << call.at(0).toInt();
    return states;
}

QByteArray describe(const QList<int> &states)
{
    QByteArray text = "states:";
    for (int state : states)
        text += ' ' + QByteArray::number(state);
    return text;
}

// Waits until the player reports the state, counting reports already seen.
bool waitForState(QSignalSpy &spy, int state, int timeoutMs, qsizetype from = 0)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!statesOf(spy).mid(from).contains(state)) {
        if (deadline.hasExpired() || !spy.wait(int(deadline.remainingTime())))
            return statesOf(spy).mid(from).contains(state);
    }
    return true;
}

// What the main window does: a stopped tune starts again.
void loopOnStop(MediaPlayer &player)
{
    QObject::connect(&player, &MediaPlayer::playStateChanged, &player, [&player](int state) {
        if (state == MediaPlayer::Stopped)
            player.play();
    });
}

// A PulseAudio server of the test's own, as on a desktop with sound: one null
// sink, whose monitor gives back what was played into it. It lives in a
// folder of its own and ends with the test, even one that crashes.
class SoundServer
{
public:
    ~SoundServer()
    {
        if (m_server.state() != QProcess::NotRunning) {
            m_server.terminate();
            if (!m_server.waitForFinished(10'000))
                m_server.kill();
            m_server.waitForFinished();
        }
    }

    // Empty when it runs; else why not.
    QString start()
    {
        for (const char *tool : {"pulseaudio", "pactl", "parec"}) {
            if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
                return QStringLiteral("pulseaudio, pactl or parec is not installed");
        }
        if (!m_dir.isValid())
            return QStringLiteral("no folder for it");
        const QString folder = m_dir.filePath(QStringLiteral("server"));
        m_server.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
        m_server.start(QStringLiteral("bash"), {QStringLiteral(ZHIWEI_SOUND_SERVER), folder});
        QDeadlineTimer deadline(30'000);
        while (!m_server.canReadLine()) {
            if (deadline.hasExpired() || !m_server.waitForReadyRead(int(deadline.remainingTime())))
                return QStringLiteral("pulseaudio did not start: ") +
                       QString::fromLocal8Bit(m_server.readAllStandardError());
        }
        // The player, pactl and parec all find it here.
        qputenv("PULSE_SERVER", QByteArray("unix:" + QFile::encodeName(folder) + "/native"));
        return {};
    }

    // Whether a stream of this process plays uncorked into the sink.
    bool hearsUs() const { return ourStream().contains(QStringLiteral("Corked: no")); }

    // What the server says of this process's stream; empty when it has none.
    QString ourStream() const
    {
        const QString pid = QString::number(QCoreApplication::applicationPid());
        const QString list = pactl({QStringLiteral("list"), QStringLiteral("sink-inputs")});
        for (const QString &stream :
             list.split(QStringLiteral("Sink Input #"), Qt::SkipEmptyParts)) {
            if (stream.contains(QStringLiteral("application.process.id = \"%1\"").arg(pid)))
                return stream.section(QStringLiteral("Properties:"), 0, 0).simplified();
        }
        return {};
    }

    // The loudest sample of the next `ms` milliseconds on the sink's monitor.
    int loudestSample(int ms) const
    {
        QProcess parec;
        parec.start(QStringLiteral("parec"),
                    {QStringLiteral("-d"), QStringLiteral("null.monitor"), QStringLiteral("--raw"),
                     QStringLiteral("--format=s16le"), QStringLiteral("--rate=44100"),
                     QStringLiteral("--channels=2"), QStringLiteral("--latency-msec=20")});
        const qsizetype wanted = qsizetype(ms) * 44100 / 1000 * 4;
        QByteArray samples;
        QDeadlineTimer deadline(ms + 10'000);
        // Read with the event loop running, as the program's thread always
        // is: Qt's player takes some steps on it (a blocking wait here once
        // held a tune at its start, silent, for all six looks).
        while (samples.size() < wanted && !deadline.hasExpired() &&
               parec.state() != QProcess::NotRunning) {
            QTest::qWait(20);
            samples += parec.readAllStandardOutput();
        }
        parec.kill();
        parec.waitForFinished();
        if (samples.size() < wanted)
            return -1;
        int loudest = 0;
        const auto *sample = reinterpret_cast<const qint16 *>(samples.constData());
        for (qsizetype i = 0; i < wanted / 2; ++i)
            loudest = qMax(loudest, qAbs(int(sample[i])));
        return loudest;
    }

private:
    static QString pactl(const QStringList &arguments)
    {
        QProcess process;
        process.start(QStringLiteral("pactl"), arguments);
        if (!process.waitForFinished(10'000) || process.exitCode() != 0)
            return {};
        return QString::fromUtf8(process.readAllStandardOutput());
    }

    QTemporaryDir m_dir{QDir::tempPath() + QStringLiteral("/zhiwei-sound-XXXXXX")};
    QProcess m_server;
};

} // namespace

class tst_MediaPlayer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void settingsAreFixed();
    void playsToTheEndThenReportsEndedAndStopped_data();
    void playsToTheEndThenReportsEndedAndStopped();
    void answeringStoppedWithPlayLoopsTheTune();
    void clearingTheUrlStopsForGood();
    void settingThePathAgainStartsFromTheBeginning();
    void fileNotOursIsNeverOpened_data();
    void fileNotOursIsNeverOpened();
    void unplayableFileStaysSilentWithoutRetrying_data();
    void unplayableFileStaysSilentWithoutRetrying();
    void playWithoutMediaDoesNothing();
    void soundIsHeardUntilTheUrlIsCleared_data();
    void soundIsHeardUntilTheUrlIsCleared();

private:
    QTemporaryDir m_dir;
    QString m_tune;
    // Only in the run that has a sound server; see initTestCase().
    std::unique_ptr<SoundServer> m_sound;
};

void tst_MediaPlayer::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // The whole suite runs twice: as on the test machines, with no sound
    // server, and as on a desktop, with one of its own.
    if (qEnvironmentVariable("ZHIWEI_TEST_SOUND") == u"pulseaudio") {
        m_sound = std::make_unique<SoundServer>();
        const QString failure = m_sound->start();
        if (!failure.isEmpty())
            QFAIL(qPrintable(failure));
    }
    const QString sox = QStandardPaths::findExecutable(QStringLiteral("sox"));
    if (sox.isEmpty())
        QSKIP("sox is not installed: no tune to play");
    m_tune = m_dir.filePath(QStringLiteral("tune.mp3"));
    QProcess process;
    process.start(sox, {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"),
                        QStringLiteral("-c"), QStringLiteral("2"), m_tune, QStringLiteral("synth"),
                        QStringLiteral("1"), QStringLiteral("sine"), QStringLiteral("440")});
    QVERIFY(process.waitForFinished(30'000));
    if (process.exitCode() != 0 || !QFile::exists(m_tune))
        QSKIP("sox cannot write MP3 here (libsox-fmt-mp3 missing?)");
    process.start(sox, {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"),
                        QStringLiteral("-c"), QStringLiteral("2"),
                        m_dir.filePath(QStringLiteral("click.mp3")), QStringLiteral("synth"),
                        QStringLiteral("0.02"), QStringLiteral("sine"), QStringLiteral("440")});
    QVERIFY(process.waitForFinished(30'000));
    QCOMPARE(process.exitCode(), 0);

    // A good tune, but someone else's: in a folder others may write to, not
    // ours to play. Only root can give a file away; elsewhere it stays ours.
    const QString others = m_dir.filePath(QStringLiteral("others.mp3"));
    QVERIFY(QFile::copy(m_tune, others));
    if (::geteuid() == 0)
        QCOMPARE(::chown(QFile::encodeName(others).constData(), 65534, 65534), 0);
    QCOMPARE(
        ::mkfifo(QFile::encodeName(m_dir.filePath(QStringLiteral("pipe.mp3"))).constData(), 0600),
        0);

    QFile noise(m_dir.filePath(QStringLiteral("noise.mp3")));
    QVERIFY(noise.open(QIODevice::WriteOnly));
    QRandomGenerator generator(20240611);
    for (int i = 0; i < 64 * 1024 / 4; ++i) {
        const quint32 word = generator.generate();
        noise.write(reinterpret_cast<const char *>(&word), sizeof word);
    }
    noise.close();
    QFile empty(m_dir.filePath(QStringLiteral("empty.mp3")));
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();

    // A tune of a few seconds, as a person's music is, from the tune script.
    QProcess script;
    script.start(QStringLiteral("bash"),
                 {QFINDTESTDATA("../../tools/make-tune.sh"), QStringLiteral("--seconds"),
                  QStringLiteral("2"), m_dir.filePath(QStringLiteral("short.mp3"))});
    QVERIFY(script.waitForFinished(60'000));
    QVERIFY2(script.exitCode() == 0, script.readAllStandardError().constData());

    // Without GStreamer's decoders nothing below can pass; that is the
    // machine's lack, not the player's. Asked of Qt's own player, so that a
    // fault of ours is not taken for it.
    QMediaPlayer probe;
    QAudioOutput output;
    probe.setAudioOutput(&output);
    probe.setSource(QUrl::fromLocalFile(m_tune));
    probe.play();
    QTRY_VERIFY_WITH_TIMEOUT(
        probe.position() > 0 || probe.mediaStatus() == QMediaPlayer::InvalidMedia, StartWaitMs);
    if (probe.mediaStatus() == QMediaPlayer::InvalidMedia)
        QSKIP("GStreamer cannot play MP3 on this machine (plugins missing?)");
    probe.stop();
}

void tst_MediaPlayer::settingsAreFixed()
{
    MediaPlayer player;
    QCOMPARE(player.audioOutput()->volume(), 0.5f);
    QVERIFY(!player.audioOutput()->isMuted());
    QCOMPARE(player.backend()->playbackRate(), 1.0);
    QCOMPARE(player.backend()->loops(), 1);
    QVERIFY(player.settings().autoStart);
}

void tst_MediaPlayer::playsToTheEndThenReportsEndedAndStopped_data()
{
    QTest::addColumn<int>("switches"); // off and on again right after the first path

    QTest::newRow("path set once") << 0;
    QTest::newRow("switched off and on quickly three times") << 3;
}

void tst_MediaPlayer::playsToTheEndThenReportsEndedAndStopped()
{
    QFETCH(int, switches);
    MediaPlayer player;
    qint64 positionAtEnd = -1;
    connect(&player, &MediaPlayer::playStateChanged, this, [&](int state) {
        if (state == MediaPlayer::MediaEnded)
            positionAtEnd = player.backend()->position();
    });
    player.setSource(m_tune);
    for (int i = 0; i < switches; ++i) {
        QCoreApplication::processEvents();
        player.setSource(QString());
        player.setSource(m_tune);
    }
    QSignalSpy states(&player, &MediaPlayer::playStateChanged);
    QCOMPARE(player.source(), m_tune);
    QVERIFY(waitForState(states, MediaPlayer::Playing, StartWaitMs));
    QVERIFY(waitForState(states, MediaPlayer::Stopped, EndWaitMs));

    const QList<int> seen = statesOf(states);
    QCOMPARE(seen,
             QList<int>({MediaPlayer::Playing, MediaPlayer::MediaEnded, MediaPlayer::Stopped}));
    // The whole tune was played, not skipped to its end.
    QVERIFY2(positionAtEnd >= 900, qPrintable(QString::number(positionAtEnd)));
    QCOMPARE(player.backend()->playbackState(), QMediaPlayer::StoppedState);
}

void tst_MediaPlayer::answeringStoppedWithPlayLoopsTheTune()
{
    MediaPlayer player;
    loopOnStop(player);
    QList<qint64> positionsAtStart;
    connect(&player, &MediaPlayer::playStateChanged, this, [&](int state) {
        if (state == MediaPlayer::Playing)
            positionsAtStart << player.backend()->position();
    });
    QSignalSpy states(&player, &MediaPlayer::playStateChanged);
    player.setSource(m_tune);

    for (int round = 1; round <= 2; ++round) {
        const qsizetype before = states.size();
        QVERIFY2(waitForState(states, MediaPlayer::Stopped, StartWaitMs + EndWaitMs, before),
                 qPrintable(QStringLiteral("round %1 did not end").arg(round)));
        const qsizetype stopped = statesOf(states).lastIndexOf(MediaPlayer::Stopped);
        QVERIFY2(waitForState(states, MediaPlayer::Playing, StartWaitMs, stopped),
                 qPrintable(QStringLiteral("round %1 did not start again").arg(round)));
    }
    // Every listener hears each round in the same order: ended, stopped, playing.
    const QList<int> seen = statesOf(states);
    QVERIFY2(seen.mid(0, 8) ==
                 QList<int>({MediaPlayer::Transitioning, MediaPlayer::Playing,
                             MediaPlayer::MediaEnded, MediaPlayer::Stopped, MediaPlayer::Playing,
                             MediaPlayer::MediaEnded, MediaPlayer::Stopped, MediaPlayer::Playing}),
             describe(seen).constData());
    QVERIFY(positionsAtStart.size() >= 3);
    for (qint64 position : positionsAtStart)
        QVERIFY2(position < NearStartMs, qPrintable(QString::number(position)));
    player.setSource(QString());
}

void tst_MediaPlayer::clearingTheUrlStopsForGood()
{
    MediaPlayer player;
    loopOnStop(player);
    QSignalSpy states(&player, &MediaPlayer::playStateChanged);
    player.setSource(m_tune);
    QVERIFY(waitForState(states, MediaPlayer::Playing, StartWaitMs));

    player.setSource(QString());
    QVERIFY(player.source().isEmpty());
    states.clear();
    // Nothing may start again, looping handler or not: watch for a while.
    QTest::qWait(1500);
    QVERIFY2(!statesOf(states).contains(MediaPlayer::Playing),
             describe(statesOf(states)).constData());
    QCOMPARE(player.backend()->playbackState(), QMediaPlayer::StoppedState);
}

void tst_MediaPlayer::settingThePathAgainStartsFromTheBeginning()
{
    MediaPlayer player;
    QSignalSpy states(&player, &MediaPlayer::playStateChanged);
    player.setSource(m_tune);
    QVERIFY(waitForState(states, MediaPlayer::Playing, StartWaitMs));
    QTRY_VERIFY_WITH_TIMEOUT(player.backend()->position() >= 500, EndWaitMs);

    player.setSource(QString());
    qint64 positionAtStart = -1;
    connect(&player, &MediaPlayer::playStateChanged, this, [&](int state) {
        if (state == MediaPlayer::Playing)
            positionAtStart = player.backend()->position();
    });
    const qsizetype before = states.size();
    player.setSource(m_tune);
    QVERIFY(waitForState(states, MediaPlayer::Playing, StartWaitMs, before));
    QVERIFY2(positionAtStart >= 0 && positionAtStart < NearStartMs,
             qPrintable(QString::number(positionAtStart)));
    player.setSource(QString());
}

void tst_MediaPlayer::fileNotOursIsNeverOpened_data()
{
    QTest::addColumn<QString>("file");
    // Opened, a pipe would hold the player for good.
    QTest::newRow("a named pipe") << QStringLiteral("pipe.mp3");
    if (::geteuid() == 0)
        QTest::newRow("a tune another user left") << QStringLiteral("others.mp3");
}

void tst_MediaPlayer::fileNotOursIsNeverOpened()
{
    QFETCH(QString, file);
    MediaPlayer player;
    QSignalSpy states(&player, &MediaPlayer::playStateChanged);
    player.setSource(m_dir.filePath(file));
    // Refused before the backend sees it, and said at once, as for a missing file.
    QVERIFY(player.backend()->source().isEmpty());
    QCOMPARE(statesOf(states).constLast(), int(MediaPlayer::Ready));
    player.play();
    QCOMPARE(player.backend()->playbackState(), QMediaPlayer::StoppedState);
}

void tst_MediaPlayer::unplayableFileStaysSilentWithoutRetrying_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("playsOnce");

    QTest::newRow("missing file") << QStringLiteral("missing.mp3") << false;
    QTest::newRow("random bytes named .mp3") << QStringLiteral("noise.mp3") << false;
    QTest::newRow("empty file") << QStringLiteral("empty.mp3") << false;
    // It does play, but ends before a loop of it could be anything but a spin.
    QTest::newRow("a click of 20 ms") << QStringLiteral("click.mp3") << true;
}

void tst_MediaPlayer::unplayableFileStaysSilentWithoutRetrying()
{
    QFETCH(QString, file);
    QFETCH(bool, playsOnce);
    const QString path = m_dir.filePath(file);

    MediaPlayer player;
    loopOnStop(player);
    QSignalSpy states(&player, &MediaPlayer::playStateChanged);
    const double cpuBefore = cpuSeconds();
    player.setSource(path);
    // The window in which a retry loop would show itself: each retry fails
    // within a few hundred milliseconds.
    QTest::qWait(1000);
    const double cpuUsed = cpuSeconds() - cpuBefore;

    const QList<int> seen = statesOf(states);
    QVERIFY2(seen.size() <= 5, describe(seen).constData());
    QVERIFY2(seen.count(MediaPlayer::Playing) == (playsOnce ? 1 : 0), describe(seen).constData());
    QVERIFY2(cpuUsed < 0.5, qPrintable(QStringLiteral("%1 s of CPU").arg(cpuUsed)));
    QCOMPARE(player.source(), path);

    // play() stays without effect until a new path is set...
    player.play();
    QVERIFY(!states.wait(300));
    // ...and a good file afterwards plays as usual.
    player.setSource(m_tune);
    QVERIFY(waitForState(states, MediaPlayer::Playing, StartWaitMs, seen.size()));
    player.setSource(QString());
}

void tst_MediaPlayer::playWithoutMediaDoesNothing()
{
    MediaPlayer player;
    QSignalSpy states(&player, &MediaPlayer::playStateChanged);
    player.play();
    QVERIFY(!states.wait(500));
    QCOMPARE(player.backend()->playbackState(), QMediaPlayer::StoppedState);
}

void tst_MediaPlayer::soundIsHeardUntilTheUrlIsCleared_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("rounds"); // how many times it has to have ended first

    QTest::newRow("a tune of 2 s, into its second round") << QStringLiteral("short.mp3") << 1;
    QTest::newRow("the program's own tune") << QFINDTESTDATA("../../assets/bg.mp3") << 0;
}

void tst_MediaPlayer::soundIsHeardUntilTheUrlIsCleared()
{
    QFETCH(QString, file);
    QFETCH(int, rounds);
    if (!m_sound)
        QSKIP("No sound server in this run (tst_mediaplayer_pulseaudio has one)");
    // Loud against the silence of a null sink, where nothing plays as 0.
    constexpr int Heard = 1000;
    // Longer than the backend's pause between two rounds (a sixth of a
    // second, more under the sanitizers); silence needs a shorter look.
    constexpr int HearingMs = 1500;
    constexpr int SilenceMs = 500;

    MediaPlayer player;
    loopOnStop(player);
    QSignalSpy states(&player, &MediaPlayer::playStateChanged);
    player.setSource(QDir(m_dir.path()).absoluteFilePath(file));
    QVERIFY(waitForState(states, MediaPlayer::Playing, StartWaitMs));
    for (int round = 1; round <= rounds; ++round) {
        QVERIFY2(waitForState(states, MediaPlayer::Stopped, StartWaitMs + EndWaitMs,
                              statesOf(states).lastIndexOf(MediaPlayer::Playing)),
                 qPrintable(QStringLiteral("round %1 did not end").arg(round)));
        QVERIFY2(waitForState(states, MediaPlayer::Playing, StartWaitMs,
                              statesOf(states).lastIndexOf(MediaPlayer::Stopped)),
                 qPrintable(QStringLiteral("round %1 was not followed by another").arg(round)));
    }
    QTRY_VERIFY_WITH_TIMEOUT(m_sound->hearsUs(), StartWaitMs);
    // A busy machine can stretch the pause between two rounds, or the
    // stream's first samples at the sound server, past one look.
    int loudest = m_sound->loudestSample(HearingMs);
    for (int look = 2; look <= 6 && loudest < Heard; ++look)
        loudest = m_sound->loudestSample(HearingMs);
    QVERIFY2(loudest >= Heard, qPrintable(QStringLiteral("loudest sample %1; the server says: %2")
                                              .arg(loudest)
                                              .arg(m_sound->ourStream())));

    player.setSource(QString());
    QTRY_VERIFY_WITH_TIMEOUT(!m_sound->hearsUs(), StartWaitMs);
    QCOMPARE(m_sound->loudestSample(SilenceMs), 0);
}

QTEST_MAIN(tst_MediaPlayer)
#include "tst_mediaplayer.moc"
