#include "MediaPlayer.h"

#include "TuneLoop.h"
#include "TunePlayback.h"

#include <QAudioDevice>
#include <QMediaDevices>

namespace {

QtMessageHandler passedOn = nullptr;

// Where the program names no media backend (see main()), Qt says so once, as
// the first sound device is looked up: as meant, not for the terminal.
void withoutBackendNotice(QtMsgType type, const QMessageLogContext &context,
                          const QString &message)
{
    if (!message.startsWith(u"No QtMultimedia backends found"))
        passedOn(type, context, message);
}

bool hasSoundOutput()
{
    passedOn = qInstallMessageHandler(withoutBackendNotice);
    const bool has = !QMediaDevices::defaultAudioOutput().isNull();
    qInstallMessageHandler(passedOn);
    return has;
}

} // namespace

MediaPlayer::MediaPlayer(QObject *parent)
    : QObject(parent)
{
    m_soundThread.setObjectName(QStringLiteral("zhiwei-sound"));
}

MediaPlayer::~MediaPlayer()
{
    silence();
    // The playback is deleted on its own thread as the thread ends.
    m_soundThread.quit();
    m_soundThread.wait();
}

void MediaPlayer::setSource(const QString &path)
{
    silence();
    const int current = ++m_path;
    m_source = path;
    if (path.isEmpty()) {
        report(Stopped);
        return;
    }
    report(Transitioning);
    // Opened here, to say at once what is not to be played: a check of the
    // file and its first frame.
    auto tune = std::make_unique<TuneLoop>(path);
    // Without a device Qt would say so on the terminal.
    if (!tune->start() || !hasSoundOutput()) {
        report(Ready);
        return;
    }
    m_playback = new TunePlayback(std::move(tune), Volume);
    // Reports still on their way about an earlier path are dropped.
    connect(m_playback, &TunePlayback::playing, this, [this, current] {
        if (current == m_path)
            report(Playing);
    });
    connect(m_playback, &TunePlayback::roundEnded, this, [this, current](bool another) {
        if (current != m_path)
            return;
        report(MediaEnded);
        if (another)
            report(Playing);
    });
    connect(m_playback, &TunePlayback::finished, this, [this, current] {
        if (current != m_path)
            return;
        silence();
        report(Ready);
    });
    if (!m_soundThread.isRunning())
        m_soundThread.start();
    m_playback->moveToThread(&m_soundThread);
    QMetaObject::invokeMethod(m_playback, &TunePlayback::start, Qt::QueuedConnection);
}

void MediaPlayer::silence()
{
    if (!m_playback)
        return;
    disconnect(m_playback, nullptr, this, nullptr);
    m_playback->deleteLater();
    m_playback = nullptr;
}

void MediaPlayer::report(PlayState state)
{
    if (state == m_state)
        return;
    m_state = state;
    emit playStateChanged(state);
}
