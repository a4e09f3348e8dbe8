#include "app/runtimepaths.h"

#include <QDir>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QInputMethod>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QSignalSpy>
#include <QtTest>
#include <private/qguiapplication_p.h>
#include <qpa/qplatforminputcontext.h>
#include <qpa/qplatformintegration.h>

// The on-screen keyboard end to end: the input-method plug-in chosen by QT_IM_MODULE, the
// QML module's InputPanel on a page, typing into a real text field under a real X display.
class TestKeyboard : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void inputMethodIsOurs();
    void focusedFieldShowsPanel();
    void keysTypeIntoField_data();
    void keysTypeIntoField();
    void everySignReachesField();
    void enterActsAsReturn();
    void losingFocusHidesPanel_data();
    void losingFocusHidesPanel();
    void movingToAnotherFieldKeepsPanel();
    void hiddenPanelReturnsOnTap();
    void showWithoutTextFieldIsRefused();
    void screenshot();

private:
    QQuickItem *item(const char *name) const;
    void tap(const QString &name);
    void tap(QQuickItem *target);
    void focusField();

    QScopedPointer<QQuickView> m_view;
    QStringList m_warnings;
};

void TestKeyboard::init()
{
    m_warnings.clear();
    m_view.reset(new QQuickView);
    runtimepaths::addImportPaths(*m_view->engine());
    connect(m_view->engine(), &QQmlEngine::warnings, this, [this](const QList<QQmlError> &warnings) {
        for (const QQmlError &warning : warnings)
            m_warnings << warning.toString();
    });
    m_view->setSource(QUrl::fromLocalFile(QFINDTESTDATA("data/KeyboardPage.qml")));
    QCOMPARE(m_view->status(), QQuickView::Ready);
    m_view->show();
    m_view->requestActivate();
    QVERIFY(QTest::qWaitForWindowActive(m_view.data()));
    QVERIFY(!qGuiApp->inputMethod()->isVisible());
}

void TestKeyboard::cleanup()
{
    qGuiApp->inputMethod()->hide();
    m_view.reset();
    QVERIFY2(m_warnings.isEmpty(), qPrintable(m_warnings.join(QLatin1Char('\n'))));
}

// Searches the visual tree: keys made by a Repeater are its parent's child items, not its
// QObject children.
static QQuickItem *findItem(QQuickItem *parent, const QString &name)
{
    for (QQuickItem *child : parent->childItems()) {
        if (child->objectName() == name)
            return child;
        if (QQuickItem *found = findItem(child, name))
            return found;
    }
    return nullptr;
}

QQuickItem *TestKeyboard::item(const char *name) const
{
    return findItem(m_view->rootObject(), QLatin1String(name));
}

void TestKeyboard::tap(QQuickItem *target)
{
    QVERIFY(target);
    const QPointF centre = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
    QTest::mouseClick(m_view.data(), Qt::LeftButton, Qt::NoModifier, centre.toPoint());
}

void TestKeyboard::tap(const QString &name)
{
    QQuickItem *key = findItem(m_view->rootObject(), name);
    QVERIFY2(key, qPrintable(name));
    tap(key);
}

// Taps the field and waits until the panel has slid fully up.
void TestKeyboard::focusField()
{
    tap(item("field"));
    QVERIFY(item("field")->hasActiveFocus());
    QTRY_VERIFY(qGuiApp->inputMethod()->isVisible());
    QQuickItem *panel = item("inputPanel");
    QTRY_COMPARE(panel->y(), m_view->rootObject()->height() - panel->height());
}

// QT_IM_MODULE=freevirtualkeyboard makes the GUI library create our input context.
void TestKeyboard::inputMethodIsOurs()
{
    QPlatformInputContext *context = QGuiApplicationPrivate::platformIntegration()->inputContext();
    QVERIFY(context);
    QVERIFY(context->inherits("manager::VirtualKeyboardInputContext"));
}

// A field taking focus raises the input method and with it the panel, which is full width.
void TestKeyboard::focusedFieldShowsPanel()
{
    QQuickItem *panel = item("inputPanel");
    QVERIFY(!panel->isVisible());
    QSignalSpy visibleChanged(qGuiApp->inputMethod(), &QInputMethod::visibleChanged);

    focusField();
    QVERIFY(panel->isVisible());
    QCOMPARE(panel->width(), 480.0);
    QCOMPARE(panel->property("active").toBool(), true);
    QCOMPARE(visibleChanged.count(), 1);
}

void TestKeyboard::keysTypeIntoField_data()
{
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QString>("text");

    QTest::newRow("digit and letter") << QStringList{"key_1", "key_a"} << "1a";
    QTest::newRow("backspace deletes the last character")
        << QStringList{"key_1", "key_a", "key_backspace"} << "1";
    QTest::newRow("backspace on an empty field") << QStringList{"key_backspace", "key_0"} << "0";
    QTest::newRow("shift raises one letter") << QStringList{"key_shift", "key_k", "key_b"} << "Kb";
    QTest::newRow("shift twice locks, a third tap releases")
        << QStringList{"key_shift", "key_shift", "key_c", "key_d", "key_shift", "key_e"} << "CDe";
    QTest::newRow("punctuation and space")
        << QStringList{"key_period", "key_colon", "key_slash", "key_minus", "key_underscore", "key_space"}
        << ".:/-_ ";
    QTest::newRow("symbols and back to letters")
        << QStringList{"key_symbols", "key_@", "key_#", "key_symbols", "key_a"} << "@#a";
    QTest::newRow("an address with a user")
        << QStringList{"key_o", "key_b", "key_u", "key_symbols", "key_@", "key_symbols", "key_h"} << "obu@h";
}

// Each key types its character at the cursor, and the field keeps focus throughout.
void TestKeyboard::keysTypeIntoField()
{
    QFETCH(QStringList, keys);
    QFETCH(QString, text);

    focusField();
    for (const QString &key : keys)
        tap(key);
    QQuickItem *field = item("field");
    QTRY_COMPARE(field->property("text").toString(), text);
    QVERIFY(field->hasActiveFocus());
    QVERIFY(qGuiApp->inputMethod()->isVisible());
}

// A visible key showing `label`, on the layer up now.
static QQuickItem *keyLabelled(QQuickItem *parent, const QString &label)
{
    for (QQuickItem *child : parent->childItems()) {
        if (child->isVisible() && child->property("label").toString() == label)
            return child;
        if (QQuickItem *found = keyLabelled(child, label))
            return found;
    }
    return nullptr;
}

// Every printable ASCII sign is on one of the two layers and types exactly itself (an OBC URL
// with a user needs "@"); a panel shown again starts on the letters.
void TestKeyboard::everySignReachesField()
{
    const QString signs = QStringLiteral("!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~");
    focusField();
    for (const QChar sign : signs) {
        if (!keyLabelled(item("inputPanel"), sign))
            tap(QStringLiteral("key_symbols"));
        QVERIFY2(keyLabelled(item("inputPanel"), sign), qPrintable(QStringLiteral("no key for ") + sign));
        tap(keyLabelled(item("inputPanel"), sign));
    }
    QTRY_COMPARE(item("field")->property("text").toString(), signs);
    // The last sign, "~", left the symbols layer up.
    QVERIFY(keyLabelled(item("inputPanel"), QStringLiteral("@")));
    qGuiApp->inputMethod()->hide();
    QTRY_VERIFY(!item("inputPanel")->isVisible());
    focusField();
    QVERIFY(keyLabelled(item("inputPanel"), QStringLiteral("q")));
    QVERIFY(!keyLabelled(item("inputPanel"), QStringLiteral("@")));
}

// Enter reaches the field as Return, so the page treats it as its save action.
void TestKeyboard::enterActsAsReturn()
{
    focusField();
    tap(QStringLiteral("key_7"));
    tap(QStringLiteral("key_enter"));
    QObject *root = m_view->rootObject();
    QTRY_COMPARE(root->property("acceptedCount").toInt(), 1);
    QCOMPARE(root->property("enterCount").toInt(), 1);
    QCOMPARE(item("field")->property("text").toString(), QStringLiteral("7"));
}

void TestKeyboard::losingFocusHidesPanel_data()
{
    QTest::addColumn<QString>("how");

    QTest::newRow("another item takes focus") << "sink";
    QTest::newRow("field drops focus") << "drop";
    QTest::newRow("window loses activation") << "window";
}

// When focus leaves for something that takes no text the panel goes.
void TestKeyboard::losingFocusHidesPanel()
{
    QFETCH(QString, how);

    focusField();
    QScopedPointer<QWindow> other;
    if (how == QLatin1String("sink")) {
        item("focusSink")->forceActiveFocus();
    } else if (how == QLatin1String("drop")) {
        item("field")->setFocus(false);
    } else {
        other.reset(new QWindow);
        other->resize(100, 100);
        other->show();
        other->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(other.data()));
    }
    QTRY_VERIFY(!qGuiApp->inputMethod()->isVisible());
    QTRY_VERIFY(!item("inputPanel")->isVisible());
}

// Focus going straight from one field to another keeps the panel up.
void TestKeyboard::movingToAnotherFieldKeepsPanel()
{
    focusField();
    QSignalSpy visibleChanged(qGuiApp->inputMethod(), &QInputMethod::visibleChanged);
    tap(item("secondField"));
    QTRY_VERIFY(item("secondField")->hasActiveFocus());
    tap(QStringLiteral("key_2"));
    QTRY_COMPARE(item("secondField")->property("text").toString(), QStringLiteral("2"));
    QCOMPARE(item("field")->property("text").toString(), QString());
    QVERIFY(qGuiApp->inputMethod()->isVisible());
    QCOMPARE(visibleChanged.count(), 0);
}

// A page that hides the panel leaves the field focused; tapping the field brings it back.
void TestKeyboard::hiddenPanelReturnsOnTap()
{
    focusField();
    qGuiApp->inputMethod()->hide();
    QTRY_VERIFY(!item("inputPanel")->isVisible());
    QVERIFY(item("field")->hasActiveFocus());

    focusField();
    QVERIFY(item("inputPanel")->isVisible());
}

// Asked for while nothing that takes text has focus, the panel stays down: it could type nowhere.
void TestKeyboard::showWithoutTextFieldIsRefused()
{
    item("focusSink")->forceActiveFocus();
    qGuiApp->inputMethod()->show();
    QVERIFY(!qGuiApp->inputMethod()->isVisible());
    QVERIFY(!item("inputPanel")->isVisible());
}

// The panel as a technician sees it, for a look at its legibility.
void TestKeyboard::screenshot()
{
    focusField();
    for (const char *key : {"key_shift", "key_k", "key_1", "key_2", "key_3"})
        tap(QLatin1String(key));
    QTRY_COMPARE(item("field")->property("text").toString(), QStringLiteral("K123"));
    tap(QStringLiteral("key_shift"));
    QTRY_VERIFY(item("inputPanel")->property("upperCase").toBool());

    const QString dir = qEnvironmentVariable("TESSIVO_ARTIFACTS", QDir::tempPath());
    QVERIFY(QDir().mkpath(dir));
    const QImage image = m_view->grabWindow();
    QVERIFY(!image.isNull());
    QVERIFY(image.save(dir + QStringLiteral("/keyboard.png")));
    tap(QStringLiteral("key_symbols"));
    QTRY_VERIFY(item("key_@"));
    QVERIFY(m_view->grabWindow().save(dir + QStringLiteral("/keyboard-symbols.png")));
}

int main(int argc, char *argv[])
{
    // As the application does: the input method is chosen, and its folder known, before the
    // application object loads the plug-ins.
    qputenv("QT_IM_MODULE", QByteArrayLiteral("freevirtualkeyboard"));
    runtimepaths::addLibraryPaths();

    QGuiApplication app(argc, argv);
    const int font = QFontDatabase::addApplicationFont(QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"));
    if (font >= 0)
        app.setFont(QFont(QStringLiteral("DejaVu Sans")));

    TestKeyboard test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_keyboard.moc"
