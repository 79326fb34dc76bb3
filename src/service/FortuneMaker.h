#pragma once

#include <QDate>
#include <QString>
#include <QStringView>

#include <array>
#include <cstddef>

// The fortunes the offline site makes up. A sign's fortune for a day comes
// from dice seeded by the sign's slug and the day, so it is the same on every
// run and every machine; the pages only dress it in markup.
namespace FortuneMaker {

// splitmix64: tiny, fast and the same on every machine, which is all a made-up
// horoscope needs.
class Dice
{
public:
    explicit Dice(quint64 seed)
        : m_state(seed)
    {}

    static quint64 mix(quint64 z)
    {
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    quint64 next() { return mix(m_state += 0x9E3779B97F4A7C15ull); }
    int below(int n) { return int(next() % quint64(n)); }
    int between(int low, int high) { return low + below(high - low + 1); }

    template <typename T, std::size_t N> const T &pick(const T (&items)[N])
    {
        return items[below(int(N))];
    }

private:
    quint64 m_state;
};

// The seed of a sign's day; the pages roll their own clutter from it too.
quint64 seedFor(QStringView slug, QDate date);

struct Fortune
{
    std::array<int, 4> stars{}; // overall, love, work, money
    int health = 0;
    int negotiation = 0;
    QStringView colour;
    int number = 0;
    QStringView matching;
    QStringView direction;
    std::array<QStringView, 4> lines; // work, love, money, health
    QStringView advice;
    QString description;
};

// A slug the site does not know gets a fortune too; only its matching sign
// may then be any of the twelve.
Fortune fortuneFor(QStringView slug, QDate date);

} // namespace FortuneMaker
