#include "platform/MediaPlayer.h"

#include <QAudioOutput>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

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
    QObject::connect(&player, &MediaPlayer::PlayStateChange, &player, [&player](int state) {
        if (state == MediaPlayer::Stopped)
            player.controls().play();
    });
}

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
    void unplayableFileStaysSilentWithoutRetrying_data();
    void unplayableFileStaysSilentWithoutRetrying();
    void playWithoutMediaDoesNothing();

private:
    QTemporaryDir m_dir;
    QString m_tune;
};

void tst_MediaPlayer::initTestCase()
{
    QVERIFY(m_dir.isValid());
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

    // Without GStreamer's decoders nothing below can pass; that is the
    // machine's lack, not the player's.
    MediaPlayer probe;
    QSignalSpy states(&probe, &MediaPlayer::PlayStateChange);
    probe.setURL(m_tune);
    if (!waitForState(states, MediaPlayer::Playing, StartWaitMs))
        QSKIP("GStreamer cannot play MP3 on this machine (plugins missing?)");
    probe.setURL(QString());
}

void tst_MediaPlayer::settingsAreFixed()
{
    MediaPlayer player;
    QCOMPARE(player.audioOutput()->volume(), 0.5f);
    QVERIFY(!player.audioOutput()->isMuted());
    QCOMPARE(player.backend()->playbackRate(), 1.0);
    QCOMPARE(player.backend()->loops(), 1);
    QVERIFY(player.settings().autoStart);
    QVERIFY(!player.settings().enableErrorDialogs);
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
    connect(&player, &MediaPlayer::PlayStateChange, this, [&](int state) {
        if (state == MediaPlayer::MediaEnded)
            positionAtEnd = player.backend()->position();
    });
    player.setURL(m_tune);
    for (int i = 0; i < switches; ++i) {
        QCoreApplication::processEvents();
        player.setURL(QString());
        player.setURL(m_tune);
    }
    QSignalSpy states(&player, &MediaPlayer::PlayStateChange);
    QCOMPARE(player.URL(), m_tune);
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
    connect(&player, &MediaPlayer::PlayStateChange, this, [&](int state) {
        if (state == MediaPlayer::Playing)
            positionsAtStart << player.backend()->position();
    });
    QSignalSpy states(&player, &MediaPlayer::PlayStateChange);
    player.setURL(m_tune);

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
    player.setURL(QString());
}

void tst_MediaPlayer::clearingTheUrlStopsForGood()
{
    MediaPlayer player;
    loopOnStop(player);
    QSignalSpy states(&player, &MediaPlayer::PlayStateChange);
    player.setURL(m_tune);
    QVERIFY(waitForState(states, MediaPlayer::Playing, StartWaitMs));

    player.setURL(QString());
    QVERIFY(player.URL().isEmpty());
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
    QSignalSpy states(&player, &MediaPlayer::PlayStateChange);
    player.setURL(m_tune);
    QVERIFY(waitForState(states, MediaPlayer::Playing, StartWaitMs));
    QTRY_VERIFY_WITH_TIMEOUT(player.backend()->position() >= 500, EndWaitMs);

    player.setURL(QString());
    qint64 positionAtStart = -1;
    connect(&player, &MediaPlayer::PlayStateChange, this, [&](int state) {
        if (state == MediaPlayer::Playing)
            positionAtStart = player.backend()->position();
    });
    const qsizetype before = states.size();
    player.setURL(m_tune);
    QVERIFY(waitForState(states, MediaPlayer::Playing, StartWaitMs, before));
    QVERIFY2(positionAtStart >= 0 && positionAtStart < NearStartMs,
             qPrintable(QString::number(positionAtStart)));
    player.setURL(QString());
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
    QSignalSpy states(&player, &MediaPlayer::PlayStateChange);
    const double cpuBefore = cpuSeconds();
    player.setURL(path);
    // The window in which a retry loop would show itself.
    QTest::qWait(2000);
    const double cpuUsed = cpuSeconds() - cpuBefore;

    const QList<int> seen = statesOf(states);
    QVERIFY2(seen.size() <= 5, describe(seen).constData());
    QVERIFY2(seen.count(MediaPlayer::Playing) == (playsOnce ? 1 : 0), describe(seen).constData());
    QVERIFY2(cpuUsed < 0.5, qPrintable(QStringLiteral("%1 s of CPU").arg(cpuUsed)));
    QCOMPARE(player.URL(), path);

    // play() stays without effect until a new path is set...
    player.controls().play();
    QVERIFY(!states.wait(300));
    // ...and a good file afterwards plays as usual.
    player.setURL(m_tune);
    QVERIFY(waitForState(states, MediaPlayer::Playing, StartWaitMs, seen.size()));
    player.setURL(QString());
}

void tst_MediaPlayer::playWithoutMediaDoesNothing()
{
    MediaPlayer player;
    QSignalSpy states(&player, &MediaPlayer::PlayStateChange);
    player.controls().play();
    QVERIFY(!states.wait(500));
    QCOMPARE(player.backend()->playbackState(), QMediaPlayer::StoppedState);
}

QTEST_MAIN(tst_MediaPlayer)
#include "tst_mediaplayer.moc"
