#include "PanelPictures.h"

#include "core/SignTable.h"
#include "widgets/Pictures.h"

#include <QLabel>

namespace PanelPictures {

namespace {

QLabel *addImage(QWidget *parent, const QString &name, const QPixmap &picture, QRect place)
{
    auto *image = new QLabel(parent);
    image->setObjectName(name);
    image->setPixmap(picture);
    image->setScaledContents(true);
    image->setGeometry(place);
    return image;
}

} // namespace

std::array<std::array<QLabel *, 5>, 4> addStarRows(QWidget *panel)
{
    // In the love, work and finance rows the image numbers fall from left to
    // right; the first star is always the leftmost.
    struct Row
    {
        int firstImage;
        int step;
        int x;
        int y;
    };
    constexpr Row Rows[] = {{1, 1, 80, 37}, {10, -1, 280, 37}, {15, -1, 80, 72}, {20, -1, 280, 72}};
    const QPixmap star = Pictures::load(QStringLiteral("star.png"));
    std::array<std::array<QLabel *, 5>, 4> rows{};
    for (size_t r = 0; r < rows.size(); ++r) {
        for (int i = 0; i < 5; ++i) {
            const int number = Rows[r].firstImage + i * Rows[r].step;
            QLabel *image = addImage(panel, QStringLiteral("Image%1").arg(number), star,
                                     {Rows[r].x + 24 * i, Rows[r].y, 18, 18});
            // Four stars at start-up.
            image->setVisible(i < 4);
            rows[r][i] = image;
        }
    }
    return rows;
}

std::array<QLabel *, 12> addPictureStore(QWidget *window)
{
    std::array<QLabel *, 12> store{};
    // In the order they were laid out from x = 792 to 936.
    constexpr QStringView Order[] = {u"isy", u"isp", u"imj", u"iss", u"itx", u"itc",
                                     u"icv", u"izz", u"ijx", u"isz", u"ijn", u"imy"};
    for (int k = 0; k < 12; ++k) {
        for (const SignInfo &sign : SignTable::all()) {
            if (sign.picture == Order[k]) {
                store[SignTable::position(sign)] =
                    addImage(window, Order[k].toString(),
                             Pictures::load(u"signs/" + sign.slug.toString() + u".png"),
                             {792 + (144 * k + 5) / 11, 16, 160, 95});
            }
        }
    }
    return store;
}

} // namespace PanelPictures
