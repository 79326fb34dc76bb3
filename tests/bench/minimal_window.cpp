// The floor for any Qt Widgets program: one window, shown. Built again as
// minimal_sound, it also plays a tune round and round: through Qt's media
// player (a media framework decoding the file), or through Qt's own sound
// output fed a tone, with nothing to decode. tools/measure.sh puts 知微阁
// beside them.
//   minimal_window
//   minimal_sound player FILE | sink
#include <QApplication>
#include <QWidget>

#ifdef ZHIWEI_MINIMAL_SOUND
#include <QAudioOutput>
#include <QAudioSink>
#include <QMediaPlayer>
#include <QUrl>
#include <QtMath>

#include <memory>

namespace {

// A 440 Hz tone, as much as is asked for.
class Tone : public QIODevice
{
public:
    Tone() { open(QIODevice::ReadOnly | QIODevice::Unbuffered); }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 size) override
    {
        auto *samples = reinterpret_cast<qint16 *>(data);
        for (qint64 i = 0; i < size / 4; ++i, ++m_frame) {
            const auto value = qint16(8000 * qSin(2 * M_PI * 440 * double(m_frame) / 44100));
            samples[2 * i] = samples[2 * i + 1] = value;
        }
        return size / 4 * 4;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    qint64 m_frame = 0;
};

} // namespace
#endif

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("minimal"));
    window.resize(599, 392);
    window.show();
#ifdef ZHIWEI_MINIMAL_SOUND
    // Only what the mode asks for is made: each loads parts of its own.
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    std::unique_ptr<QAudioOutput> output;
    std::unique_ptr<QMediaPlayer> player;
    Tone tone;
    std::unique_ptr<QAudioSink> sink;
    if (mode == u"player" && argc > 2) {
        output = std::make_unique<QAudioOutput>();
        player = std::make_unique<QMediaPlayer>();
        player->setAudioOutput(output.get());
        player->setLoops(QMediaPlayer::Infinite);
        player->setSource(QUrl::fromLocalFile(QString::fromLocal8Bit(argv[2])));
        player->play();
    } else if (mode == u"sink") {
        QAudioFormat format;
        format.setSampleRate(44100);
        format.setChannelCount(2);
        format.setSampleFormat(QAudioFormat::Int16);
        sink = std::make_unique<QAudioSink>(format);
        sink->start(&tone);
    } else {
        return 2;
    }
#endif
    return QApplication::exec();
}
