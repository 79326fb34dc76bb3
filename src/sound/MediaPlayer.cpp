#include "MediaPlayer.h"

#include <QAudioOutput>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QUrl>

#include <unistd.h>

Q_LOGGING_CATEGORY(lcMedia, "zhiwei.media", QtWarningMsg)

namespace {

// Shorter rounds than this are not looped (a click, a broken file that
// "ends" at once): real music is longer, and a loop this fast only burns CPU.
constexpr qint64 MinLoopRoundMs = 250;
// How often one path may be started again after ending far too early.
constexpr int MaxRestarts = 3;

} // namespace

MediaPlayer::MediaPlayer(QObject *parent)
    : QObject(parent)
    , m_player(new QMediaPlayer(this))
    , m_output(new QAudioOutput(this))
{
    m_output->setVolume(m_settings.volume / 100.0);
    m_output->setMuted(m_settings.mute);
    m_player->setAudioOutput(m_output);
    m_player->setPlaybackRate(m_settings.rate);
    // One pass per play(): the end must be seen, or the window cannot loop.
    m_player->setLoops(m_settings.playCount);

    connect(m_player, &QMediaPlayer::playbackStateChanged, this, &MediaPlayer::follow);
    connect(m_player, &QMediaPlayer::mediaStatusChanged, this, &MediaPlayer::follow);
    connect(m_player, &QMediaPlayer::errorOccurred, this, &MediaPlayer::onError);
}

MediaPlayer::~MediaPlayer()
{
    // Tearing the backend down reports states nobody is left to hear.
    disconnect(m_player, nullptr, this, nullptr);
}

void MediaPlayer::setSource(const QString &path)
{
    m_player->stop();
    // A fresh source every time, so the same path again starts from the top.
    m_player->setSource(QUrl());
    m_source = path;
    m_unplayable = false;
    m_restarts = 0;
    if (path.isEmpty()) {
        report(Stopped);
        return;
    }
    report(Transitioning);
    // Only a regular file of the running user's or root's: a named pipe
    // would hold the player in open() for good, and in a folder others may
    // write to, a file someone else left is theirs to choose.
    const QFileInfo file(path);
    if (!file.isFile() || (file.ownerId() != ::geteuid() && file.ownerId() != 0)) {
        giveUp();
        return;
    }
    m_player->setSource(QUrl::fromLocalFile(file.absoluteFilePath()));
    // Now, not once the length is known: with a sound server the backend
    // learns the length only from a stream that plays.
    if (m_settings.autoStart)
        m_player->play();
}

void MediaPlayer::play()
{
    if (m_source.isEmpty() || m_unplayable)
        return;
    if (m_reporting) {
        // Asked from a state handler: start once every listener has heard the
        // state, so none of them sees "playing" before "stopped".
        QMetaObject::invokeMethod(this, &MediaPlayer::play, Qt::QueuedConnection);
        return;
    }
    if (m_player->mediaStatus() == QMediaPlayer::EndOfMedia)
        reopen();
    m_player->play();
}

void MediaPlayer::reopen()
{
    // From the start on a new stream rather than by seeking back: a
    // PulseAudio stream that has seen the end is at times left writing far
    // ahead of the server's clock, and the next round then plays into
    // silence while the stream reads as playing.
    const QUrl source = m_player->source();
    m_player->setSource(QUrl());
    m_player->setSource(source);
}

void MediaPlayer::onError(QMediaPlayer::Error error)
{
    qCDebug(lcMedia) << "error" << error << m_player->errorString();
    // Errors are never shown; the media is simply left alone.
    if (error != QMediaPlayer::NoError && !m_source.isEmpty())
        giveUp();
}

void MediaPlayer::follow()
{
    const QMediaPlayer::MediaStatus status = m_player->mediaStatus();
    qCDebug(lcMedia) << "backend" << m_player->playbackState() << status << "at"
                     << m_player->position() << "of" << m_player->duration() << "ms";
    if (m_unplayable || m_source.isEmpty())
        return;
    if (status == QMediaPlayer::InvalidMedia) {
        giveUp();
        return;
    }
    switch (m_player->playbackState()) {
    case QMediaPlayer::PlayingState:
        // The backend says "playing" as soon as it is asked to, even while the
        // file is still being opened.
        if (status != QMediaPlayer::NoMedia && status != QMediaPlayer::LoadingMedia &&
            m_state != Playing) {
            m_round.start();
            report(Playing);
        }
        break;
    case QMediaPlayer::PausedState:
        report(Paused);
        break;
    case QMediaPlayer::StoppedState:
        // The backend stops first and reports the end after it, or the other
        // way round; either order makes one "ended, stopped" pair. Stops we
        // asked for are reported where they are asked for.
        if (status == QMediaPlayer::EndOfMedia && (m_state == Playing || m_state == Paused)) {
            // Started while the file was still being opened, the backend
            // sometimes ends it at once at 0 s. Played again, now that the
            // file is open, it plays whole; a few tries, then it counts as
            // an end like any other.
            if (m_round.elapsed() < m_player->duration() / 2 && m_restarts < MaxRestarts) {
                ++m_restarts;
                qCDebug(lcMedia) << "ended early; again from the start";
                m_round.start();
                // Not inside the backend's own signal.
                QMetaObject::invokeMethod(
                    this,
                    [this, source = m_player->source()] {
                        if (!m_unplayable && m_player->source() == source &&
                            m_player->mediaStatus() == QMediaPlayer::EndOfMedia) {
                            reopen();
                            m_player->play();
                        }
                    },
                    Qt::QueuedConnection);
                return;
            }
            m_restarts = 0;
            report(MediaEnded);
            // A window that answers "stopped" with play() would spin on a
            // file that ends as soon as it starts; such a file plays once.
            if (m_round.elapsed() < MinLoopRoundMs)
                giveUp();
            else
                report(Stopped);
        }
        break;
    }
}

void MediaPlayer::giveUp()
{
    if (m_unplayable)
        return;
    m_unplayable = true;
    m_player->stop();
    report(Ready);
}

void MediaPlayer::report(PlayState state)
{
    if (state == m_state)
        return;
    qCDebug(lcMedia) << "reports" << state;
    m_state = state;
    const bool outer = !m_reporting;
    m_reporting = true;
    emit playStateChanged(state);
    if (outer)
        m_reporting = false;
}
