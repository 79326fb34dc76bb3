#pragma once

#include <QObject>
#include <QString>

class MediaPlayer;

// The main window's tune: on from the start, round and round while on, and
// switched off and on by the music button.
class BackgroundMusic : public QObject
{
    Q_OBJECT
public:
    // Plays nothing until start(); the player is the child named W1.
    explicit BackgroundMusic(QString tunePath, QObject *parent = nullptr);

    bool isOn() const { return m_on; }
    void start();
    // Off to on and back; off closes the tune.
    void toggle();
    void stop();

private:
    QString m_tunePath;
    MediaPlayer *m_player;
    bool m_on = true;
};
