#pragma once

#include <QString>
#include <QStringView>

#include <functional>

class QWidget;

// Message boxes. Every one the program shows passes through here, so that a
// test can answer it instead of a person.
namespace Prompt {

enum class Icon { Information, Exclamation };
enum class Buttons { Ok, YesNo, YesNoCancel };
// The numbers message boxes have always returned.
enum class Answer { Ok = 1, Cancel = 2, Yes = 6, No = 7 };

// The title that the program's message boxes carry, but for the notice of a
// newer version.
constexpr QStringView MessageTitle = u"Kw系列软件";

struct Request
{
    QString text;
    QString title;
    Icon icon = Icon::Information;
    Buttons buttons = Buttons::Ok;
};

// Shows the message box modally and returns the button pressed. Closing the
// box counts as Cancel where there is one, else as No, else as Ok.
Answer show(QWidget *parent, const Request &request);

inline Answer inform(QWidget *parent, const QString &text, const QString &title)
{
    return show(parent, {text, title, Icon::Information, Buttons::Ok});
}

// Replaces the real message box, for tests; an empty function restores it.
using Responder = std::function<Answer(const Request &)>;
void setResponder(Responder responder);

} // namespace Prompt
