#include "controllerfixture.h"

#include "app/logger.h"
#include "app/resources.h"

#include <QCoreApplication>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>

ControllerFixture::ControllerFixture(quint16 port, const QByteArray &extraConfig)
{
    const QString serial = m_dir.filePath(QStringLiteral("serialnumber"));
    QFile serialFile(serial);
    serialFile.open(QIODevice::WriteOnly);
    serialFile.write("TSV-0001\n");
    serialFile.close();

    QFile conf(m_dir.filePath(QStringLiteral("gui.conf")));
    conf.open(QIODevice::WriteOnly);
    conf.write(QStringLiteral("[log]\nsyslog=false\n[mqtt]\nhost=127.0.0.1\nport=%1\n[gui]\ndeviceId=%2\nlocale=en_IE\n")
                   .arg(port)
                   .arg(serial)
                   .toUtf8());
    conf.write(extraConfig);
    conf.close();

    m_config.reset(new Config(m_dir.filePath(QStringLiteral("gui.conf")), GUIManager::Defaults));
    m_manager.reset(new GUIManager(*m_config, m_dir.filePath(QStringLiteral("events.ini"))));
}

void ControllerFixture::initProcess()
{
    initTessivoResources();
    QCoreApplication::setApplicationName(QStringLiteral("Tessivo"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TESSIVO_VERSION));
    // The scene's font, as the program registers it.
    QFontDatabase::addApplicationFont(QStringLiteral(":/qml/fonts/DejaVuSans.ttf"));
    QGuiApplication::setFont(QFont(QStringLiteral("DejaVu Sans")));
    // The controller installs the process-wide log handler; doing it once here lets each
    // test's LogCapture sit in front of it.
    manager::Logger::instance();
}
