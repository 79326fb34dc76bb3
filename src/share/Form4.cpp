#include "Form4.h"

#include "platform/WindowFont.h"
#include "share/ShareTexts.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace {

QFont messageFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("Microsoft YaHei"), QStringLiteral("微软雅黑"),
                      QStringLiteral("WenQuanYi Micro Hei")});
    font.setPointSizeF(10.5);
    font.setBold(true);
    return font;
}

QGroupBox *makeFrame(QWidget *parent, const QString &name, QRect place)
{
    auto *frame = new QGroupBox(parent);
    frame->setObjectName(name);
    frame->setGeometry(place);
    return frame;
}

} // namespace

Form4::Form4(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(ShareTexts::ScreenshotCaption.toString());
    // An explicit empty icon, or the dialog would borrow its owner's.
    setWindowIcon(QIcon());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setModal(true);
    setFixedSize(482, 460);
    setFont(WindowFont::standard());

    Frame2 = makeFrame(this, QStringLiteral("Frame2"), {24, 16, 433, 305});
    Image1 = new QLabel(Frame2);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setScaledContents(true);
    Image1->setGeometry(8, 16, 417, 281);

    Frame1 = makeFrame(this, QStringLiteral("Frame1"), {24, 328, 433, 57});
    Label1 = new QLabel(Frame1);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setTextFormat(Qt::PlainText);
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setFont(messageFont());
    Label1->setText(ShareTexts::PictureCopied.toString());
    Label1->setGeometry(1, 24, 432, 19);

    Command1 = new QPushButton(ShareTexts::ScreenshotOk.toString(), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(24, 400, 433, 41);
    connect(Command1, &QPushButton::clicked, this, &QDialog::accept);
    WindowFont::pin(this);
}

void Form4::showPicture(const QPixmap &picture)
{
    Image1->setPixmap(picture);
}

void Form4::setMessage(const QString &message)
{
    Label1->setText(message);
}

void Form4::showEvent(QShowEvent *event)
{
    // Centred on the screen, not on the main window; frame and all where the
    // frame is already known.
    if (QScreen *shownOn = screen()) {
        const QRect outline(QPoint(), frameGeometry().size());
        move(shownOn->availableGeometry().center() - outline.center());
    }
    QDialog::showEvent(event);
}
