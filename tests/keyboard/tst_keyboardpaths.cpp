#include "app/runtimepaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QQmlEngine>
#include <QTemporaryDir>
#include <QtTest>

// Where the keyboard's plug-in and QML module are looked for, and in which order.
class TestKeyboardPaths : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void searchOrder_data();
    void searchOrder();
    void existingFoldersComeFirstInOrder();
};

void TestKeyboardPaths::cleanup()
{
    qunsetenv("TESSIVO_PLUGIN_DIR");
    qunsetenv("TESSIVO_QML_DIR");
}

void TestKeyboardPaths::searchOrder_data()
{
    QTest::addColumn<QString>("environment");
    QTest::addColumn<QStringList>("plugins");
    QTest::addColumn<QStringList>("qml");

    const QString buildPlugins = QStringLiteral(EXPECTED_BUILD_PLUGIN_DIR);
    const QString buildQml = QStringLiteral(EXPECTED_BUILD_QML_DIR);
    QTest::newRow("no override")
        << QString()
        << QStringList{"/opt/tessivo/bin/plugins", "/opt/tessivo/lib/tessivo/plugins", buildPlugins}
        << QStringList{"/opt/tessivo/bin/qml", "/opt/tessivo/lib/tessivo/qml", buildQml};
    QTest::newRow("override list first")
        << "/one:/two/"
        << QStringList{"/one", "/two", "/opt/tessivo/bin/plugins", "/opt/tessivo/lib/tessivo/plugins", buildPlugins}
        << QStringList{"/one", "/two", "/opt/tessivo/bin/qml", "/opt/tessivo/lib/tessivo/qml", buildQml};
}

// Override, beside the program (build tree), the installation, then the build tree compiled in.
void TestKeyboardPaths::searchOrder()
{
    QFETCH(QString, environment);
    QFETCH(QStringList, plugins);
    QFETCH(QStringList, qml);

    if (!environment.isEmpty()) {
        qputenv("TESSIVO_PLUGIN_DIR", environment.toUtf8());
        qputenv("TESSIVO_QML_DIR", environment.toUtf8());
    }
    const QString exeDir = QStringLiteral("/opt/tessivo/bin");
    QCOMPARE(runtimepaths::pluginPaths(exeDir), plugins);
    QCOMPARE(runtimepaths::qmlImportPaths(exeDir), qml);
}

// Folders that exist are searched before Qt's own, in the order above; missing ones are left out.
void TestKeyboardPaths::existingFoldersComeFirstInOrder()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString first = tmp.filePath(QStringLiteral("first"));
    const QString second = tmp.filePath(QStringLiteral("second"));
    const QString missing = tmp.filePath(QStringLiteral("missing"));
    QVERIFY(QDir().mkpath(first) && QDir().mkpath(second));
    const QByteArray list = (first + QLatin1Char(':') + missing + QLatin1Char(':') + second).toUtf8();
    qputenv("TESSIVO_PLUGIN_DIR", list);
    qputenv("TESSIVO_QML_DIR", list);

    // The build tree's folders exist (the keyboard was built), the test's neighbours do not.
    const QStringList expected{first, second};
    runtimepaths::addLibraryPaths();
    QCOMPARE(QCoreApplication::libraryPaths().mid(0, 3),
             expected + QStringList{QDir(QStringLiteral(EXPECTED_BUILD_PLUGIN_DIR)).canonicalPath()});

    QQmlEngine engine;
    runtimepaths::addImportPaths(engine);
    QCOMPARE(engine.importPathList().mid(0, 3), expected + QStringList{QStringLiteral(EXPECTED_BUILD_QML_DIR)});
}

QTEST_GUILESS_MAIN(TestKeyboardPaths)
#include "tst_keyboardpaths.moc"
