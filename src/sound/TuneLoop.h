#pragma once

#include "SeamTrim.h"
#include "TuneDecoder.h"

#include <QAudioFormat>
#include <QObject>

#include <optional>

// The tune round and round: each round opens the file anew, and its first
// sample follows the last of the round before with nothing between. It
// decodes only as much as is read, in slices of a twentieth of a second.
class TuneLoop : public QObject
{
    Q_OBJECT
public:
    explicit TuneLoop(QString path);

    // Opens the first round; false where the file is not one to play.
    bool start();
    QAudioFormat format() const;

    // Up to maxSize bytes of 16-bit samples, whole frames.
    qint64 read(char *data, qint64 maxSize);
    // Once the last round has been read whole.
    bool atEnd() const;

signals:
    // A round has been handed over whole; whether another follows it. A
    // round too short to loop (a click, a file that ends at once) is not
    // followed, nor is one whose file can no longer be opened or decoded.
    void roundEnded(bool another);

private:
    void endRound(bool whole);

    QString m_path;
    TuneDecoder m_decoder;
    std::optional<SeamTrim> m_trim;
    QByteArray m_ready;      // decoded and trimmed, not taken yet
    qint64 m_roundBytes = 0; // of the round being decoded, once trimmed
    bool m_finished = false; // no round follows
};
