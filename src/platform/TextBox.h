#pragma once

#include <QObject>
#include <QString>

// A text box that is never shown: it holds a text and reports real changes,
// as an edit control does. The program keeps the last downloaded page in one.
class TextBox : public QObject
{
    Q_OBJECT
public:
    explicit TextBox(QObject *parent = nullptr)
        : QObject(parent)
    {}

    const QString &text() const { return m_text; }
    // Emits changed() when the new text differs from the old one.
    void setText(const QString &text)
    {
        if (text == m_text)
            return;
        m_text = text;
        emit changed();
    }

signals:
    void changed();

private:
    QString m_text;
};
