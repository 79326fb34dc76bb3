#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QNetworkAccessManager>
#include <QNetworkReply>

// One HTTP/1.1 GET or HEAD over a Unix socket, for Qt versions whose
// network manager cannot reach one (before 6.8; built only for those). It
// behaves as Qt's HTTP replies do: the same signals in the same order, the
// same errors, the read buffer size honoured, so the code above it is the
// same with either.
//
// The offline service answers plainly: a head of bounded size, the body by
// Content-Length or until it closes, no transfer or content coding.
class LocalHttpReply : public QNetworkReply
{
    Q_OBJECT
public:
    // Status line, headers and any interim answers together.
    static constexpr qsizetype HeadLimit = 64 * 1024;

    LocalHttpReply(QNetworkAccessManager::Operation op, const QNetworkRequest &request,
                   const QString &socketPath, QObject *parent = nullptr);
    ~LocalHttpReply() override;

    void abort() override;
    qint64 bytesAvailable() const override;
    bool isSequential() const override { return true; }
    void setReadBufferSize(qint64 size) override;

protected:
    qint64 readData(char *data, qint64 maxSize) override;

private:
    enum class Stage { Connecting, Head, Body, Done };

    void begin(QNetworkAccessManager::Operation op, const QNetworkRequest &request);
    void connectTo(const QString &socketPath);
    void sendRequest();
    void onSocketError(QLocalSocket::LocalSocketError error);
    void pump();
    void schedulePump();
    void readHead();
    bool takeHead(const QByteArray &head);
    void readBody(qint64 fresh);
    void fail(NetworkError error, const QString &why);
    void succeed();
    void end();
    void dropSocket();

    QLocalSocket *m_socket = nullptr;
    QString m_socketPath;
    Stage m_stage = Stage::Connecting;
    QByteArray m_head;         // the head read so far
    qsizetype m_scanned = 0;   // of m_head, searched for its end
    qsizetype m_headBytes = 0; // of interim answers already taken
    QByteArray m_buffer;       // body bytes the reader has not taken
    qint64 m_length = -1;      // of the body, when announced
    qint64 m_received = 0;
    QElapsedTimer m_sinceProgress;
    bool m_pumpQueued = false;
};
