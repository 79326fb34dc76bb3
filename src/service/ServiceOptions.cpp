#include "ServiceOptions.h"

#include "FortuneService.h"

#include "net/LocalService.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QFile>

#include <limits>
#include <type_traits>

namespace {

// How a value that will not do is refused, the same for every option.
QString refusal(const QCommandLineParser &parser, const QCommandLineOption &option,
                QStringView wants)
{
    return u"--" + option.names().constFirst() + u" wants " + wants + u", not \"" +
           parser.value(option) + u'"';
}

// The option's value as a number from `low` up to what `number` holds; false,
// with the refusal, for anything else. An unsigned `number` is read unsigned:
// "-0" is refused as a port but taken as no delay, as it always was.
template <typename Number>
bool readNumber(const QCommandLineParser &parser, const QCommandLineOption &option, qint64 low,
                QStringView wants, Number &number, QString &refused)
{
    bool ok = false;
    const QString text = parser.value(option);
    const qint64 value =
        std::is_signed_v<Number> ? qint64(text.toInt(&ok)) : qint64(text.toUInt(&ok));
    if (!ok || value < low || value > std::numeric_limits<Number>::max()) {
        refused = refusal(parser, option, wants);
        return false;
    }
    number = Number(value);
    return true;
}

} // namespace

std::variant<ServiceOptions, QString> ServiceOptions::parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Serves daily fortune pages, the version notice and the forum pages on "
                       "a Unix socket of this user (or a port of 127.0.0.1), so the program "
                       "works with no internet."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("Listen on this port of 127.0.0.1 instead of a Unix socket; 0 takes any "
                       "free port. Unused when systemd hands over a socket."),
        QStringLiteral("N"));
    const QCommandLineOption socketOption(
        QStringLiteral("socket"),
        QStringLiteral("Listen on a Unix socket at this path instead of the user's own "
                       "($XDG_RUNTIME_DIR/zhiweige/fortune.sock where that runtime folder is "
                       "the user's, mode 0700; else /tmp/zhiweige-<uid>/fortune.sock). Its "
                       "folder must exist, be the user's and not a link; it is left as it is. "
                       "Unused when systemd hands over a socket."),
        QStringLiteral("PATH"));
    const QCommandLineOption systemSocketOption(
        QStringLiteral("system-socket"),
        QStringLiteral("The socket systemd makes for every user, which --probe checks where "
                       "the user's own service does not answer."),
        QStringLiteral("PATH"), LocalService::systemSocket());
    const QCommandLineOption charsetOption(QStringLiteral("charset"),
                                           QStringLiteral("Charset of the pages: utf-8 or gbk."),
                                           QStringLiteral("NAME"), QStringLiteral("utf-8"));
    const QCommandLineOption noticeOption(QStringLiteral("notice"),
                                          QStringLiteral("Body of the version notice (jc.txt)."),
                                          QStringLiteral("TEXT"), QStringLiteral("V2"));
    const QCommandLineOption noticeFileOption(
        QStringLiteral("notice-file"),
        QStringLiteral("Take the body of the version notice from this file, byte for byte."),
        QStringLiteral("PATH"));
    const QCommandLineOption delayOption(QStringLiteral("delay-ms"),
                                         QStringLiteral("Wait this long before every answer."),
                                         QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption headDeadlineOption(
        QStringLiteral("head-deadline-ms"),
        QStringLiteral("Close a connection whose request head has not come whole after this "
                       "long."),
        QStringLiteral("N"), QString::number(http::Server::DefaultHeadDeadline.count()));
    const QCommandLineOption dateOption(QStringLiteral("date"),
                                        QStringLiteral("Pretend today is this day."),
                                        QStringLiteral("YYYYMMDD"));
    const QCommandLineOption portFileOption(
        QStringLiteral("port-file"),
        QStringLiteral("Write the port number to this file once listening on a port."),
        QStringLiteral("PATH"));
    const QCommandLineOption idleOption(
        QStringLiteral("idle-exit"),
        QStringLiteral("End after this many seconds without a request, once no copy of the "
                       "program beside this service runs; 0 never ends."),
        QStringLiteral("SECONDS"), QStringLiteral("0"));
    const QCommandLineOption backgroundOption(
        QStringLiteral("background"),
        QStringLiteral("Go on in the background once listening; exit 0 then, or 1 and why."));
    const QCommandLineOption probeOption(
        QStringLiteral("probe"),
        QStringLiteral("Only say who answers on the socket the program would use (the "
                       "user's own where his service answers, else the system's where "
                       "something serves behind it, else the user's own), or on --socket or "
                       "--port: exit 0 for this service, 1 for nothing, 2 for another program "
                       "or one that hangs up, 3 for no answer in time."));
    parser.addOptions({portOption, socketOption, systemSocketOption, charsetOption, noticeOption,
                       noticeFileOption, delayOption, headDeadlineOption, dateOption,
                       portFileOption, idleOption, backgroundOption, probeOption});
    if (!parser.parse(arguments))
        return parser.errorText();
    // The arguments parse, so this only prints the help or the version, and
    // ends the program, when one of them is asked for.
    parser.process(arguments);

    ServiceOptions options;
    QString refused;
    if (parser.isSet(portOption) && parser.isSet(socketOption))
        return QStringLiteral("give --port or --socket, not both");
    if (parser.isSet(portOption)) {
        quint16 port = 0;
        if (!readNumber(parser, portOption, 0, u"a number from 0 to 65535", port, refused))
            return refused;
        options.port = port;
    }
    if (parser.isSet(socketOption)) {
        options.socket = parser.value(socketOption);
        if (!options.socket->startsWith(u'/'))
            return refusal(parser, socketOption, u"an absolute path");
    }
    options.systemSocket = parser.value(systemSocketOption);
    options.probe = parser.isSet(probeOption);
    if (options.probe)
        return options;

    options.charset = FortuneService::charsetName(parser.value(charsetOption).toLatin1());
    if (options.charset.isEmpty())
        return refusal(parser, charsetOption, u"utf-8 or gbk");

    if (parser.isSet(noticeFileOption)) {
        if (parser.isSet(noticeOption))
            return QStringLiteral("give --notice or --notice-file, not both");
        QFile file(parser.value(noticeFileOption));
        if (!file.open(QIODevice::ReadOnly))
            return QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString());
        options.notice = file.readAll();
    } else {
        options.notice = parser.value(noticeOption).toUtf8();
    }

    const QStringView milliseconds = u"a number of milliseconds";
    if (!readNumber(parser, delayOption, 0, milliseconds, options.delayMs, refused))
        return refused;
    int headDeadlineMs = 0;
    if (!readNumber(parser, headDeadlineOption, 1, milliseconds, headDeadlineMs, refused))
        return refused;
    options.headDeadline = std::chrono::milliseconds(headDeadlineMs);

    if (parser.isSet(dateOption)) {
        const QString text = parser.value(dateOption);
        const QDate date = QDate::fromString(text, QStringLiteral("yyyyMMdd"));
        if (text.size() != 8 || !date.isValid())
            return refusal(parser, dateOption, u"a day as YYYYMMDD");
        options.date = date;
    }

    if (!readNumber(parser, idleOption, 0, u"a number of seconds", options.idleSeconds, refused))
        return refused;
    if (parser.isSet(portFileOption)) {
        if (options.socket)
            return QStringLiteral("--port-file goes with a port, not with --socket");
        options.portFile = parser.value(portFileOption);
    }
    return options;
}
