#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class SignFinderDialog;
}
class QComboBox;
class QPushButton;
struct SignInfo;

// The sign finder: a person picks a birthday from two lists and learns the
// sign; on 确定 the dialog closes and the main window queries that sign.
// The layout is SignFinderDialog.ui.
class SignFinderDialog : public QDialog
{
    Q_OBJECT
public:
    explicit SignFinderDialog(QWidget *parent = nullptr);
    ~SignFinderDialog() override;

    // The sign found by 确定; nullptr until then, and when the dialog was
    // closed without it.
    const SignInfo *foundSign() const { return m_found; }

private:
    void monthChosen(int index);
    void dayChosen(int index);
    void confirm();

    std::unique_ptr<Ui::SignFinderDialog> m_ui;
    // The form's controls by what they are.
    QComboBox *m_months = nullptr;    // Combo1
    QComboBox *m_days = nullptr;      // Combo2
    QPushButton *m_confirm = nullptr; // Command1, 确定
    QString m_monthText;
    int m_day = 0;
    const SignInfo *m_found = nullptr;
};
