#pragma once

#include <QString>

// Fortune pages in the site's layout, built to order for the tests.
struct PageSpec
{
    int overall = 3;
    int love = 2;
    int work = 4;
    int finance = 5;
    QString health = QStringLiteral("85%");
    QString negotiation = QStringLiteral("70%");
    QString colour = QStringLiteral("红色");
    QString number = QStringLiteral("7");
    QString matching = QStringLiteral("天秤座");
    QString description = QStringLiteral("今天适合学习。");
    int sections = 9; // how many <h4> sections the page has (0..9)
    bool withDescription = true;
};

namespace TestPages {

QString page(const PageSpec &spec = {});

// A page that is one sign's own for one day: its numbers and words name the
// sign and the day, so a panel that mixes two signs or two days cannot go
// unnoticed. index, slug and name are the sign's.
PageSpec ownPage(int index, const QString &slug, const QString &name, bool tomorrow);

} // namespace TestPages
