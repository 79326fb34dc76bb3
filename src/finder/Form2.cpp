#include "Form2.h"
#include "ui_Form2.h"

#include "core/SignFinder.h"
#include "desktop/WindowFont.h"
#include "widgets/Prompt.h"

Form2::Form2(QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::Form2>())
{
    setFont(WindowFont::standard());
    m_ui->setupUi(this);
    // An explicit empty icon, or the dialog would borrow its owner's.
    setWindowIcon(QIcon());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    for (int month = 1; month <= 12; ++month)
        m_ui->Combo1->addItem(QString::number(month));
    // Filling an empty list selects its first row; the birthday starts unchosen.
    m_ui->Combo1->setCurrentIndex(-1);
    WindowFont::pin(this);
    // Sized to their captions in the window's font.
    for (QLabel *unit : {m_ui->Label2, m_ui->Label3})
        unit->adjustSize();

    connect(m_ui->Combo1, &QComboBox::activated, this, &Form2::monthChosen);
    connect(m_ui->Combo2, &QComboBox::activated, this, &Form2::dayChosen);
    connect(m_ui->Command1, &QPushButton::clicked, this, &Form2::confirm);
}

Form2::~Form2() = default;

void Form2::monthChosen(int index)
{
    m_monthText = m_ui->Combo1->itemText(index);
    m_day = 0;
    // A day chosen for the previous month may not exist in this one.
    m_ui->Combo2->clear();
    const int days = SignFinder::daysInMonth(m_monthText.toInt());
    for (int day = 1; day <= days; ++day)
        m_ui->Combo2->addItem(QString::number(day));
    m_ui->Combo2->setCurrentIndex(-1);
}

void Form2::dayChosen(int index)
{
    m_day = m_ui->Combo2->itemText(index).toInt();
}

void Form2::confirm()
{
    const SignInfo *sign = nullptr;
    if (!m_ui->Combo1->currentText().isEmpty() && !m_ui->Combo2->currentText().isEmpty())
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
