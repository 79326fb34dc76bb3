#include "TuneLoop.h"

#include <array>

namespace {

// Shorter rounds are not looped: real music is longer, and a loop this
// fast would only reopen the file over and over.
constexpr qint64 MinRoundMs = 250;
// About a twentieth of a second of CD-quality stereo.
constexpr qint64 SliceBytes = 8192;

} // namespace

TuneLoop::TuneLoop(QString path)
    : m_path(std::move(path))
{}

bool TuneLoop::start()
{
    if (!m_decoder.open(m_path))
        return false;
    m_trim.emplace(m_decoder.channels(), m_decoder.sampleRate());
    return true;
}

QAudioFormat TuneLoop::format() const
{
    QAudioFormat format;
    format.setSampleRate(m_decoder.sampleRate());
    format.setChannelCount(m_decoder.channels());
    format.setSampleFormat(QAudioFormat::Int16);
    return format;
}

bool TuneLoop::atEnd() const
{
    return m_finished && m_ready.isEmpty();
}

qint64 TuneLoop::read(char *data, qint64 maxSize)
{
    maxSize -= maxSize % format().bytesPerFrame();
    std::array<char, SliceBytes> slice;
    while (m_ready.size() < maxSize && !m_finished) {
        const qint64 decoded = m_decoder.read(slice.data(), qMin(maxSize, SliceBytes));
        if (decoded <= 0) {
            endRound(decoded == 0);
            continue;
        }
        const QByteArray play = m_trim->pass(QByteArrayView(slice.data(), decoded));
        m_roundBytes += play.size();
        m_ready += play;
    }
    const qint64 taken = qMin(maxSize, qint64(m_ready.size()));
    std::copy_n(m_ready.constData(), taken, data);
    m_ready.remove(0, taken);
    return taken;
}

void TuneLoop::endRound(bool whole)
{
    m_trim->endRound();
    const QAudioFormat played = format();
    const bool longEnough = m_roundBytes >= played.bytesForDuration(MinRoundMs * 1000);
    m_roundBytes = 0;
    // Straight on from the file as it is now, in the output's format, or not at all.
    const bool another = whole && longEnough && m_decoder.open(m_path) && format() == played;
    if (!another) {
        m_decoder.close();
        m_finished = true;
    }
    emit roundEnded(another);
}
