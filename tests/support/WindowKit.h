#pragma once

#include "app/Form1.h"

#include <QApplication>
#include <QImage>
#include <QList>
#include <QStringList>
#include <QTimer>

#include <functional>

class QComboBox;
class QueryFlow;

// The twenty star images, row by row (综合, 爱情, 工作, 理财), each row from the left.
constexpr int StarImages[] = {1,  2,  3,  4,  5,  10, 9,  8,  7,  6,
                              15, 14, 13, 12, 11, 20, 19, 18, 17, 16};

// What the fortune panel of a main window shows, to compare before and after.
struct PanelSnapshot
{
    QStringList captions; // Label5 .. Label12
    QList<bool> stars;    // the twenty stars, row by row, left to right
    QImage picture;       // Image21
    QString pageText;     // the last page stored

    static PanelSnapshot of(const Form1 &form);
    bool operator==(const PanelSnapshot &) const = default;
};

// The main window's environment for a test: every address on the test's own
// server at base; the rest as the program has it.
Form1::Environment testEnvironment(const QUrl &base);

// The main window as the tests open it: with no version check (its
// one-second tick stopped), shown, and on screen when it returns; null if it
// never came up. The caller owns it.
Form1 *openMainWindow(const Form1::Environment &environment);

// A control of a window by its written name.
template <typename T = QWidget> T *controlOf(const QObject *window, const char *name)
{
    return window->findChild<T *>(QLatin1String(name));
}

// Picks a row of a combo box as a click on its open list does.
void pickRow(QComboBox *combo, int index);

// The window's query flow, whose signals tell when a query ends.
QueryFlow *flowOf(const Form1 &form);

// Runs `act` on the modal dialog of type T as soon as it is up. Polls from a
// timer, so it works whichever event loop shows the dialog.
template <typename T> void whenModal(QObject *context, std::function<void(T *)> act)
{
    auto *poll = new QTimer(context);
    QObject::connect(poll, &QTimer::timeout, context, [poll, act] {
        if (auto *dialog = qobject_cast<T *>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            act(dialog);
        }
    });
    poll->start(10);
}

// Processor time this process has used so far, user and system, in seconds.
double processorSeconds();
