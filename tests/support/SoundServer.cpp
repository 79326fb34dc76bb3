#include "SoundServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QStandardPaths>
#include <QTest>

#include <signal.h>
#include <sys/prctl.h>

namespace {

QString pactl(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("pactl"), arguments);
    if (!process.waitForFinished(10'000) || process.exitCode() != 0)
        return {};
    return QString::fromUtf8(process.readAllStandardOutput());
}

} // namespace

SoundServer::~SoundServer()
{
    if (m_server.state() == QProcess::NotRunning)
        return;
    if (m_pulseServerBefore.isNull())
        qunsetenv("PULSE_SERVER");
    else
        qputenv("PULSE_SERVER", m_pulseServerBefore);
    m_server.terminate();
    if (!m_server.waitForFinished(10'000))
        m_server.kill();
    m_server.waitForFinished();
}

QString SoundServer::start()
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
    if (qEnvironmentVariableIsSet("PULSE_SERVER"))
        m_pulseServerBefore = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", QByteArray("unix:" + QFile::encodeName(folder) + "/native"));
    return {};
}

QString SoundServer::streamOf(qint64 pid) const
{
    const QString list = pactl({QStringLiteral("list"), QStringLiteral("sink-inputs")});
    for (const QString &stream : list.split(QStringLiteral("Sink Input #"), Qt::SkipEmptyParts)) {
        if (stream.contains(QStringLiteral("application.process.id = \"%1\"").arg(pid)))
            return stream.section(QStringLiteral("Properties:"), 0, 0).simplified();
    }
    return {};
}

QByteArray SoundServer::record(int ms) const
{
    QProcess parec;
    parec.start(QStringLiteral("parec"),
                {QStringLiteral("-d"), QStringLiteral("null.monitor"), QStringLiteral("--raw"),
                 QStringLiteral("--format=s16le"), QStringLiteral("--rate=44100"),
                 QStringLiteral("--channels=2"), QStringLiteral("--latency-msec=20")});
    const qsizetype wanted = qsizetype(ms) * 44100 / 1000 * 4;
    QByteArray samples;
    QDeadlineTimer deadline(ms + 10'000);
    // Read with the event loop running, as the program's thread always is:
    // the sound output takes the tune's samples on it.
    while (samples.size() < wanted && !deadline.hasExpired() &&
           parec.state() != QProcess::NotRunning) {
        QTest::qWait(20);
        samples += parec.readAllStandardOutput();
    }
    parec.kill();
    parec.waitForFinished();
    return samples.size() < wanted ? QByteArray() : samples.first(wanted);
}
