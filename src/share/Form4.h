#pragma once

#include <QDialog>

class QGroupBox;
class QLabel;
class QPixmap;
class QPushButton;

// The screenshot window: shows the picture just put on the clipboard and
// says so.
class Form4 : public QDialog
{
    Q_OBJECT
public:
    explicit Form4(QWidget *parent = nullptr);

    // Shows the picture stretched over Image1, whatever its proportions.
    void showPicture(const QPixmap &picture);
    // Replaces the line under the picture, e.g. when the copy failed.
    void setMessage(const QString &message);

    // Controls, named as the rest of the program and the tests know them.
    QGroupBox *Frame1 = nullptr;
    QGroupBox *Frame2 = nullptr;
    QLabel *Image1 = nullptr;
    QLabel *Label1 = nullptr;
    QPushButton *Command1 = nullptr;

protected:
    void showEvent(QShowEvent *event) override;
};
