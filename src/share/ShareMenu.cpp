#include "ShareMenu.h"

#include "Capture.h"
#include "ShareTexts.h"
#include "core/FortuneTexts.h"
#include "core/LocalDate.h"
#include "core/QueryFlow.h"
#include "core/ReportText.h"
#include "desktop/Clipboard.h"
#include "share/PictureWindow.h"
#include "widgets/ClickLabel.h"
#include "widgets/Prompt.h"

#include <QAction>
#include <QEvent>
#include <QMenu>
#include <QScopeGuard>
#include <QShortcut>
#include <QWidget>

ShareMenu::ShareMenu(QWidget *window, const QueryFlow *flow, std::function<QDate()> today,
                     QString footerText, Labels labels)
    : QObject(window)
    , m_window(window)
    , m_labels(labels)
    , m_flow(flow)
    , m_today(std::move(today))
    , m_footerText(std::move(footerText))
    , m_menu(new QMenu(QStringLiteral("fxsd"), window))
{
    setObjectName(QStringLiteral("ShareMenu"));
    m_menu->setObjectName(QStringLiteral("fxsd"));
    m_copyItem = m_menu->addAction(ShareTexts::CopyItem.toString());
    m_copyItem->setObjectName(QStringLiteral("wz"));
    m_separator = m_menu->addSeparator();
    m_separator->setObjectName(QStringLiteral("x1"));
    m_separator->setText(QStringLiteral("-"));
    m_captureItem = m_menu->addAction(ShareTexts::CaptureItem.toString());
    m_captureItem->setObjectName(QStringLiteral("jt"));

    connect(m_copyItem, &QAction::triggered, this, &ShareMenu::copyFortune);
    connect(m_captureItem, &QAction::triggered, this, &ShareMenu::captureWindow);
    connect(m_labels.copy, &ClickLabel::clicked, this, &ShareMenu::copyFortune);
    connect(m_labels.capture, &ClickLabel::clicked, this, &ShareMenu::captureWindow);
    connect(m_labels.menu, &ClickLabel::clicked, this, &ShareMenu::open);
    // The menu key (or Shift+F10) opens the menu from anywhere in the window.
    for (const QKeySequence &keys :
         {QKeySequence(Qt::Key_Menu), QKeySequence(Qt::SHIFT | Qt::Key_F10)})
        connect(new QShortcut(keys, window), &QShortcut::activated, this, &ShareMenu::open);
    // Nothing to copy until a fortune is on show, nor after the day mode
    // changed: the one on show is the other day's until the next completion.
    m_labels.copy->setEnabled(false);
    connect(flow, &QueryFlow::ticked, m_labels.copy, [this] { m_labels.copy->setEnabled(true); });
    connect(flow, &QueryFlow::modeChanged, m_labels.copy,
            [this] { m_labels.copy->setEnabled(false); });
    // The copy label lights up red under the mouse, blue when pressed, and
    // goes black again when the mouse moves on over the strip or it has copied.
    connect(m_labels.copy, &ClickLabel::hovered, this,
            [this] { m_labels.copy->setForeColor(Qt::red); });
    connect(m_labels.copy, &ClickLabel::pressed, this,
            [this] { m_labels.copy->setForeColor(Qt::blue); });
    m_labels.strip->setMouseTracking(true);
    m_labels.strip->installEventFilter(this);
}

bool ShareMenu::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_labels.strip && event->type() == QEvent::MouseMove) {
        m_labels.copy->setForeColor(Qt::black);
        m_labels.capture->setForeColor(Qt::black);
    }
    return QObject::eventFilter(watched, event);
}

void ShareMenu::open()
{
    const QWidget *label = m_labels.menu;
    // 400 twips left of the label and 240 below its top, computed in twips
    // of the window as the label lies in its frame.
    constexpr double TwipsPerPixel = 15.0;
    const QPoint frame = label->parentWidget()->pos();
    const double x = label->x() * TwipsPerPixel + frame.x() * TwipsPerPixel - 400;
    const double y = label->y() * TwipsPerPixel + frame.y() * TwipsPerPixel + 240;
    const QPoint at(qRound(x / TwipsPerPixel), qRound(y / TwipsPerPixel));
    m_menu->popup(m_window->mapToGlobal(at));
}

void ShareMenu::copyFortune()
{
    // Black again once the copy is done, whatever it said.
    const auto done = qScopeGuard([this] { m_labels.copy->setForeColor(Qt::black); });
    const QString title = Prompt::MessageTitle.toString();
    const QueryFlow::OnShow &onShow = m_flow->onShow();
    if (!onShow.sign) {
        Prompt::inform(m_window, ShareTexts::NoSignOnShow.toString(), title);
        return;
    }
    // The report tells the fortune on show as it was shown: the counts parsed
    // for it, its captions and the day it was asked for, even while another
    // query runs or after the day-mode button has been pressed.
    const ReportText::ShownFortune shown =
        ReportText::shownFortune(onShow.fortune, onShow.sign->name.toString(),
                                 FortuneTexts::modeText(onShow.mode).toString());

    const QString report = ReportText::build(shown, LocalDate::shortText(m_today()), m_footerText);
    if (Clipboard::setText(report)) {
        Prompt::inform(m_window, ReportText::copiedMessage(shown.signName, shown.modeText), title);
    } else {
        Prompt::show(m_window, {ShareTexts::ClipboardRefused.toString(), title,
                                Prompt::Icon::Exclamation, Prompt::Buttons::Ok});
    }
}

void ShareMenu::captureWindow()
{
    const QPixmap picture = pictureOfWindow(m_window);
    // Nothing that is not the window's picture reaches the clipboard.
    if (picture.isNull()) {
        Prompt::show(m_window,
                     {ShareTexts::CaptureFailed.toString(), Prompt::MessageTitle.toString(),
                      Prompt::Icon::Exclamation, Prompt::Buttons::Ok});
        return;
    }
    PictureWindow pictureWindow(m_window);
    pictureWindow.showPicture(picture);
    if (!Clipboard::setImage(picture.toImage()))
        pictureWindow.setMessage(ShareTexts::ClipboardRefused.toString());
    pictureWindow.exec();
}
