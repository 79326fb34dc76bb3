#include "ControlTable.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

namespace ControlTable {

void addColumns()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QRect>("place");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("shown");
}

void row(const char *name, const char *container, QRect place, const char *text, bool shown)
{
    QTest::newRow(name) << QString::fromUtf8(name) << QString::fromUtf8(container) << place
                        << QString::fromUtf8(text) << shown;
}

void check(const QWidget *window)
{
    QFETCH(QString, name);
    QFETCH(QString, container);
    QFETCH(QRect, place);
    QFETCH(QString, text);
    QFETCH(bool, shown);

    auto *control = window->findChild<QWidget *>(name);
    QVERIFY2(control, qPrintable(name));
    QCOMPARE(control->parentWidget()->objectName(), container);
    QCOMPARE(control->pos(), place.topLeft());
    if (place.width() > 0) {
        QCOMPARE(control->size(), place.size());
    } else {
        // Sized to its caption: the whole caption fits.
        QVERIFY(control->width() >= control->sizeHint().width());
        QVERIFY(control->height() >= control->sizeHint().height());
    }
    QCOMPARE(control->isVisible(), shown);

    if (auto *button = qobject_cast<QPushButton *>(control))
        QCOMPARE(button->text(), text);
    else if (auto *frame = qobject_cast<QGroupBox *>(control))
        QCOMPARE(frame->title(), text);
    else if (auto *label = qobject_cast<QLabel *>(control); label && label->pixmap().isNull())
        QCOMPARE(label->text(), text);
    else if (auto *combo = qobject_cast<QComboBox *>(control))
        QVERIFY(!combo->isEditable()); // picked from the list, never typed
}

void checkFixedWindow(const QWidget *window, const char *name, const char *title, QSize size,
                      bool minimisable)
{
    QCOMPARE(window->objectName(), QLatin1StringView(name));
    QCOMPARE(window->windowTitle(), QString::fromUtf8(title));
    QCOMPARE(window->size(), size);
    QCOMPARE(window->minimumSize(), size);
    QCOMPARE(window->maximumSize(), size);
    const Qt::WindowFlags flags = window->windowFlags();
    QCOMPARE(bool(flags & Qt::WindowMinimizeButtonHint), minimisable);
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
}

} // namespace ControlTable
