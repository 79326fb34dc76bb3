#include "SignFinderDialog.h"
#include "ui_SignFinderDialog.h"

#include "core/SignFinder.h"
#include "desktop/WindowFont.h"
#include "widgets/Prompt.h"

SignFinderDialog::SignFinderDialog(QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::SignFinderDialog>())
{
    setFont(WindowFont::standard());
    m_ui->setupUi(this);
    m_months = m_ui->Combo1;
    m_days = m_ui->Combo2;
    m_confirm = m_ui->Command1;
    // An explicit empty icon, or the dialog would borrow its owner's.
    setWindowIcon(QIcon());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    for (int month = 1; month <= 12; ++month)
        m_months->addItem(QString::number(month));
    // Filling an empty list selects its first row; the birthday starts unchosen.
    m_months->setCurrentIndex(-1);
    WindowFont::pin(this);
    // Sized to their captions in the window's font.
    for (QLabel *unit : {m_ui->Label2, m_ui->Label3}) // 月, 日
        unit->adjustSize();

    connect(m_months, &QComboBox::activated, this, &SignFinderDialog::monthChosen);
    connect(m_days, &QComboBox::activated, this, &SignFinderDialog::dayChosen);
    connect(m_confirm, &QPushButton::clicked, this, &SignFinderDialog::confirm);
}

SignFinderDialog::~SignFinderDialog() = default;

void SignFinderDialog::monthChosen(int index)
{
    m_monthText = m_months->itemText(index);
    m_day = 0;
    // A day chosen for the previous month may not exist in this one.
    m_days->clear();
    const int days = SignFinder::daysInMonth(m_monthText.toInt());
    for (int day = 1; day <= days; ++day)
        m_days->addItem(QString::number(day));
    m_days->setCurrentIndex(-1);
}

void SignFinderDialog::dayChosen(int index)
{
    m_day = m_days->itemText(index).toInt();
}

void SignFinderDialog::confirm()
{
    const SignInfo *sign = nullptr;
    if (!m_months->currentText().isEmpty() && !m_days->currentText().isEmpty())
        sign = SignFinder::signForBirthday(m_monthText.toInt(), m_day);
    if (!sign) {
        Prompt::inform(this, SignFinder::ChooseBirthday.toString(),
                       Prompt::MessageTitle.toString());
        return;
    }
    Prompt::inform(this, SignFinder::birthdayMessage(m_monthText, m_day, *sign),
                   Prompt::MessageTitle.toString());
    m_found = sign;
    accept();
}
