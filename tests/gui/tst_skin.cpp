#include "app/MainWindow.h"
#include "core/RuntimeFiles.h"
#include "core/SkinFile.h"
#include "widgets/Skin.h"

#include "WindowKit.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRandomGenerator>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>

#include <QElapsedTimer>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// Hue 0, full saturation: a clean colour to measure the shift on.
const QByteArray SmallSkin = ".SHE\n"
                             "; a test skin\n"
                             "version = 1\n"
                             "name = test\n"
                             "[colours]\n"
                             "window = #cc3333 ; red\n"
                             "windowText = #000000\n"
                             "base = #ffffff\n"
                             "text = #000000\n"
                             "button = #dddddd\n"
                             "buttonText = #000000\n"
                             "highlight = #3355cc\n"
                             "highlightedText = #ffffff\n"
                             "[style]\n"
                             "QPushButton { color: @buttonText; background-color: @window;"
                             " border: 1px solid @text; }\n"
                             "QDialog { background-color: @window; }\n"
                             "[end]\n";
const QColor SmallWindow(0xcc, 0x33, 0x33);

double channel(double c)
{
    return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double luminance(const QColor &colour)
{
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) +
           0.0722 * channel(colour.blueF());
}

double contrast(const QColor &a, const QColor &b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The hue difference in degrees, folded into -180..180.
double hueDistance(double a, double b)
{
    double d = std::fmod(a - b + 540.0, 360.0) - 180.0;
    return std::abs(d);
}

// The skin the program writes beside itself, as it attaches it at start-up.
Skin shippedSkin()
{
    const auto file = SkinFile::parse(RuntimeFiles::resource(111));
    Skin skin(file.value_or(SkinFile()));
    skin.setAdjustment(-157, 0, 0);
    return skin;
}

QStringList g_styleWarnings;

void catchStyleWarnings(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtWarningMsg && message.contains(u"style sheet", Qt::CaseInsensitive))
        g_styleWarnings.append(message);
    if (type == QtWarningMsg && message.contains(u"stylesheet", Qt::CaseInsensitive))
        g_styleWarnings.append(message);
}

} // namespace

class TestSkin : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void goodSkinDrawsTheApplication();
    void colourShift_data();
    void colourShift();
    void shiftReplacesRatherThanAdds();
    void shiftWithoutSkinIsRefused();
    void windowsOpenedLaterCarryTheSkin();
    void unusableSkinLeavesThePlainLook_data();
    void unusableSkinLeavesThePlainLook();
    void shippedSkinIsWholeAndParses();
    void shippedStyleSheetParsesCleanly();
    void shippedSkinShowsSteelBlue();
    void shippedSkinTextIsReadable_data();
    void shippedSkinTextIsReadable();
    void plantedSkinLeavesTheWindowUnskinned_data();
    void plantedSkinLeavesTheWindowUnskinned();

private:
    QString writeSkin(const QByteArray &bytes);

    QTemporaryDir m_dir;
    QPalette m_plainPalette;
    int m_serial = 0;
};

void TestSkin::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // Refused skins are logged; here they are refused on purpose.
    QLoggingCategory::setFilterRules(QStringLiteral("zhiwei.skin=false"));
    m_plainPalette = QApplication::palette();
}

void TestSkin::init()
{
    QVERIFY(!Skin::attached());
}

void TestSkin::cleanup()
{
    Skin::detach();
    QVERIFY(qApp->styleSheet().isEmpty());
}

QString TestSkin::writeSkin(const QByteArray &bytes)
{
    const QString path = m_dir.filePath(QStringLiteral("skin%1.she").arg(++m_serial));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return QString();
    return path;
}

void TestSkin::goodSkinDrawsTheApplication()
{
    QCOMPARE(Skin::attachFile(writeSkin(SmallSkin)), 0);
    QVERIFY(Skin::attached());
    QCOMPARE(QApplication::palette().color(QPalette::Window), SmallWindow);
    QCOMPARE(QApplication::palette().color(QPalette::Highlight), QColor(0x33, 0x55, 0xcc));
    QVERIFY(!qApp->styleSheet().isEmpty());
    // The @names became the colours.
    QVERIFY(qApp->styleSheet().contains(u"background-color: #cc3333"));
    QVERIFY(!qApp->styleSheet().contains(u'@'));
}

void TestSkin::colourShift_data()
{
    QTest::addColumn<int>("hue");
    QTest::addColumn<int>("saturation");
    QTest::addColumn<int>("brightness");
    QTest::addColumn<double>("expectedHue");
    QTest::addColumn<int>("expectedSaturation");
    QTest::addColumn<int>("expectedValue");
    // #cc3333: hue 0, saturation 191, value 204.
    QTest::newRow("program's shift -157 wraps to 203") << -157 << 0 << 0 << 203.0 << 191 << 204;
    QTest::newRow("+400 wraps to 40") << 400 << 0 << 0 << 40.0 << 191 << 204;
    QTest::newRow("-720 is a full turn") << -720 << 0 << 0 << 0.0 << 191 << 204;
    QTest::newRow("saturation held at 255") << 0 << 300 << 0 << 0.0 << 255 << 204;
    QTest::newRow("saturation lowered") << 0 << -91 << 0 << 0.0 << 100 << 204;
    QTest::newRow("brightness held at 0") << 0 << 0 << -300 << 0.0 << 191 << 0;
    QTest::newRow("brightness held at 255") << -157 << 0 << 100 << 203.0 << 191 << 255;
}

void TestSkin::colourShift()
{
    QFETCH(int, hue);
    QFETCH(int, saturation);
    QFETCH(int, brightness);
    QFETCH(double, expectedHue);
    QFETCH(int, expectedSaturation);
    QFETCH(int, expectedValue);
    QCOMPARE(Skin::attachFile(writeSkin(SmallSkin)), 0);
    QCOMPARE(Skin::adjustAttached(hue, saturation, brightness), 0);

    const QColor window = QApplication::palette().color(QPalette::Window);
    QVERIFY(std::abs(window.value() - expectedValue) <= 1);
    // Black has neither saturation nor hue left to measure.
    if (expectedValue > 0)
        QVERIFY(std::abs(window.saturation() - expectedSaturation) <= 1);
    if (expectedValue > 0)
        QVERIFY2(hueDistance(window.hsvHueF() * 360.0, expectedHue) <= 1.0,
                 qPrintable(QStringLiteral("hue %1").arg(window.hsvHueF() * 360.0)));
    // The style sheet follows the palette.
    QVERIFY(qApp->styleSheet().contains(window.name()));
    // Greys have no hue to turn.
    if (brightness >= 0)
        QCOMPARE(QApplication::palette().color(QPalette::Base).name(), QStringLiteral("#ffffff"));
}

void TestSkin::shiftReplacesRatherThanAdds()
{
    QCOMPARE(Skin::attachFile(writeSkin(SmallSkin)), 0);
    QCOMPARE(Skin::adjustAttached(-157, 0, 0), 0);
    const QColor once = QApplication::palette().color(QPalette::Window);
    QCOMPARE(Skin::adjustAttached(-157, 0, 0), 0);
    QCOMPARE(QApplication::palette().color(QPalette::Window), once);
    QCOMPARE(Skin::adjustAttached(0, 0, 0), 0);
    QCOMPARE(QApplication::palette().color(QPalette::Window), SmallWindow);
}

void TestSkin::shiftWithoutSkinIsRefused()
{
    QVERIFY(Skin::adjustAttached(-157, 0, 0) != 0);
    QVERIFY(qApp->styleSheet().isEmpty());
}

void TestSkin::windowsOpenedLaterCarryTheSkin()
{
    QCOMPARE(Skin::attachFile(writeSkin(SmallSkin)), 0);
    QCOMPARE(Skin::adjustAttached(-157, 0, 0), 0);
    const QColor window = Skin::attached()->colour(QStringLiteral("window"));
    QVERIFY(window != SmallWindow);

    QMessageBox box(QMessageBox::Information, QStringLiteral("标题"), QStringLiteral("内容"),
                    QMessageBox::Ok);
    box.ensurePolished();
    QCOMPARE(box.palette().color(QPalette::Window), window);
    QCOMPARE(box.style()->metaObject()->className(), "QStyleSheetStyle");

    QDialog dialog;
    dialog.resize(120, 80);
    auto *button = new QPushButton(QStringLiteral("确定"), &dialog);
    button->setGeometry(10, 10, 80, 30);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    // What is drawn, not only what is set: the dialog's own background and
    // the button's fill both come out in the shifted colour.
    const QImage picture = dialog.grab().toImage();
    QCOMPARE(picture.pixelColor(110, 70).name(), window.name());
    QCOMPARE(picture.pixelColor(20, 30).name(), window.name());
}

void TestSkin::unusableSkinLeavesThePlainLook_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("kind"); // 0: the bytes, 1: no file, 2: a folder, 3: a link to them
    const QByteArray shipped = RuntimeFiles::resource(111);
    QByteArray garbage(4096, '\0');
    QRandomGenerator random(20240611);
    for (char &c : garbage)
        c = char(random.bounded(256));

    QTest::newRow("missing file") << QByteArray() << 1;
    QTest::newRow("a folder under the name") << QByteArray() << 2;
    QTest::newRow("a link to a good skin") << SmallSkin << 3;
    QTest::newRow("empty file") << QByteArray() << 0;
    QTest::newRow("wrong magic") << QByteArray(SmallSkin).replace(".SHE", ".SHX") << 0;
    QTest::newRow("cut inside the magic") << SmallSkin.left(2) << 0;
    QTest::newRow("shipped skin cut in half") << shipped.left(shipped.size() / 2) << 0;
    QTest::newRow("shipped skin without its last byte line")
        << shipped.left(shipped.lastIndexOf("[end]")) << 0;
    QTest::newRow("garbage bytes") << garbage << 0;
    QTest::newRow("magic then garbage") << QByteArray(".SHE\n") + garbage << 0;
    QTest::newRow("bad colour") << QByteArray(SmallSkin).replace("#cc3333", "#cc33zz") << 0;
    QTest::newRow("short colour") << QByteArray(SmallSkin).replace("#cc3333", "#c33") << 0;
    QTest::newRow("colour missing")
        << QByteArray(SmallSkin).replace("highlight = #3355cc\n", "") << 0;
    QTest::newRow("style names an undefined colour")
        << QByteArray(SmallSkin).replace("@buttonText", "@nowhere") << 0;
    QTest::newRow("unbalanced style")
        << QByteArray(SmallSkin).replace("@window; }", "@window;") << 0;
    QTest::newRow("other version")
        << QByteArray(SmallSkin).replace("version = 1", "version = 2") << 0;
    QTest::newRow("no version") << QByteArray(SmallSkin).replace("version = 1\n", "") << 0;
    QTest::newRow("not UTF-8") << QByteArray(SmallSkin).replace("test", "\xff\xfe") << 0;
    QTest::newRow("text after [end]") << SmallSkin + "QLabel { }\n" << 0;
    QTest::newRow("style names a file")
        << QByteArray(SmallSkin).replace("QDialog {", "QDialog { image: url(/etc/passwd);") << 0;
    QTest::newRow("style spells url with an escape")
        << QByteArray(SmallSkin).replace("QDialog {", "QDialog { image: \\75rl(/etc/passwd);") << 0;
}

void TestSkin::unusableSkinLeavesThePlainLook()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, kind);
    QString path = m_dir.filePath(QStringLiteral("absent.she"));
    if (kind == 0)
        path = writeSkin(bytes);
    if (kind == 3) {
        path = m_dir.filePath(QStringLiteral("link.she"));
        QVERIFY(QFile::link(writeSkin(bytes), path));
    }
    if (kind == 2) {
        path = m_dir.filePath(QStringLiteral("folder.she"));
        QVERIFY(QDir().mkpath(path));
    }

    QVERIFY(Skin::attachFile(path) != 0);
    QVERIFY(!Skin::attached());
    QVERIFY(qApp->styleSheet().isEmpty());
    QCOMPARE(QApplication::palette(), m_plainPalette);
    QVERIFY(Skin::adjustAttached(-157, 0, 0) != 0);

    // The program goes on: a message box still opens and draws.
    QMessageBox box(QMessageBox::Information, QStringLiteral("标题"), QStringLiteral("内容"),
                    QMessageBox::Ok);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QVERIFY(!box.grab().isNull());
    QCOMPARE(box.palette().color(QPalette::Window), m_plainPalette.color(QPalette::Window));
}

void TestSkin::shippedSkinIsWholeAndParses()
{
    const QByteArray bytes = RuntimeFiles::resource(111);
    QVERIFY(bytes.startsWith(".SHE"));
    QString error;
    const auto file = SkinFile::parse(bytes, &error);
    QVERIFY2(file, qPrintable(error));
    QVERIFY(!file->styleTemplate().isEmpty());

    // As the program attaches it.
    QTemporaryDir appDir;
    QVERIFY(appDir.isValid());
    QVERIFY(RuntimeFiles::writeAll(appDir.path()).at(1));
    QCOMPARE(Skin::attachFile(appDir.filePath(QStringLiteral("skinh.she"))), 0);
    QCOMPARE(Skin::adjustAttached(-157, 0, 0), 0);
    QCOMPARE(QApplication::palette().color(QPalette::Window),
             shippedSkin().colour(QStringLiteral("window")));
}

void TestSkin::shippedStyleSheetParsesCleanly()
{
    g_styleWarnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(catchStyleWarnings);
    QCOMPARE(Skin::attachFile(writeSkin(RuntimeFiles::resource(111))), 0);
    QCOMPARE(Skin::adjustAttached(-157, 0, 0), 0);

    // Qt parses the sheet lazily, when it first styles a widget.
    QWidget window;
    window.resize(300, 200);
    auto *frame = new QGroupBox(QStringLiteral("星座运势"), &window);
    frame->setGeometry(5, 5, 200, 100);
    new QPushButton(QStringLiteral("确定"), frame);
    auto *combo = new QComboBox(&window);
    combo->addItems({QStringLiteral("一月"), QStringLiteral("二月")});
    new QLineEdit(&window);
    auto *status = new QWidget(&window);
    status->setObjectName(QStringLiteral("S1"));
    new QLabel(QStringLiteral("运行提示："), status);
    QMenu menu;
    menu.addAction(QStringLiteral("复制"));
    menu.addSeparator();
    window.show();
    menu.ensurePolished();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.grab();
    qInstallMessageHandler(previous);
    QVERIFY2(g_styleWarnings.isEmpty(), qPrintable(g_styleWarnings.join(u'\n')));
}

void TestSkin::shippedSkinShowsSteelBlue()
{
    const Skin skin = shippedSkin();
    for (const QString &name : {QStringLiteral("accent"), QStringLiteral("title"),
                                QStringLiteral("window"), QStringLiteral("button")}) {
        const QColor file = QColor::fromString(skin.file().colour(name));
        const QColor shown = skin.colour(name);
        // Warm in the file, a sky-to-steel blue once the program has turned it.
        QVERIFY2(hueDistance(file.hsvHueF() * 360.0, 0.0) <= 20.0, qPrintable(name));
        QVERIFY2(hueDistance(shown.hsvHueF() * 360.0, 210.0) <= 15.0, qPrintable(name));
    }
}

void TestSkin::shippedSkinTextIsReadable_data()
{
    QTest::addColumn<QString>("foreground");
    QTest::addColumn<QString>("background");
    const char *pairs[][2] = {
        {"windowText", "window"},    {"text", "base"},         {"text", "alternateBase"},
        {"buttonText", "buttonTop"}, {"buttonText", "button"}, {"buttonText", "hover"},
        {"buttonText", "pressed"},   {"title", "window"},      {"highlightedText", "highlight"},
        {"tipText", "tipBase"},      {"windowText", "panel"},  {"text", "menuBase"},
        {"link", "window"},
    };
    for (const auto &pair : pairs)
        QTest::addRow("%s on %s", pair[0], pair[1]) << pair[0] << pair[1];
}

void TestSkin::shippedSkinTextIsReadable()
{
    QFETCH(QString, foreground);
    QFETCH(QString, background);
    const Skin skin = shippedSkin();
    const QColor fg = skin.colour(foreground);
    const QColor bg = skin.colour(background);
    QVERIFY(fg.isValid());
    QVERIFY(bg.isValid());
    const double ratio = contrast(fg, bg);
    QVERIFY2(ratio >= 4.5,
             qPrintable(
                 QStringLiteral("%1 on %2: %3:1").arg(fg.name(), bg.name()).arg(ratio, 0, 'f', 2)));
}

namespace {

// Releases whoever is blocked opening a named pipe for reading, should the
// program ever open one: the test then fails on the time instead of hanging.
class PipeWatchdog
{
public:
    PipeWatchdog(QByteArray pipe, std::chrono::milliseconds after)
        : m_thread([this, pipe = std::move(pipe), after] {
            std::unique_lock lock(m_mutex);
            if (m_done.wait_for(lock, after, [this] { return m_stop; }))
                return;
            while (
                !m_done.wait_for(lock, std::chrono::milliseconds(100), [this] { return m_stop; })) {
                const int fd = ::open(pipe.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                if (fd >= 0)
                    ::close(fd);
            }
        })
    {}
    ~PipeWatchdog()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_done.notify_all();
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_stop = false;
    std::thread m_thread;
};

} // namespace

// A program folder others may write to (sticky, like /tmp) with a skin in
// it whose style sheet points at a named pipe (PIPE): opening it would block
// the window's thread for good. Another user's file is not read at all; a
// file of one's own naming anything but the program's resources, or setting
// a control's properties, is refused.
void TestSkin::plantedSkinLeavesTheWindowUnskinned_data()
{
    QTest::addColumn<bool>("byNobody");
    QTest::addColumn<QByteArray>("rule");
    const QByteArray image = "QPushButton { image: url(PIPE); }";
    QTest::newRow("left by another user") << true << image;
    QTest::newRow("one's own, naming a pipe") << false << image;
    QTest::newRow("one's own, a label's text as a picture of a pipe")
        << false
        << QByteArray("QLabel#Label14 { qproperty-textFormat: RichText; "
                      "qproperty-text: \"<img src='PIPE'>\"; }");
}

void TestSkin::plantedSkinLeavesTheWindowUnskinned()
{
    QFETCH(bool, byNobody);
    QFETCH(QByteArray, rule);
    const passwd *nobody = ::getpwnam("nobody");
    if (byNobody && (::geteuid() != 0 || !nobody))
        QSKIP("A file of another user (nobody) needs root to make");
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QByteArray path = QFile::encodeName(folder.path());
    QCOMPARE(::chmod(path.constData(), 01777), 0);
    const QByteArray pipe = path + "/pipe";
    QCOMPARE(::mkfifo(pipe.constData(), 0666), 0);
    const QByteArray skin = QByteArray(SmallSkin).replace(
        "QDialog {", QByteArray(rule.replace("PIPE", pipe) + "\nQDialog {"));
    const QString skinPath = folder.filePath(QStringLiteral("skinh.she"));
    QFile file(skinPath);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(skin) == skin.size());
    file.close();
    if (byNobody)
        QCOMPARE(::chown(QFile::encodeName(skinPath).constData(), nobody->pw_uid, nobody->pw_gid),
                 0);

    const PipeWatchdog watchdog(pipe, std::chrono::seconds(5));
    QElapsedTimer clock;
    clock.start();
    MainWindowFixture window;
    window.environment.appDir = folder.path();
    QVERIFY(window.open());
    QVERIFY(!window.form()->grab().isNull());
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!Skin::attached());
    QVERIFY(qApp->styleSheet().isEmpty());
}

QTEST_MAIN(TestSkin)
#include "tst_skin.moc"
