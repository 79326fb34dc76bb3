#pragma once

#include <QByteArray>
#include <QObject>

#include <memory>

class QAudioSink;
class QIODevice;
class QTimer;
class TuneLoop;

// A tune playing through Qt's sound output, fed from the thread it lives on.
// It writes the output full a few times a second rather than letting the
// output pull fifty times a second: each wake-up costs more than the
// decoding it brings.
class TunePlayback : public QObject
{
    Q_OBJECT
public:
    // Takes a tune whose first round is open; moved to another thread, the
    // tune goes with it.
    TunePlayback(std::unique_ptr<TuneLoop> tune, float volume);
    ~TunePlayback() override;

    // Opens the output and fills it.
    void start();

signals:
    void playing();
    // A round has been handed to the output; whether another follows.
    void roundEnded(bool another);
    // Nothing more will sound: the last round has played out, or the output
    // failed.
    void finished();

private:
    void feed();
    void followOutput();

    float m_volume;
    TuneLoop *m_tune; // a child
    std::unique_ptr<QAudioSink> m_output;
    QIODevice *m_input = nullptr; // the output's, for writing to it
    QTimer *m_feeder;
    QByteArray m_pending; // decoded, not yet taken by the output
    bool m_ended = false; // the tune's last round and the silence after it are in m_pending
};
