#pragma once

#include <QObject>
#include <QString>
#include <QThread>

class TunePlayback;

// The background music: one file, played round and round from its start
// whenever a path is set, each round opening the file anew; decoded by
// libmpg123 and played through Qt's own sound output, with no media
// framework. Its states are reported with the classic player's numbers. A
// file that cannot be played, or a machine without sound output, stays
// silent and quiet: no message, no retry until the next path.
class MediaPlayer : public QObject
{
    Q_OBJECT
public:
    // The classic play-state numbers; only these are ever reported.
    enum PlayState {
        Stopped = 1,
        Playing = 3,
        MediaEnded = 8,
        Transitioning = 9,
        Ready = 10,
    };
    Q_ENUM(PlayState)

    // Of the tune's own loudness, as the music has always played.
    static constexpr float Volume = 0.5f;

    explicit MediaPlayer(QObject *parent = nullptr);
    ~MediaPlayer() override;

    // A path plays that file from the start, round and round; the empty
    // string stops and closes it.
    void setSource(const QString &path);
    QString source() const { return m_source; }

signals:
    // Transitioning as a path is set, Playing once it sounds; at the end of
    // each round handed to the output MediaEnded, then Playing for the next.
    // Stopped when the path is cleared; Ready where the file is not one to
    // play, or ends too soon to loop, or there is no sound output.
    void playStateChanged(int newState);

private:
    void silence();
    void report(PlayState state);

    QString m_source;
    // The output and the tune live on a thread of their own, started with
    // the first tune: the sound server's answers and the decoding never
    // wait on the window's thread, nor its events on them.
    QThread m_soundThread;
    TunePlayback *m_playback = nullptr;
    // Counts paths set, so that a report about an earlier one is ignored.
    int m_path = 0;
    int m_state = Ready;
};
