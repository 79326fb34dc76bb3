#include "WindowKit.h"

#include "app/Form1.h"
#include "fortune/QueryFlow.h"

#include <QLabel>

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
