#include "TunePlayback.h"

#include "TuneLoop.h"

#include <QAudioSink>
#include <QTimer>

namespace {

// The output holds half a second; it is filled again every fifth of a
// second, so a thread held up for a quarter of a second still plays on.
constexpr qint64 BufferUs = 500'000;
constexpr int FeedMs = 200;

} // namespace

TunePlayback::TunePlayback(std::unique_ptr<TuneLoop> tune, float volume)
    : m_volume(volume)
    , m_tune(tune.release())
    , m_feeder(new QTimer(this))
{
    m_tune->setParent(this);
    connect(m_tune, &TuneLoop::roundEnded, this, &TunePlayback::roundEnded);
    m_feeder->setInterval(FeedMs);
    connect(m_feeder, &QTimer::timeout, this, &TunePlayback::feed);
}

TunePlayback::~TunePlayback()
{
    // Qt's output handles events as it closes (Qt 6.4): no feeding, and its
    // reports still on their way find no output. Closed without stop(),
    // which would wait for the buffered sound to play out.
    m_feeder->stop();
    if (m_output)
        disconnect(m_output.get(), nullptr, this, nullptr);
    m_output.reset();
}

void TunePlayback::start()
{
    m_output = std::make_unique<QAudioSink>(m_tune->format());
    m_output->setVolume(m_volume);
    m_output->setBufferSize(m_tune->format().bytesForDuration(BufferUs));
    // Queued: the output reports from inside its own calls.
    connect(m_output.get(), &QAudioSink::stateChanged, this, &TunePlayback::followOutput,
            Qt::QueuedConnection);
    m_input = m_output->start();
    if (!m_input || m_output->error() != QAudio::NoError) {
        emit finished();
        return;
    }
    feed();
    m_feeder->start();
}

void TunePlayback::feed()
{
    const qsizetype frame = m_tune->format().bytesPerFrame();
    const qsizetype room = m_output->bytesFree() / frame * frame;
    if (m_pending.size() < room && !m_ended) {
        const qsizetype had = m_pending.size();
        m_pending.resize(room);
        const qint64 decoded = m_tune->read(m_pending.data() + had, room - had);
        m_pending.resize(had + qMax<qint64>(decoded, 0));
        // Silence after the last round, so that the output starts even for a
        // sound shorter than its buffer, plays it out and runs dry.
        if (m_tune->atEnd()) {
            m_pending.resize(room, '\0');
            m_ended = true;
        }
    }
    const qint64 written = m_pending.isEmpty() ? 0 : m_input->write(m_pending);
    m_pending.remove(0, qMax<qint64>(written, 0));
    if (m_ended && m_pending.isEmpty())
        m_feeder->stop();
}

void TunePlayback::followOutput()
{
    // A report posted before the output began to close.
    if (!m_output)
        return;
    switch (m_output->state()) {
    case QAudio::ActiveState:
        emit playing();
        break;
    case QAudio::IdleState:
        // Run dry: for a moment, or for good once the tune has ended.
        if (m_ended && m_pending.isEmpty())
            emit finished();
        break;
    case QAudio::StoppedState:
        if (m_output->error() != QAudio::NoError)
            emit finished();
        break;
    case QAudio::SuspendedState:
        break;
    }
}
