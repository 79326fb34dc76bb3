#pragma once

#include <QDialog>

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
struct SignInfo;

// The sign finder: a person picks a birthday from two lists and learns the
// sign; on 确定 the dialog closes and the main window queries that sign.
class Form2 : public QDialog
{
    Q_OBJECT
public:
    explicit Form2(QWidget *parent = nullptr);

    // The sign found by 确定; nullptr until then, and when the dialog was
    // closed without it.
    const SignInfo *foundSign() const { return m_found; }

    // Controls, named as the rest of the program and the tests know them.
    QGroupBox *Frame1 = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QComboBox *Combo1 = nullptr; // months
    QComboBox *Combo2 = nullptr; // days of the chosen month
    QPushButton *Command1 = nullptr;

private:
    void Combo1_Click(int index);
    void Combo2_Click(int index);
    void Command1_Click();

    QString m_monthText;
    int m_day = 0;
    const SignInfo *m_found = nullptr;
};
