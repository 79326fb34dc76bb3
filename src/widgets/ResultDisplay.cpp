#include "ResultDisplay.h"

#include <QAccessible>
#include <QLabel>

namespace {

constexpr PageParser::Aspect Aspects[] = {PageParser::Aspect::Overall, PageParser::Aspect::Love,
                                          PageParser::Aspect::Work, PageParser::Aspect::Finance};
// The stars at start-up: four of five.
constexpr int FirstLookStars = 4;

int rowOf(PageParser::Aspect aspect)
{
    return int(aspect) - int(PageParser::Aspect::Overall);
}

} // namespace

ResultDisplay::ResultDisplay(const Controls &controls, QObject *parent)
    : QObject(parent)
    , m_controls(controls)
{
    for (PageParser::Aspect aspect : Aspects) {
        for (QLabel *star : m_controls.starRows[rowOf(aspect)])
            star->setAccessibleName(QStringLiteral("星"));
        describeStars(aspect, FirstLookStars);
    }
}

void ResultDisplay::ticked()
{
    m_controls.welcome->hide();
}

void ResultDisplay::show(const SignInfo &sign, const FortuneReport &fortune)
{
    for (PageParser::Aspect aspect : Aspects)
        showStars(aspect, PageParser::starsOf(fortune, aspect));
    for (int i = 0; i < int(std::size(PageParser::Details)); ++i) {
        QLabel *label = m_controls.values[i];
        label->setText(PageParser::captionOf(fortune, PageParser::Details[i]));
        label->adjustSize();
    }
    m_controls.description->setText(fortune.description);
    // The label is named "运势描述"; what a screen reader should hear is the
    // text, which changed under the same name.
    QAccessibleEvent changed(m_controls.description, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&changed);

    m_controls.name->setText(sign.name.toString());
    m_controls.name->adjustSize();
    m_controls.dates->setText(sign.dateRange());
    m_controls.dates->adjustSize();
    m_controls.picture->setPixmap(m_controls.signPictures[SignTable::position(sign)]->pixmap());
}

void ResultDisplay::showStars(PageParser::Aspect aspect, int count)
{
    // 1 to 5 stars show from the left; none, or more than a row holds, hide
    // the row rather than leave another sign's stars standing.
    const int shown = count <= 5 ? count : 0;
    const auto &row = m_controls.starRows[rowOf(aspect)];
    for (int i = 0; i < 5; ++i)
        row[i]->setVisible(i < shown);
    describeStars(aspect, count);
}

void ResultDisplay::describeStars(PageParser::Aspect aspect, int count)
{
    QLabel *caption = m_controls.rowCaptions[rowOf(aspect)];
    QString name = caption->text();
    name.chop(1); // the full-width colon
    caption->setAccessibleName(name);
    caption->setAccessibleDescription(name + u" " + QString::number(count) + u" 颗星");
}
