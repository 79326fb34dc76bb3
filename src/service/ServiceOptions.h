#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>
#include <variant>

// What the service is told on its command line, checked. The executable
// prints a refusal after its name and exits 1.
struct ServiceOptions
{
    // Where it listens: a TCP port on 127.0.0.1 (0: any free one) or a Unix
    // socket; neither given, the person's own socket (LocalService).
    std::optional<quint16> port;
    std::optional<QString> socket;
    // The socket systemd makes for every user, which --probe checks first.
    QString systemSocket;
    // Only say who answers there; nothing past the place is looked at then.
    bool probe = false;
    QByteArray charset;
    QByteArray notice; // from --notice, or read from --notice-file
    int delayMs = 0;
    std::chrono::milliseconds headDeadline{};
    std::optional<QDate> date;
    std::optional<QString> portFile;
    int idleSeconds = 0;

    // The options in `arguments` (the program's own name first), or why they
    // are refused. Checks go in a fixed order and the first refusal is the
    // one told. --help, --help-all and --version print and end the program
    // here, as Qt's parser does.
    static std::variant<ServiceOptions, QString> parse(const QStringList &arguments);
};
