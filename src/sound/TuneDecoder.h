#pragma once

#include <QString>

#include <memory>

struct mpg123_handle_struct;

// One round of the tune: the file opened anew and decoded by libmpg123 to
// 16-bit samples, as the sound output takes them.
class TuneDecoder
{
public:
    TuneDecoder();
    ~TuneDecoder();
    TuneDecoder(const TuneDecoder &) = delete;
    TuneDecoder &operator=(const TuneDecoder &) = delete;

    // Only a regular file of the running user's or root's, as the file
    // opened shows it, not its name (which may change meanwhile): a named
    // pipe would hold the reader for good, and a file someone else left in
    // a folder others may write to is theirs to choose. A link is not
    // followed. False also when no MP3 stream starts in it.
    bool open(const QString &path);
    void close();

    int sampleRate() const { return m_rate; }
    int channels() const { return m_channels; }

    // Up to maxBytes of whole frames; 0 at the end of the round, -1 where
    // the stream breaks or changes its format.
    qint64 read(char *data, qint64 maxBytes);

private:
    struct Handle
    {
        void operator()(mpg123_handle_struct *handle) const;
    };
    std::unique_ptr<mpg123_handle_struct, Handle> m_handle;
    int m_fd = -1;
    int m_rate = 0;
    int m_channels = 0;
};
