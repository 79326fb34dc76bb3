#include "Prompt.h"

#include <QMessageBox>
#include <QPushButton>

namespace Prompt {
namespace {

Responder &responder()
{
    static Responder current;
    return current;
}

QMessageBox::StandardButtons buttonsFor(Buttons buttons)
{
    switch (buttons) {
    case Buttons::Ok:
        return QMessageBox::Ok;
    case Buttons::YesNo:
        return QMessageBox::Yes | QMessageBox::No;
    case Buttons::YesNoCancel:
        return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

QMessageBox::StandardButton escapeFor(Buttons buttons)
{
    switch (buttons) {
    case Buttons::Ok:
        return QMessageBox::Ok;
    case Buttons::YesNo:
        return QMessageBox::No;
    case Buttons::YesNoCancel:
        return QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

Answer answerFor(int button, Buttons buttons)
{
    switch (button) {
    case QMessageBox::Ok:
        return Answer::Ok;
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    case QMessageBox::Cancel:
        return Answer::Cancel;
    default:
        return answerFor(escapeFor(buttons), buttons);
    }
}

} // namespace

Answer show(QWidget *parent, const Request &request)
{
    if (responder())
        return responder()(request);

    QMessageBox box(request.icon == Icon::Information ? QMessageBox::Information
                                                      : QMessageBox::Warning,
                    request.title, request.text, buttonsFor(request.buttons), parent);
    box.setObjectName(QStringLiteral("Prompt"));
    // Texts can carry downloaded words: never let them become markup.
    box.setTextFormat(Qt::PlainText);
    box.setEscapeButton(escapeFor(request.buttons));
    if (request.buttons != Buttons::Ok)
        box.setDefaultButton(QMessageBox::Yes);
    return answerFor(box.exec(), request.buttons);
}

void setResponder(Responder newResponder)
{
    responder() = std::move(newResponder);
}

} // namespace Prompt
