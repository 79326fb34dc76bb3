#include "WindowKit.h"

#include "app/Form1.h"
#include "core/QueryFlow.h"

#include <QComboBox>
#include <QLabel>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>

PanelSnapshot PanelSnapshot::of(const Form1 &form)
{
    PanelSnapshot state;
    const auto label = [&form](const QString &name) { return form.findChild<QLabel *>(name); };
    for (int i = 5; i <= 12; ++i)
        state.captions << label(QStringLiteral("Label%1").arg(i))->text();
    for (int number : StarImages)
        state.stars << label(QStringLiteral("Image%1").arg(number))->isVisible();
    state.picture = label(QStringLiteral("Image21"))->pixmap().toImage();
    state.pageText = form.findChild<QueryFlow *>()->page();
    return state;
}

Form1::Environment testEnvironment(const QUrl &base)
{
    Form1::Environment environment;
    environment.endpoints = Endpoints::onLocalService(base);
    return environment;
}

Form1 *openMainWindow(const Form1::Environment &environment)
{
    auto form = std::make_unique<Form1>(environment);
    form->findChild<QTimer *>(QStringLiteral("Timer3"))->stop();
    form->show();
    if (!QTest::qWaitForWindowExposed(form.get()))
        return nullptr;
    return form.release();
}

void pickRow(QComboBox *combo, int index)
{
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

QueryFlow *flowOf(const Form1 &form)
{
    return form.findChild<QueryFlow *>();
}

double processorSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}
