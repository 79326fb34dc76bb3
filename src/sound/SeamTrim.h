#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Where one round of the tune meets the next. An MP3 encoder pads a file
// with silence at both ends (some 25 ms before the music, up to a frame
// after it), which a loop plays as a gap. libmpg123 drops it by itself where
// the file says how long it is (a LAME tag); where it does not, as in the
// files sox writes, the quiet at both ends of each round is dropped here, at
// most a tenth of a second at either end.
class SeamTrim
{
public:
    // For 16-bit samples, interleaved.
    SeamTrim(int channels, int sampleRate);

    // The next samples of the round, whole frames; returns what is to play
    // now. Quiet at the round's start is dropped, and quiet that may turn
    // out to be its end is held back.
    QByteArray pass(QByteArrayView samples);
    // The round has ended: the quiet held back is dropped, and the next
    // round's start is trimmed again.
    void endRound();

private:
    bool quiet(const char *frame) const;

    qsizetype m_frameBytes;
    qsizetype m_limitBytes;
    bool m_atStart = true;
    qsizetype m_droppedAtStart = 0;
    QByteArray m_held;
};
