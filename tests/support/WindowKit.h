#pragma once

#include <QApplication>
#include <QImage>
#include <QList>
#include <QStringList>
#include <QTimer>

#include <functional>

class Form1;
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
    QString pageText;     // Text1

    static PanelSnapshot of(const Form1 &form);
    bool operator==(const PanelSnapshot &) const = default;
};

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
