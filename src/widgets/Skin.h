#pragma once

#include "core/SkinFile.h"

#include <QColor>
#include <QPalette>
#include <QString>

// The program's skin layer. It stands in for an outside skin library: once a
// skin is attached, every window of the process, the ones open and every one
// opened later, is drawn with it. It works through the application object
// (Fusion style, palette, style sheet), so Qt skins new windows by itself.
class Skin
{
public:
    // What attachFile and adjustAttached return.
    enum Result : int {
        Done = 0,
        CannotRead = 1, // no such file, or it cannot be opened
        NotASkin = 2,   // wrong magic, damaged, cut short or of another version
        NoApplication = 3,
        NotAttached = 4, // a colour shift asked for before any skin
    };

    explicit Skin(SkinFile file);

    const SkinFile &file() const { return m_file; }

    // Shifts every colour: hue by degrees, wrapping around the circle;
    // saturation and brightness by amounts on QColor's 0..255 scale, the
    // results held within it. It replaces an earlier shift rather than
    // adding to it, so the same call twice gives the same colours.
    void setAdjustment(int hue, int saturation, int brightness);

    // The file's colour of that name with the shift applied; invalid if the
    // file has no such colour.
    QColor colour(const QString &name) const;
    QPalette palette() const;
    QString styleSheet() const;

    static QColor shifted(const QColor &colour, int hue, int saturation, int brightness);

    // The skin drawing the process's windows, or null.
    static const Skin *attached();
    // Draws every window of the process with the skin from now on.
    static void attach(const Skin &skin);
    // Back to the plain platform look the process had before the first attach.
    static void detach();

    // Reads the skin file and draws every window with it. A skin that cannot
    // be used leaves the windows as they are.
    static Result attachFile(const QString &skinFile);
    // Shifts the attached skin's colours (see setAdjustment) and redraws.
    static Result adjustAttached(int hue, int saturation, int brightness);

private:
    SkinFile m_file;
    int m_hue = 0;
    int m_saturation = 0;
    int m_brightness = 0;
};
