#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class PictureWindow;
}
class QPixmap;

// The screenshot window: shows the picture just put on the clipboard and
// says so. The layout is PictureWindow.ui.
class PictureWindow : public QDialog
{
    Q_OBJECT
public:
    explicit PictureWindow(QWidget *parent = nullptr);
    ~PictureWindow() override;

    // Shows the picture stretched over Image1, whatever its proportions.
    void showPicture(const QPixmap &picture);
    // Replaces the line under the picture, e.g. when the copy failed.
    void setMessage(const QString &message);

protected:
    void showEvent(QShowEvent *event) override;

private:
    std::unique_ptr<Ui::PictureWindow> m_ui;
};
