#include "sound/MediaPlayer.h"
#include "sound/TuneDecoder.h"

#include "SoundServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>

#include <sys/resource.h>

namespace {

// The tune is one second long; every wait below leaves room for a slow,
// busy machine, and a fault shows as a failed wait rather than a hang.
constexpr int StartWaitMs = 10'000;
constexpr int EndWaitMs = 10'000;

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

QList<qint16> samplesOf(const QByteArray &bytes)
{
    QList<qint16> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.constData(), size_t(samples.size()) * 2);
    return samples;
}

int loudest(const QList<qint16> &samples)
{
    int loudest = 0;
    for (qint16 sample : samples)
        loudest = qMax(loudest, qAbs(int(sample)));
    return loudest;
}

// The longest stretch, in milliseconds of two channels at 44.1 kHz, where
// both channels stay below `level`, between the first loud frame and the last.
double longestQuietMs(const QList<qint16> &samples, int level)
{
    bool heard = false;
    qsizetype run = 0, longest = 0;
    for (qsizetype frame = 0; frame + 1 < samples.size(); frame += 2) {
        if (qAbs(samples[frame]) < level && qAbs(samples[frame + 1]) < level) {
            run += heard ? 1 : 0;
        } else {
            longest = qMax(longest, run);
            run = 0;
            heard = true;
        }
    }
    return longest * 1000.0 / 44100;
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

} // namespace

class tst_MediaPlayer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void reportsEveryRoundAndGoesOn_data();
    void reportsEveryRoundAndGoesOn();
    void clearingThePathStopsForGood();
    void fileNotOursIsNeverPlayed_data();
    void fileNotOursIsNeverPlayed();
    void unplayableFileStaysSilentWithoutRetrying_data();
    void unplayableFileStaysSilentWithoutRetrying();
    void soundIsHeardUntilThePathIsCleared_data();
    void soundIsHeardUntilThePathIsCleared();

private:
    QString make(const QStringList &soxArguments);

    QTemporaryDir m_dir;
    QString m_tune;
    SoundServer m_sound;
};

// A file of the test's folder made by sox from nothing: `-n` and the
// arguments after the file name.
QString tst_MediaPlayer::make(const QStringList &soxArguments)
{
    const QString file = m_dir.filePath(soxArguments.first());
    QProcess sox;
    sox.start(QStringLiteral("sox"),
              QStringList{QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"),
                          QStringLiteral("-c"), QStringLiteral("2"), file} +
                  soxArguments.mid(1));
    if (!sox.waitForFinished(30'000) || sox.exitCode() != 0 || !QFile::exists(file))
        return {};
    return file;
}

void tst_MediaPlayer::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // As on a desktop with sound: a server of the test's own.
    const QString failure = m_sound.start();
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    m_tune = make({QStringLiteral("tune.mp3"), QStringLiteral("synth"), QStringLiteral("1"),
                   QStringLiteral("sine"), QStringLiteral("440")});
    QVERIFY2(!m_tune.isEmpty(), "sox cannot write MP3 here: tools/setup-deps.sh installs "
                                "sox and libsox-fmt-mp3");
    QVERIFY(!make({QStringLiteral("click.mp3"), QStringLiteral("synth"), QStringLiteral("0.02"),
                   QStringLiteral("sine"), QStringLiteral("440")})
                 .isEmpty());

    // A good tune, but someone else's: in a folder others may write to, not
    // ours to play. Only root can give a file away; elsewhere it stays ours.
    const QString others = m_dir.filePath(QStringLiteral("others.mp3"));
    QVERIFY(QFile::copy(m_tune, others));
    if (::geteuid() == 0)
        QCOMPARE(::chown(QFile::encodeName(others).constData(), 65534, 65534), 0);
    QCOMPARE(
        ::mkfifo(QFile::encodeName(m_dir.filePath(QStringLiteral("pipe.mp3"))).constData(), 0600),
        0);
    QVERIFY(QFile::link(m_tune, m_dir.filePath(QStringLiteral("link.mp3"))));

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
}

void tst_MediaPlayer::reportsEveryRoundAndGoesOn_data()
{
    QTest::addColumn<int>("switches"); // off and on again right after the first path

    QTest::newRow("path set once") << 0;
    QTest::newRow("switched off and on quickly three times") << 3;
}

void tst_MediaPlayer::reportsEveryRoundAndGoesOn()
{
    QFETCH(int, switches);
    MediaPlayer player;
    player.setSource(m_tune);
    for (int i = 0; i < switches; ++i) {
        QCoreApplication::processEvents();
        player.setSource(QString());
        player.setSource(m_tune);
    }
    QSignalSpy states(&player, &MediaPlayer::playStateChanged);
    QCOMPARE(player.source(), m_tune);
    for (int round = 1; round <= 3; ++round) {
        QVERIFY2(waitForState(states, MediaPlayer::MediaEnded, StartWaitMs + EndWaitMs,
                              statesOf(states).lastIndexOf(MediaPlayer::Playing)),
                 qPrintable(QStringLiteral("round %1 did not end; ").arg(round) +
                            describe(statesOf(states))));
        QVERIFY(waitForState(states, MediaPlayer::Playing, StartWaitMs,
                             statesOf(states).lastIndexOf(MediaPlayer::MediaEnded)));
    }
    // Every earlier path's reports stay behind; each round ends, the next plays.
    const QList<int> seen = statesOf(states);
    QVERIFY2(seen.mid(0, 7) ==
                 QList<int>({MediaPlayer::Playing, MediaPlayer::MediaEnded, MediaPlayer::Playing,
                             MediaPlayer::MediaEnded, MediaPlayer::Playing, MediaPlayer::MediaEnded,
                             MediaPlayer::Playing}),
             describe(seen).constData());
    QVERIFY2(m_sound.hearsUs(), qPrintable(m_sound.streamOf()));
}

void tst_MediaPlayer::clearingThePathStopsForGood()
{
    MediaPlayer player;
    QSignalSpy states(&player, &MediaPlayer::playStateChanged);
    player.setSource(m_tune);
    QVERIFY(waitForState(states, MediaPlayer::Playing, StartWaitMs));

    player.setSource(QString());
    QVERIFY(player.source().isEmpty());
    QCOMPARE(statesOf(states).constLast(), int(MediaPlayer::Stopped));
    states.clear();
    // Nothing may start again, nor report an earlier round: watch for a while.
    QTest::qWait(1500);
    QVERIFY2(states.isEmpty(), describe(statesOf(states)).constData());
    QVERIFY2(m_sound.streamOf().isEmpty(), qPrintable(m_sound.streamOf()));
}

void tst_MediaPlayer::fileNotOursIsNeverPlayed_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("afterARound"); // in place of a good tune once a round has ended

    for (const bool afterARound : {false, true}) {
        const char *when =
            afterARound ? "put in place of the tune after a round" : "from the start";
        // Opened, a pipe would hold the player for good.
        QTest::addRow("a named pipe, %s", when) << QStringLiteral("pipe") << afterARound;
        QTest::addRow("a link to a good tune, %s", when) << QStringLiteral("link") << afterARound;
        // Only root can give a file away; elsewhere it stays ours.
        if (::geteuid() == 0)
            QTest::addRow("a good tune another user left, %s", when)
                << QStringLiteral("others") << afterARound;
    }
}

void tst_MediaPlayer::fileNotOursIsNeverPlayed()
{
    QFETCH(QString, kind);
    QFETCH(bool, afterARound);
    const QString path = m_dir.filePath(QStringLiteral("played.mp3"));
    const QByteArray name = QFile::encodeName(path);
    const auto putInPlace = [&](const QString &what) {
        ::unlink(name.constData());
        if (what == u"pipe")
            return ::mkfifo(name.constData(), 0600) == 0;
        if (what == u"link")
            return QFile::link(m_tune, path);
        return QFile::copy(m_tune, path) &&
               (what == u"tune" || ::chown(name.constData(), 65534, 65534) == 0);
    };
    QVERIFY(putInPlace(afterARound ? QStringLiteral("tune") : kind));

    MediaPlayer player;
    QSignalSpy states(&player, &MediaPlayer::playStateChanged);
    player.setSource(path);
    if (!afterARound) {
        // Refused before anything plays, and said at once, as for a missing file.
        QCOMPARE(statesOf(states), QList<int>({MediaPlayer::Transitioning, MediaPlayer::Ready}));
        return;
    }
    QVERIFY(waitForState(states, MediaPlayer::MediaEnded, StartWaitMs + EndWaitMs));
    // A round opens the file anew and finds it no longer one to play.
    QVERIFY(putInPlace(kind));
    QVERIFY2(waitForState(states, MediaPlayer::Ready, StartWaitMs + EndWaitMs),
             describe(statesOf(states)).constData());
    QTRY_VERIFY_WITH_TIMEOUT(m_sound.streamOf().isEmpty(), StartWaitMs);
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
    QSignalSpy states(&player, &MediaPlayer::playStateChanged);
    const double cpuBefore = cpuSeconds();
    player.setSource(path);
    QVERIFY(waitForState(states, MediaPlayer::Ready, StartWaitMs));
    // The window in which a retry loop would show itself.
    QTest::qWait(1000);
    const double cpuUsed = cpuSeconds() - cpuBefore;

    const QList<int> seen = statesOf(states);
    QVERIFY2(seen.size() <= 4, describe(seen).constData());
    QVERIFY2(seen.count(MediaPlayer::Playing) == (playsOnce ? 1 : 0), describe(seen).constData());
    QVERIFY2(cpuUsed < 0.5, qPrintable(QStringLiteral("%1 s of CPU").arg(cpuUsed)));
    QCOMPARE(player.source(), path);
    QTRY_VERIFY_WITH_TIMEOUT(m_sound.streamOf().isEmpty(), StartWaitMs);

    // A good file afterwards plays as usual.
    player.setSource(m_tune);
    QVERIFY(waitForState(states, MediaPlayer::Playing, StartWaitMs, seen.size()));
}

void tst_MediaPlayer::soundIsHeardUntilThePathIsCleared_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("hearingMs");

    // Longer than a round: whatever the look catches holds one round's end
    // and the next one's start.
    QTest::newRow("a tune of 2 s, round after round") << QStringLiteral("short.mp3") << 2500;
    QTest::newRow("the program's own tune") << QFINDTESTDATA("../../assets/bg.mp3") << 1500;
}

void tst_MediaPlayer::soundIsHeardUntilThePathIsCleared()
{
    QFETCH(QString, file);
    QFETCH(int, hearingMs);
    // Loud against the silence of a null sink, where nothing plays as 0.
    constexpr int Heard = 1000;
    // A gap between two rounds (the encoder's padding alone is 37 ms of
    // the 2 s tune) against the few samples of its fades and waves near 0.
    constexpr double GapMs = 3.0;
    const QString path = QDir(m_dir.path()).absoluteFilePath(file);

    // The tune's own loudest sample, which plays at half, and its length.
    TuneDecoder decoder;
    QVERIFY(decoder.open(path));
    QByteArray decoded(1 << 20, Qt::Uninitialized);
    int own = 0;
    qint64 ownMs = 0;
    for (qint64 got; (got = decoder.read(decoded.data(), decoded.size())) > 0;) {
        own = qMax(own, loudest(samplesOf(decoded.first(got))));
        ownMs += got * 1000 / (44100 * 4);
    }

    MediaPlayer player;
    QSignalSpy states(&player, &MediaPlayer::playStateChanged);
    player.setSource(path);
    QVERIFY(waitForState(states, MediaPlayer::Playing, StartWaitMs));
    QTRY_VERIFY_WITH_TIMEOUT(m_sound.hearsUs(), StartWaitMs);
    // A busy machine can hold the stream's first samples back past one
    // look, or leave the output short for a moment.
    QList<qint16> heard;
    for (int look = 1; look <= 6; ++look) {
        heard = samplesOf(m_sound.record(hearingMs));
        if (loudest(heard) >= Heard && longestQuietMs(heard, Heard / 10) < GapMs)
            break;
    }
    const QString said = QStringLiteral("loudest sample %1 of the tune's %2, longest quiet %3 ms; "
                                        "the server says: %4")
                             .arg(loudest(heard))
                             .arg(own)
                             .arg(longestQuietMs(heard, Heard / 10))
                             .arg(m_sound.streamOf());
    QVERIFY2(loudest(heard) >= Heard, qPrintable(said));
    // A look at a whole round hears its loudest sample.
    QVERIFY2(loudest(heard) < own * MediaPlayer::Volume * 1.1, qPrintable(said));
    QVERIFY2(hearingMs < ownMs || loudest(heard) > own * MediaPlayer::Volume * 0.9,
             qPrintable(said));
    QVERIFY2(longestQuietMs(heard, Heard / 10) < GapMs, qPrintable(said));

    player.setSource(QString());
    QTRY_VERIFY_WITH_TIMEOUT(!m_sound.hearsUs(), StartWaitMs);
    QCOMPARE(loudest(samplesOf(m_sound.record(500))), 0);
}

QTEST_MAIN(tst_MediaPlayer)
#include "tst_mediaplayer.moc"
