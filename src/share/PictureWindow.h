#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class PictureWindow;
}
class QLabel;
class QPixmap;

// The screenshot window: shows the picture just put on the clipboard and
// says so. The layout is PictureWindow.ui.
class PictureWindow : public QDialog
{
    Q_OBJECT
public:
    explicit PictureWindow(QWidget *parent = nullptr);
    ~PictureWindow() override;

    // Shows the picture stretched over its frame, whatever its proportions.
    void showPicture(const QPixmap &picture);
    // Replaces the line under the picture, e.g. when the copy failed.
    void setMessage(const QString &message);

protected:
    void showEvent(QShowEvent *event) override;

private:
    std::unique_ptr<Ui::PictureWindow> m_ui;
    // The form's controls by what they are.
    QLabel *m_picture = nullptr; // Image1
    QLabel *m_message = nullptr; // Label1, under the picture
};
