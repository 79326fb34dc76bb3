#pragma once

#include <QElapsedTimer>
#include <QMediaPlayer>
#include <QObject>
#include <QString>

class QAudioOutput;

// The background music: one file, played once from the start whenever a path
// is set. Its states are reported with the classic player's numbers, so a
// window that answers "stopped" with play() loops the tune. A file that cannot
// be played stays silent and quiet: no message, no retry until the next path.
class MediaPlayer : public QObject
{
    Q_OBJECT
public:
    // The classic play-state numbers; only these are ever reported.
    enum PlayState {
        Stopped = 1,
        Paused = 2,
        Playing = 3,
        MediaEnded = 8,
        Transitioning = 9,
        Ready = 10,
    };
    Q_ENUM(PlayState)

    // The player's fixed settings; they are applied once and never change.
    struct Settings
    {
        int volume = 50; // of 100
        bool mute = false;
        double rate = 1.0;
        int playCount = 1;
        bool autoStart = true;
    };

    explicit MediaPlayer(QObject *parent = nullptr);
    ~MediaPlayer() override;

    // A path opens that file and plays it from the start; the empty string
    // closes the media and stops.
    void setSource(const QString &path);
    QString source() const { return m_source; }
    // Plays the current media from where it stands, from the start after its
    // end; does nothing without playable media.
    void play();

    const Settings &settings() const { return m_settings; }

    // The Qt objects underneath, for tests that read the settings back.
    QMediaPlayer *backend() const { return m_player; }
    QAudioOutput *audioOutput() const { return m_output; }

signals:
    void playStateChanged(int newState);

private:
    void reopen();
    void onError(QMediaPlayer::Error error);
    void follow();
    void giveUp();
    void report(PlayState state);

    Settings m_settings;
    QMediaPlayer *m_player;
    QAudioOutput *m_output;
    QString m_source;
    int m_state = Ready;
    // Set when the current media failed to open or play, or ended as soon as
    // it started; cleared by the next path.
    bool m_unplayable = false;
    int m_restarts = 0;       // of the current path, after ending far too early
    bool m_reporting = false; // inside a playStateChanged emission
    QElapsedTimer m_round;    // since the current pass started playing
};
