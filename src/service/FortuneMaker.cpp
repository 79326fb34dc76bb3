#include "FortuneMaker.h"

#include "SiteSigns.h"

namespace FortuneMaker {
namespace {

// One star now and then, mostly two to five.
constexpr int StarOdds[] = {1, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5};

constexpr QStringView Colours[] = {
    u"红色",   u"天蓝色", u"金色",   u"米白色", u"紫罗兰", u"墨绿色", u"橙色",   u"粉红色",
    u"银灰色", u"咖啡色", u"浅绿色", u"宝蓝色", u"酒红色", u"象牙白", u"柠檬黄", u"藏青色",
};

constexpr QStringView Directions[] = {u"正东", u"东南", u"正南", u"西南",
                                      u"正西", u"西北", u"正北", u"东北"};

// Sentences by aspect and by how the day looks: [0] poor, [1] middling, [2] good.
using Tiers = std::array<std::array<QStringView, 3>, 3>;

constexpr Tiers WorkLines{{
    {{u"工作中容易因细节疏忽而返工，重要文件提交前最好再仔细核对一遍。",
      u"职场压力略大，面对临时变动要沉住气，先把轻重缓急理清楚再行动。",
      u"手头的事务头绪繁多，与同事沟通时语气放缓，能少走不少弯路。"}},
    {{u"工作节奏平稳，按部就班完成分内之事即可，不必急于求成。",
      u"职场上人际往来较多，多听少说，能从同事的意见中得到启发。",
      u"今天适合整理工作资料，把零散的想法写成计划，日后会派上用场。"}},
    {{u"工作上思路清晰，积压的事务能一口气处理妥当，上司对你的表现颇为满意。",
      u"职场中有不错的表现机会，主动承担重要任务，能让大家看到你的能力与担当。",
      u"适合推进拖延已久的计划，团队配合默契，效率比平时高出不少。"}},
}};

constexpr Tiers LoveLines{{
    {{u"感情上容易因小事闹别扭，说话前多站在对方角度想一想，可避免不必要的争执。",
      u"单身者桃花较弱，不妨把心思放在充实自己上，缘分自会悄悄到来。",
      u"恋爱中的人容易想得太多，坦诚说出心里的疑问，比暗自猜测更好。"}},
    {{u"感情平淡中见真情，多花些时间陪伴对方，彼此的关系会更加稳固。",
      u"爱情运势平稳，一起做顿晚饭或散散步，简单的相处就很温暖。",
      u"单身者可以多参加朋友间的聚会，轻松的氛围里容易遇到聊得来的人。"}},
    {{u"感情方面甜蜜温馨，有伴者与另一半心意相通，单身者容易在聚会中遇到心仪对象。",
      u"爱情运势上扬，适合表达心意，一句真诚的问候就能拉近彼此的距离。",
      u"恋人之间默契十足，不妨一起规划一次短途旅行，留下美好的回忆。"}},
}};

constexpr Tiers MoneyLines{{
    {{u"钱财上需谨慎，高风险的投资暂且观望，与人借贷往来务必写清楚。",
      u"今天花销容易超出预算，看似划算的促销活动要三思而后行。",
      u"财务上有些小波折，整理一下近期的账单，能帮你找出不必要的开支。"}},
    {{u"财务状况平稳，收支大致平衡，购物前列好清单可避免冲动消费。",
      u"正财收入稳定，偏财运一般，把闲钱做些稳健的安排较为妥当。",
      u"理财方面宜守不宜攻，多了解一些理财知识，为日后的决定打好基础。"}},
    {{u"财运不错，正财稳定入账，还有机会收到意外的小红包或奖金。",
      u"理财方面眼光独到，适合梳理投资组合，稳健的安排会带来可观回报。",
      u"有机会通过副业或兼职增加收入，把握好时机，付出会有不错的回报。"}},
}};

constexpr Tiers HealthLines{{
    {{u"容易感到疲倦，饮食宜清淡，晚上尽量早些休息，别熬夜追剧。",
      u"换季时节要注意保暖，出门多带件外套，喉咙不适时多喝温水。",
      u"久坐之后肩颈容易酸痛，工作间隙起身活动一下，身体会轻松许多。"}},
    {{u"身体状况尚可，注意劳逸结合，午后可以起身走动片刻。",
      u"精神状态不错，但三餐要按时吃，零食和冷饮还是少碰为好。",
      u"适合做些舒缓的运动，比如散步或拉伸，帮助放松紧绷的神经。"}},
    {{u"精力充沛，适合安排一场户外运动，让身心都舒展开来。",
      u"身体状态良好，睡眠质量不错，整个人看起来神采奕奕。",
      u"健康运佳，坚持一段时间的锻炼开始见效，继续保持好习惯。"}},
}};

constexpr QStringView AdviceLines[] = {
    u"保持平常心，稳扎稳打，好运自然会跟随你的脚步而来。",
    u"遇事多与信任的人商量，集思广益能帮你找到更好的办法。",
    u"今天不妨给自己留出一段独处的时间，整理思绪之后再出发。",
    u"带上一件幸运颜色的小物件出门，能为你带来一整天的好心情。",
    u"答应别人的事情要说到做到，靠谱的形象会为你赢得更多机会。",
    u"少一些比较，多一些专注，把眼前的小事做好就是最大的收获。",
};

int tierOfStars(int stars)
{
    return stars <= 2 ? 0 : stars == 3 ? 1 : 2;
}
int tierOfPercent(int percent)
{
    return percent < 72 ? 0 : percent < 86 ? 1 : 2;
}

QStringView lineFor(const Tiers &tiers, int tier, Dice &dice)
{
    return tiers[tier][dice.below(3)];
}

} // namespace

quint64 seedFor(QStringView slug, QDate date)
{
    quint64 hash = 0xCBF29CE484222325ull; // FNV-1a
    for (const QChar c : slug) {
        hash ^= c.unicode();
        hash *= 0x100000001B3ull;
    }
    return Dice::mix(hash + Dice::mix(quint64(date.toJulianDay())));
}

Fortune fortuneFor(QStringView slug, QDate date)
{
    Dice dice(seedFor(slug, date));
    Fortune f;
    for (int &stars : f.stars)
        stars = dice.pick(StarOdds);
    f.health = dice.between(60, 99);
    f.negotiation = dice.between(60, 99);
    f.colour = dice.pick(Colours);
    f.number = dice.between(0, 99);
    const FortunePages::SiteSign *own = FortunePages::signBySlug(slug);
    do {
        f.matching = dice.pick(FortunePages::Signs).name;
    } while (own && f.matching == own->name);
    f.direction = dice.pick(Directions);

    f.lines[0] = lineFor(WorkLines, tierOfStars(f.stars[2]), dice);
    f.lines[1] = lineFor(LoveLines, tierOfStars(f.stars[1]), dice);
    f.lines[2] = lineFor(MoneyLines, tierOfStars(f.stars[3]), dice);
    f.lines[3] = lineFor(HealthLines, tierOfPercent(f.health), dice);
    f.advice = dice.pick(AdviceLines);

    // Two to four of the five themes, in a fixed order; every sentence is long
    // enough that three of them always make a description of decent length.
    const std::array<QStringView, 5> themes{f.lines[0], f.lines[1], f.lines[2], f.lines[3],
                                            f.advice};
    int wanted = dice.between(2, 4);
    std::array<bool, 5> chosen{};
    for (int left = wanted; left > 0;) {
        const int theme = dice.below(5);
        if (!chosen[theme]) {
            chosen[theme] = true;
            --left;
        }
    }
    for (int i = 0; i < 5; ++i) {
        if (chosen[i])
            f.description += themes[i];
    }
    for (int i = 0; f.description.size() < 60 && i < 5; ++i) {
        if (!chosen[i]) {
            chosen[i] = true;
            f.description += themes[i];
        }
    }
    return f;
}

} // namespace FortuneMaker
