#include "language.h"

#include <QCoreApplication>
#include <QDebug>
#include <QLocale>

namespace {

// The controller's own lines: they keep its tag.
const char Tag[] = "[GUIManager] ";
const QString TranslationFile = QStringLiteral(":/qml/translations/Tessivo_el_GR.qm");

} // namespace

bool Language::switchTo(const QString &language)
{
    if (language == m_language)
        return false;
    qInfo().noquote().nospace() << Tag << "Language changed : " << language;

    if (!m_loaded) {
        qInfo().noquote().nospace() << Tag << "Loading translation file : " << TranslationFile;
        if (!m_translator.load(TranslationFile)) {
            qCritical().noquote().nospace() << Tag << "ERROR: Failed to load translation file";
            return false;
        }
        m_loaded = true;
    }

    const QLocale locale(language);
    if (locale.language() == QLocale::English) {
        QCoreApplication::removeTranslator(&m_translator);
    } else if (!QCoreApplication::installTranslator(&m_translator)) {
        qCritical().noquote().nospace() << Tag << "ERROR: Failed to install translator";
        return false;
    }
    QLocale::setDefault(locale);
    m_language = language;
    return true;
}
