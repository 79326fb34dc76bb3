// Fuzzes the reading of a skin file: whatever the bytes, a skin is refused
// or whole, and a skin taken names no file but the program's own resources.

#include "core/SkinFile.h"

#include <QByteArray>
#include <QRegularExpression>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char *what, const QByteArray &input)
{
    std::fprintf(stderr, "fuzz_skinfile: %s\ninput (%lld bytes): %s\n", what,
                 static_cast<long long>(input.size()),
                 input.left(600).toPercentEncoding(" /:;=.-_#@{}()[]\n").constData());
    std::abort();
}

constexpr const char *Required[] = {"window", "windowText", "base",      "text",
                                    "button", "buttonText", "highlight", "highlightedText"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const auto require = [&](bool holds, const char *what) {
        if (!holds)
            fail(what, input);
    };

    QString error;
    const auto skin = SkinFile::parse(input, &error);
    require(skin.has_value() == error.isEmpty(), "a refusal without a reason, or the reverse");
    if (!skin)
        return 0;

    require(SkinFile::hasMagic(input) && input.size() <= SkinFile::MaxSize,
            "a skin without the magic, or too large");
    for (const char *name : Required)
        require(!skin->colour(QString::fromLatin1(name)).isEmpty(), "a required colour missing");

    const QString sheet =
        skin->styleSheet([&skin](const QString &name) { return skin->colour(name); });
    require(!sheet.contains(u'\\'), "a backslash in a style taken");
    static const QRegularExpression url(QStringLiteral(R"(url\(\s*['"]?(.?.?))"),
                                        QRegularExpression::CaseInsensitiveOption);
    auto it = url.globalMatch(sheet);
    while (it.hasNext())
        require(it.next().capturedView(1) == u":/", "a style taken names a file of its own");

    const auto twice = SkinFile::parse(input);
    require(twice && twice->styleTemplate() == skin->styleTemplate() &&
                twice->name() == skin->name(),
            "the same bytes parsed differently");
    return 0;
}
