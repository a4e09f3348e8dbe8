#include "config.h"

#include "app/secrets.h"
#include "app/settingslock.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QJsonValue>
#include <QSettings>
#include <QTemporaryFile>

#include <cmath>
#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char Tag[] = "[Config] ";

constexpr mode_t OwnerOnly = S_IRUSR | S_IWUSR;

// JSON numbers arrive as doubles; whole numbers that fit are kept as integers so that they are
// written to the file and published again as integers.
QVariant fromJsonValue(const QJsonValue &value)
{
    QVariant variant = value.toVariant();
    if (value.isDouble()) {
        const double d = value.toDouble();
        // The range first: converting a double outside it to an integer is undefined.
        if (d >= std::numeric_limits<int>::min() && d <= std::numeric_limits<int>::max() && std::trunc(d) == d)
            variant = QVariant(int(d));
    }
    return variant;
}

} // namespace

Config::Config(const QString &fileName, const QVariantMap &defaults, QObject *parent)
    : QObject(parent)
    , m_fileName(fileName)
    , m_settings(defaults)
    , m_defaults(defaults)
{
    removeOwnerlessSettingsLock(m_fileName);
    if (!QFileInfo::exists(m_fileName)) {
        qWarning().noquote().nospace() << Tag << "Creating default config file : " << m_fileName;
        save();
    }
    load();

    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, &Config::onFileChanged);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &Config::onDirectoryChanged);
    watchFile();
    // The folder is watched as well: an editor that deletes and recreates the file removes
    // the file's own watch before the new file exists.
    const QString dir = QFileInfo(m_fileName).absolutePath();
    if (QFileInfo(dir).isDir())
        m_watcher.addPath(dir);
}

bool Config::sameValue(const QVariant &current, const QVariant &candidate)
{
    if (!current.isValid() || !candidate.isValid())
        return current.isValid() == candidate.isValid();
    if (current.userType() == candidate.userType())
        return current == candidate;
    QVariant converted = candidate;
    if (!converted.convert(current.userType()))
        return false;
    return converted == current;
}

QVariant Config::get(const QString &key) const
{
    const auto override = m_overrides.constFind(key);
    if (override != m_overrides.constEnd())
        return override.value(); // QMultiMap yields the value inserted last first
    if (m_defaults.contains(key))
        return m_settings.value(key, m_defaults.value(key));
    return m_settings.value(key);
}

void Config::set(const QString &key, const QVariant &value)
{
    const auto current = m_settings.constFind(key);
    if (current != m_settings.constEnd() && sameValue(current.value(), value))
        return;
    m_overrides.remove(key);
    m_settings.insert(key, value);
    emit configChanged({{key, value}});
    save();
}

QStringList Config::keys() const
{
    return m_settings.keys();
}

void Config::addOverrides(const QVariantMap &map)
{
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        m_overrides.insert(it.key(), it.value());
}

void Config::print() const
{
    const QString rule = QString(60, QLatin1Char('-'));
    int width = 0;
    for (auto it = m_settings.cbegin(); it != m_settings.cend(); ++it)
        width = qMax(width, it.key().size());

    qInfo().noquote().nospace() << Tag << rule;
    qInfo().noquote().nospace() << Tag << " SETTINGS (" << m_fileName << ")";
    qInfo().noquote().nospace() << Tag << rule;
    for (auto it = m_settings.cbegin(); it != m_settings.cend(); ++it) {
        QString value = get(it.key()).toString();
        // The broker password and the PIN never reach a log line.
        if (secrets::isSecretName(it.key()) && !value.isEmpty())
            value = secrets::Mask;
        qInfo().noquote().nospace() << Tag << QStringLiteral(" %1 : %2").arg(it.key(), -width).arg(value);
    }
    qInfo().noquote().nospace() << Tag << rule;
}

QVariantMap Config::readFile(bool *changed) const
{
    QVariantMap changes;
    // QSettings keeps parsed files cached by name and re-reads one only when its time stamp or
    // size changed; an edit of the same size within the file system's time-stamp granularity
    // would go unseen. A private copy under a fresh name is always parsed anew.
    QTemporaryFile copy;
    QFile file(m_fileName);
    if (!copy.open() || !file.open(QIODevice::ReadOnly) || copy.write(file.readAll()) < 0 || !copy.flush()) {
        *changed = false;
        return changes;
    }
    QSettings settings(copy.fileName(), QSettings::NativeFormat);
    const QStringList fileKeys = settings.allKeys();
    for (const QString &key : fileKeys) {
        const QVariant value = settings.value(key);
        const auto current = m_settings.constFind(key);
        if (current == m_settings.constEnd() || !sameValue(current.value(), value))
            changes.insert(key, value);
    }
    *changed = !changes.isEmpty();
    return changes;
}

void Config::load()
{
    bool changed = false;
    const QVariantMap changes = readFile(&changed);
    for (auto it = changes.cbegin(); it != changes.cend(); ++it)
        m_settings.insert(it.key(), it.value());
    if (changed)
        emit configChanged(changes);
}

void Config::keep(const QVariantMap &entries)
{
    bool changed = false;
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        const auto current = m_settings.constFind(it.key());
        if (current != m_settings.constEnd() && sameValue(current.value(), it.value()))
            continue;
        m_settings.insert(it.key(), it.value());
        changed = true;
    }
    if (changed)
        save();
}

void Config::drop(const QStringList &keys)
{
    QStringList dropped;
    for (const QString &key : keys) {
        if (!m_defaults.contains(key) && m_settings.remove(key))
            dropped << key;
    }
    if (!dropped.isEmpty())
        write(dropped);
}

void Config::save()
{
    write({});
}

void Config::write(const QStringList &dropped)
{
    m_watcher.removePath(m_fileName);
    // The file holds the broker password and the PIN: owner-only whatever the umask. A new file
    // is made so before anything is written to it; an older one is narrowed before the rewrite,
    // which keeps the mode of the file it replaces.
    const QByteArray name = QFile::encodeName(m_fileName);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, OwnerOnly);
    struct stat status;
    if (fd >= 0)
        ::close(fd);
    else if (::stat(name.constData(), &status) == 0 && S_ISREG(status.st_mode) && (status.st_mode & 077))
        ::chmod(name.constData(), OwnerOnly);
    {
        QSettings settings(m_fileName, QSettings::NativeFormat);
        for (const QString &key : dropped)
            settings.remove(key);
        for (auto it = m_settings.cbegin(); it != m_settings.cend(); ++it)
            settings.setValue(it.key(), it.value());
        settings.sync();
        // A lost write must not pass unnoticed: the values stay in memory, the log says so.
        if (settings.status() != QSettings::NoError)
            qWarning().noquote().nospace() << Tag << "Failed to write config file : " << m_fileName;
    }
    watchFile();
}

void Config::watchFile()
{
    // Re-arm rather than trust the old watch: after a rename over the file it may still be
    // listed while it follows the replaced inode.
    if (m_watcher.files().contains(m_fileName))
        m_watcher.removePath(m_fileName);
    if (QFileInfo::exists(m_fileName))
        m_watcher.addPath(m_fileName);
}

void Config::onFileChanged(const QString &)
{
    bool changed = false;
    const QVariantMap changes = readFile(&changed);
    for (auto it = changes.cbegin(); it != changes.cend(); ++it)
        m_settings.insert(it.key(), it.value());
    if (changed) {
        emit configFileChanged();
        emit configChanged(changes);
    }
    // Editors replace the file rather than rewrite it, which ends the watch on the old one.
    watchFile();
}

void Config::onDirectoryChanged(const QString &)
{
    // A file created, renamed or replaced in the folder; reading it again costs little and
    // announces nothing when the values are the same.
    if (QFileInfo::exists(m_fileName))
        onFileChanged(m_fileName);
}

QJsonObject Config::toJson() const
{
    QJsonObject result;
    QMap<QString, QVariantMap> groups;
    for (auto it = m_settings.cbegin(); it != m_settings.cend(); ++it) {
        const QString &key = it.key();
        const int slash = key.indexOf(QLatin1Char('/'));
        if (slash < 0)
            continue;
        const QString name = key.mid(slash + 1).section(QLatin1Char('/'), 0, 0);
        groups[key.left(slash)].insert(name, it.value());
    }
    // A key without a group (only an entry of the file's [General] section can be one) is
    // published as a plain top-level member; a group of the same name takes precedence.
    for (auto it = m_settings.cbegin(); it != m_settings.cend(); ++it) {
        if (!it.key().contains(QLatin1Char('/')) && !groups.contains(it.key()))
            result.insert(it.key(), QJsonValue::fromVariant(it.value()));
    }
    for (auto it = groups.cbegin(); it != groups.cend(); ++it)
        result.insert(it.key(), QJsonObject::fromVariantMap(it.value()));
    return result;
}

void Config::fromJson(const QJsonObject &json)
{
    QVariantMap flat;
    for (auto group = json.constBegin(); group != json.constEnd(); ++group) {
        if (!group.value().isObject())
            continue;
        const QJsonObject members = group.value().toObject();
        for (auto member = members.constBegin(); member != members.constEnd(); ++member) {
            // A setting is a text, a number or a boolean; anything else could not be stored.
            const QJsonValue value = member.value();
            if (value.isString() || value.isDouble() || value.isBool())
                flat.insert(group.key() + QLatin1Char('/') + member.key(), fromJsonValue(value));
        }
    }

    QVariantMap changes;
    for (auto it = flat.cbegin(); it != flat.cend(); ++it) {
        const auto current = m_settings.constFind(it.key());
        if (current == m_settings.constEnd() || sameValue(current.value(), it.value()))
            continue;
        m_settings.insert(it.key(), it.value());
        changes.insert(it.key(), it.value());
    }
    if (!changes.isEmpty()) {
        save();
        emit configChanged(changes);
    }
}
