#include "Clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>

namespace Clipboard {
namespace {

bool &refusing()
{
    static bool value = false;
    return value;
}

QClipboard *systemClipboard()
{
    // A refused clipboard is left as it was: no clearing before a set that
    // cannot succeed.
    return refusing() ? nullptr : QGuiApplication::clipboard();
}

} // namespace

bool setText(const QString &text)
{
    QClipboard *clipboard = systemClipboard();
    if (!clipboard)
        return false;
    clipboard->clear();
    clipboard->setText(text);
    const QMimeData *stored = clipboard->mimeData();
    return stored && stored->hasText() && stored->text() == text;
}

bool setImage(const QImage &image)
{
    QClipboard *clipboard = systemClipboard();
    if (!clipboard || image.isNull())
        return false;
    clipboard->clear();
    clipboard->setImage(image);
    const QImage stored = clipboard->image();
    return !stored.isNull() && stored.size() == image.size();
}

void setRefusingForTesting(bool refuse)
{
    refusing() = refuse;
}

} // namespace Clipboard
