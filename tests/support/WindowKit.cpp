#include "WindowKit.h"

#include "app/MainWindow.h"
#include "core/QueryFlow.h"

#include <QComboBox>
#include <QLabel>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>

PanelSnapshot PanelSnapshot::of(const MainWindow &form)
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

MainWindowFixture::MainWindowFixture(const QUrl &base)
{
    if (!base.isEmpty())
        environment.endpoints = Endpoints::onLocalService(base);
}

bool MainWindowFixture::serve(httpkit::Handler handler)
{
    m_server = std::make_unique<httpkit::Server>(std::move(handler));
    if (!m_server->listen())
        return false;
    environment.endpoints = Endpoints::onLocalService(m_server->baseUrl());
    return true;
}

void MainWindowFixture::useOwnAppDir()
{
    m_appDir = std::make_unique<QTemporaryDir>();
    environment.appDir = m_appDir->path();
}

MainWindow *MainWindowFixture::create()
{
    m_form = std::make_unique<MainWindow>(environment);
    return m_form.get();
}

MainWindow *MainWindowFixture::open(Wait until)
{
    create();
    control<QTimer>("Timer3")->stop();
    m_form->show();
    if (until == Wait::Exposed && !QTest::qWaitForWindowExposed(m_form.get()))
        return nullptr;
    if (until == Wait::Active && !QTest::qWaitForWindowActive(m_form.get()))
        return nullptr;
    return m_form.get();
}

void MainWindowFixture::close()
{
    m_form.reset();
    m_server.reset();
    m_appDir.reset();
}

void pickRow(QComboBox *combo, int index)
{
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

QueryFlow *flowOf(const MainWindow &form)
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
