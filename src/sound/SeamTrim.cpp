#include "SeamTrim.h"

#include <QtEndian>

#include <cstdlib>
#include <utility>

namespace {

// Below -60 dBFS: what the encoder's padding decodes to, far under any music.
constexpr int QuietLevel = 32;
constexpr int LimitMs = 100;

} // namespace

SeamTrim::SeamTrim(int channels, int sampleRate)
    : m_frameBytes(qsizetype(channels) * 2)
    , m_limitBytes(qsizetype(sampleRate) * LimitMs / 1000 * m_frameBytes)
{}

bool SeamTrim::quiet(const char *frame) const
{
    for (qsizetype at = 0; at < m_frameBytes; at += 2) {
        if (std::abs(int(qFromUnaligned<qint16>(frame + at))) > QuietLevel)
            return false;
    }
    return true;
}

QByteArray SeamTrim::pass(QByteArrayView samples)
{
    const char *data = samples.data();
    const qsizetype end = samples.size() - samples.size() % m_frameBytes;
    qsizetype from = 0;
    if (m_atStart) {
        while (from < end && m_droppedAtStart < m_limitBytes && quiet(data + from)) {
            from += m_frameBytes;
            m_droppedAtStart += m_frameBytes;
        }
        m_atStart = from == end && m_droppedAtStart < m_limitBytes;
    }
    qsizetype loudEnd = end;
    while (loudEnd > from && quiet(data + loudEnd - m_frameBytes))
        loudEnd -= m_frameBytes;

    QByteArray play;
    if (loudEnd > from) {
        play = std::exchange(m_held, samples.sliced(loudEnd, end - loudEnd).toByteArray());
        play.append(samples.sliced(from, loudEnd - from));
    } else {
        m_held.append(samples.sliced(from, end - from));
    }
    // Longer quiet than any padding is the tune's own.
    if (m_held.size() > m_limitBytes) {
        const qsizetype excess = m_held.size() - m_limitBytes;
        play += m_held.first(excess);
        m_held.remove(0, excess);
    }
    return play;
}

void SeamTrim::endRound()
{
    m_held.clear();
    m_atStart = true;
    m_droppedAtStart = 0;
}
