#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A PulseAudio server of the test's own, as on a desktop with sound: one null
// sink, whose monitor gives back what was played into it. While it runs,
// PULSE_SERVER names it to this process and to what it starts. It lives in a
// folder of its own and ends with the test, even one that crashes.
class SoundServer
{
public:
    ~SoundServer();

    // Empty when it runs; else why not.
    QString start();

    // What the server says of the stream of process `pid`; empty when it has none.
    QString streamOf(qint64 pid = QCoreApplication::applicationPid()) const;
    // Whether a stream of this process plays uncorked into the sink.
    bool hearsUs() const { return streamOf().contains(QStringLiteral("Corked: no")); }

    // The next `ms` milliseconds on the sink's monitor: 16-bit samples, two
    // channels; empty when parec gave less.
    QByteArray record(int ms) const;

private:
    QTemporaryDir m_dir{QDir::tempPath() + QStringLiteral("/zhiwei-sound-XXXXXX")};
    QProcess m_server;
    QByteArray m_pulseServerBefore;
};
