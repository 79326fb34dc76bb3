#pragma once

#include "HttpServer.h"
#include "TestPages.h"

#include <QRandomGenerator>

struct SignInfo;

// A fortune site that is slow or broken at random, for the random-action
// tests: each sign's own page for the day asked (TestPages::ownPage), after
// up to maxDelayMs; one answer in five a 404, an empty page, a reset or
// silence. Seeded from ZHIWEI_RANDOM_SEED when set, so a run can be replayed;
// the seed is printed either way.
class RandomSite
{
public:
    explicit RandomSite(int maxDelayMs);

    quint32 seed() const { return m_seed; }
    QRandomGenerator &random() { return m_random; }
    httpkit::Response answer(const httpkit::Request &request);

    static PageSpec pageOf(const SignInfo &sign, bool tomorrow);

private:
    int m_maxDelayMs;
    quint32 m_seed;
    QRandomGenerator m_random;
};
