#include "PictureWindow.h"
#include "ui_PictureWindow.h"

#include "ShareTexts.h"
#include "desktop/WindowFont.h"

#include <QScreen>

namespace {

// A family list with fallbacks, which a form cannot hold.
QFont messageFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("Microsoft YaHei"), QStringLiteral("微软雅黑"),
                      QStringLiteral("WenQuanYi Micro Hei")});
    font.setPointSizeF(10.5);
    font.setBold(true);
    return font;
}

} // namespace

PictureWindow::PictureWindow(QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::PictureWindow>())
{
    setFont(WindowFont::standard());
    m_ui->setupUi(this);
    m_picture = m_ui->Image1;
    m_message = m_ui->Label1;
    QPushButton *ok = m_ui->Command1; // closes it
    setWindowTitle(ShareTexts::ScreenshotCaption.toString());
    // An explicit empty icon, or the dialog would borrow its owner's.
    setWindowIcon(QIcon());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    m_message->setFont(messageFont());
    m_message->setText(ShareTexts::PictureCopied.toString());
    ok->setText(ShareTexts::ScreenshotOk.toString());
    WindowFont::pin(this);
}

PictureWindow::~PictureWindow() = default;

void PictureWindow::showPicture(const QPixmap &picture)
{
    m_picture->setPixmap(picture);
}

void PictureWindow::setMessage(const QString &message)
{
    m_message->setText(message);
}

void PictureWindow::showEvent(QShowEvent *event)
{
    // Centred on the screen, not on the main window; frame and all where the
    // frame is already known.
    if (QScreen *shownOn = screen()) {
        const QRect outline(QPoint(), frameGeometry().size());
        move(shownOn->availableGeometry().center() - outline.center());
    }
    QDialog::showEvent(event);
}
