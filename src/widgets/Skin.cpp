#include "Skin.h"

#include "core/RuntimeFiles.h"

#include <QApplication>
#include <QLoggingCategory>
#include <QStyle>
#include <QStyleFactory>

#include <algorithm>
#include <cmath>
#include <optional>

Q_LOGGING_CATEGORY(lcSkin, "zhiwei.skin", QtWarningMsg)

namespace {

// Colours a skin may leave out, and the colour standing in for each.
struct Fallback
{
    QStringView name;
    QStringView from;
};
constexpr Fallback Fallbacks[] = {
    {u"alternateBase", u"base"},
    {u"tipBase", u"base"},
    {u"tipText", u"text"},
    {u"link", u"highlight"},
    {u"disabledText", u"windowText"},
    {u"disabledButton", u"button"},
};

struct ProcessSkin
{
    std::optional<Skin> current;
    // The look before the first attach, for detach().
    bool plainSaved = false;
    QString plainStyle;
    QPalette plainPalette;
};

ProcessSkin &processSkin()
{
    static ProcessSkin state;
    return state;
}

QApplication *widgetApplication()
{
    return qobject_cast<QApplication *>(QCoreApplication::instance());
}

void applyToApplication(QApplication *app, const Skin &skin)
{
    ProcessSkin &state = processSkin();
    if (!state.plainSaved) {
        state.plainStyle = QApplication::style()->name();
        state.plainPalette = QApplication::palette();
        state.plainSaved = true;
    }
    // Fusion draws everything from the palette, so the colours also reach the controls
    // the style sheet leaves alone (scroll bars, check boxes, frames).
    if (!state.current)
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(skin.palette());
    app->setStyleSheet(skin.styleSheet());
}

} // namespace

Skin::Skin(SkinFile file)
    : m_file(std::move(file))
{}

void Skin::setAdjustment(int hue, int saturation, int brightness)
{
    m_hue = hue;
    m_saturation = saturation;
    m_brightness = brightness;
}

QColor Skin::shifted(const QColor &colour, int hue, int saturation, int brightness)
{
    if (!colour.isValid() || (hue % 360 == 0 && saturation == 0 && brightness == 0))
        return colour;
    float h = 0, s = 0, v = 0, a = 0;
    colour.getHsvF(&h, &s, &v, &a);
    // A grey has no hue to turn.
    if (h >= 0) {
        h = std::fmod(h + float(hue) / 360.0f, 1.0f);
        if (h < 0)
            h += 1.0f;
    }
    s = std::clamp(s + float(saturation) / 255.0f, 0.0f, 1.0f);
    v = std::clamp(v + float(brightness) / 255.0f, 0.0f, 1.0f);
    return QColor::fromHsvF(h, s, v, a).toRgb();
}

QColor Skin::colour(const QString &name) const
{
    QColor base = QColor::fromString(m_file.colour(name));
    if (!base.isValid()) {
        for (const Fallback &fallback : Fallbacks) {
            if (fallback.name == name)
                base = QColor::fromString(m_file.colour(fallback.from.toString()));
        }
    }
    // Rounded to what the style sheet can say, so that the palette and the
    // style sheet paint one and the same colour.
    const QColor colour = shifted(base, m_hue, m_saturation, m_brightness);
    return colour.isValid() ? QColor(colour.rgba()) : colour;
}

QPalette Skin::palette() const
{
    const auto c = [this](QStringView name) { return colour(name.toString()); };
    // Derives the light, mid and dark shades Fusion draws bevels with.
    QPalette palette(c(u"button"), c(u"window"));
    const struct
    {
        QPalette::ColorRole role;
        QStringView name;
    } roles[] = {
        {QPalette::Window, u"window"},
        {QPalette::WindowText, u"windowText"},
        {QPalette::Base, u"base"},
        {QPalette::AlternateBase, u"alternateBase"},
        {QPalette::Text, u"text"},
        {QPalette::Button, u"button"},
        {QPalette::ButtonText, u"buttonText"},
        {QPalette::Highlight, u"highlight"},
        {QPalette::HighlightedText, u"highlightedText"},
        {QPalette::ToolTipBase, u"tipBase"},
        {QPalette::ToolTipText, u"tipText"},
        {QPalette::Link, u"link"},
        {QPalette::LinkVisited, u"link"},
        {QPalette::PlaceholderText, u"disabledText"},
    };
    for (const auto &entry : roles)
        palette.setColor(entry.role, c(entry.name));
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, c(u"disabledText"));
    palette.setColor(QPalette::Disabled, QPalette::Button, c(u"disabledButton"));
    return palette;
}

QString Skin::styleSheet() const
{
    return m_file.styleSheet(
        [this](const QString &name) { return colour(name).name(QColor::HexRgb); });
}

const Skin *Skin::attached()
{
    const auto &current = processSkin().current;
    return current ? &*current : nullptr;
}

void Skin::attach(const Skin &skin)
{
    QApplication *app = widgetApplication();
    if (!app)
        return;
    applyToApplication(app, skin);
    processSkin().current = skin;
}

void Skin::detach()
{
    ProcessSkin &state = processSkin();
    QApplication *app = widgetApplication();
    if (!state.current || !app)
        return;
    state.current.reset();
    app->setStyleSheet(QString());
    QApplication::setStyle(state.plainStyle);
    QApplication::setPalette(state.plainPalette);
}

Skin::Result Skin::attachFile(const QString &skinFile)
{
    if (!widgetApplication())
        return Skin::NoApplication;
    // Not through a link: the skin lies in a folder others may write to.
    const std::optional<QByteArray> bytes = RuntimeFiles::readFile(skinFile, SkinFile::MaxSize);
    if (!bytes) {
        qCWarning(lcSkin) << "cannot read the skin" << skinFile;
        return Skin::CannotRead;
    }
    QString error;
    const auto parsed = SkinFile::parse(*bytes, &error);
    if (!parsed) {
        qCWarning(lcSkin) << "skin" << skinFile << "refused:" << error;
        return Skin::NotASkin;
    }
    Skin::attach(Skin(*parsed));
    return Skin::Done;
}

Skin::Result Skin::adjustAttached(int hue, int saturation, int brightness)
{
    const Skin *current = Skin::attached();
    if (!current)
        return Skin::NotAttached;
    Skin adjusted = *current;
    adjusted.setAdjustment(hue, saturation, brightness);
    Skin::attach(adjusted);
    return Skin::Done;
}
