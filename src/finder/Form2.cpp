#include "Form2.h"

#include "finder/SignFinder.h"
#include "platform/Prompt.h"
#include "platform/WindowFont.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

namespace {

QLabel *makeLabel(QWidget *parent, const QString &name, const QString &text, QPoint place)
{
    auto *label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->move(place);
    label->adjustSize();
    return label;
}

QComboBox *makeCombo(QWidget *parent, const QString &name, QRect place)
{
    auto *combo = new QComboBox(parent);
    combo->setObjectName(name);
    combo->setEditable(false);
    combo->setGeometry(place);
    return combo;
}

} // namespace

Form2::Form2(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("星座判断"));
    // An explicit empty icon, or the dialog would borrow its owner's.
    setWindowIcon(QIcon());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setModal(true);
    setFixedSize(322, 226);
    setFont(WindowFont::standard());

    Frame1 = new QGroupBox(QStringLiteral("请选择您的生日"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setGeometry(16, 24, 289, 113);

    Label1 =
        makeLabel(Frame1, QStringLiteral("Label1"), QStringLiteral("请选择您的生日："), {16, 56});
    Label1->setGeometry(16, 56, 96, 12);
    Combo1 = makeCombo(Frame1, QStringLiteral("Combo1"), {112, 53, 57, 20});
    Label2 = makeLabel(Frame1, QStringLiteral("Label2"), QStringLiteral("月"), {176, 55});
    Combo2 = makeCombo(Frame1, QStringLiteral("Combo2"), {200, 53, 49, 20});
    Label3 = makeLabel(Frame1, QStringLiteral("Label3"), QStringLiteral("日"), {256, 55});

    for (int month = 1; month <= 12; ++month)
        Combo1->addItem(QString::number(month));
    // Filling an empty list selects its first row; the birthday starts unchosen.
    Combo1->setCurrentIndex(-1);

    Command1 = new QPushButton(QStringLiteral("确定"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(16, 152, 289, 49);

    WindowFont::pin(this);

    connect(Combo1, &QComboBox::activated, this, &Form2::Combo1_Click);
    connect(Combo2, &QComboBox::activated, this, &Form2::Combo2_Click);
    connect(Command1, &QPushButton::clicked, this, &Form2::Command1_Click);
}

void Form2::Combo1_Click(int index)
{
    m_monthText = Combo1->itemText(index);
    m_day = 0;
    // A day chosen for the previous month may not exist in this one.
    Combo2->clear();
    const int days = SignFinder::daysInMonth(m_monthText.toInt());
    for (int day = 1; day <= days; ++day)
        Combo2->addItem(QString::number(day));
    Combo2->setCurrentIndex(-1);
}

void Form2::Combo2_Click(int index)
{
    m_day = Combo2->itemText(index).toInt();
}

void Form2::Command1_Click()
{
    const SignInfo *sign = nullptr;
    if (!Combo1->currentText().isEmpty() && !Combo2->currentText().isEmpty())
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
