#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class Form4;
}
class QPixmap;

// The screenshot window: shows the picture just put on the clipboard and
// says so. The layout is Form4.ui.
class Form4 : public QDialog
{
    Q_OBJECT
public:
    explicit Form4(QWidget *parent = nullptr);
    ~Form4() override;

    // Shows the picture stretched over Image1, whatever its proportions.
    void showPicture(const QPixmap &picture);
    // Replaces the line under the picture, e.g. when the copy failed.
    void setMessage(const QString &message);

protected:
    void showEvent(QShowEvent *event) override;

private:
    std::unique_ptr<Ui::Form4> m_ui;
};
