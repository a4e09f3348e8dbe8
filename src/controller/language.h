#pragma once

#include <QString>
#include <QTranslator>

// The language the texts are in: the Greek translation, loaded from the resources the first
// time it is needed and installed or removed as the language changes, and the locale every
// number and date is written in. English is the texts' own language and needs no translator.
class Language
{
public:
    QString current() const { return m_language; }
    // Switches to `language` ("el_GR", "en_US"); false when it is the one in force or the
    // translation cannot be loaded or installed (the language in force stays).
    bool switchTo(const QString &language);

private:
    QTranslator m_translator;
    bool m_loaded = false;
    QString m_language;
};
