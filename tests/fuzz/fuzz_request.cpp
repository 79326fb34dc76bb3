// Fuzzes the service's reading of a request head: where the head ends (CR LF
// or bare LF lines), when it is refused at once, and the request made of it.
// The bytes are what a client sent so far.

#include "service/http/Request.h"

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

using http::Request;
using State = Request::HeadState;

[[noreturn]] void fail(const char *what, QByteArrayView input)
{
    std::fprintf(stderr, "fuzz_request: %s\ninput (%lld bytes): %s\n", what,
                 static_cast<long long>(input.size()),
                 input.first(std::min<qsizetype>(input.size(), 600))
                     .toByteArray()
                     .toPercentEncoding(" /:;=.-_")
                     .constData());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView input(data, static_cast<qsizetype>(size));
    const auto require = [&](bool holds, const char *what) {
        if (!holds)
            fail(what, input);
    };

    const Request::HeadScan scan = Request::scanHead(input);
    const Request::HeadScan again = Request::scanHead(input);
    require(scan.state == again.state && scan.headSize == again.headSize,
            "the same bytes scanned differently");
    // As they arrive in two parts: the second scan resumes where the first
    // stopped, and comes to the same verdict.
    const qsizetype cut = input.isEmpty() ? 0 : qsizetype(data[0]) % (input.size() + 1);
    const Request::HeadScan first = Request::scanHead(input.first(cut));
    if (first.state == State::Incomplete) {
        const Request::HeadScan resumed = Request::scanHead(input, first.resumeAt);
        require(resumed.state == scan.state && resumed.headSize == scan.headSize,
                "a scan resumed came to another verdict");
    }

    // More bytes never undo a verdict, and a blank line always ends a head.
    const QByteArray longer = input.toByteArray() + "\r\n\r\n\n";
    const Request::HeadScan later = Request::scanHead(longer);
    require(later.state != State::Incomplete, "a blank line did not end the head");
    if (scan.state != State::Incomplete)
        require(later.state == scan.state && later.headSize == scan.headSize,
                "more bytes changed the verdict");

    switch (scan.state) {
    case State::Complete: {
        require(scan.headSize > 0 && scan.headSize < input.size(), "head size out of the bytes");
        // The server takes what follows the blank line for the next request.
        const qsizetype blankEnd = input.indexOf('\n', scan.headSize);
        require(blankEnd == scan.headSize ||
                    (blankEnd == scan.headSize + 1 && input[scan.headSize] == '\r'),
                "the head does not end with its blank line");
        const auto request = Request::fromHead(input.first(scan.headSize).toByteArray());
        require(request.has_value(), "a complete head made no request");
        require(!request->method.isEmpty() && !request->target.isEmpty(),
                "a request without method or target");
        require(!request->target.contains(' ') && !request->method.contains(' '),
                "a space inside the method or the target");
        require(request->path().size() <= request->target.size(), "path longer than the target");
        for (const auto &[name, value] : request->headers)
            require(!name.isEmpty() && !name.contains('\n') && !value.contains('\n'),
                    "a header with a line break");
        break;
    }
    case State::Malformed: {
        // Refused on the first line alone.
        const qsizetype lineEnd = input.indexOf('\n');
        require(lineEnd >= 0, "refused before the first line ended");
        require(!Request::isRequestLine(input.first(lineEnd)), "a request line refused");
        break;
    }
    case State::Incomplete:
        require(!input.contains('\n') || Request::isRequestLine(input.first(input.indexOf('\n'))),
                "a bad first line left waiting");
        break;
    }
    return 0;
}
