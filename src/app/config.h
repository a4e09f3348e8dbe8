#pragma once

#include <QFileSystemWatcher>
#include <QJsonObject>
#include <QMultiMap>
#include <QObject>
#include <QVariantMap>

// The application's settings as flat "group/name" keys in three layers: built-in defaults,
// the INI file, and command-line overrides. Changes made here are written to the file at once;
// outside edits of the file are picked up and announced.
class Config : public QObject
{
    Q_OBJECT

public:
    Config(const QString &fileName, const QVariantMap &defaults, QObject *parent = nullptr);

    QVariant get(const QString &key) const;
    void set(const QString &key, const QVariant &value);
    QStringList keys() const;

    void addOverrides(const QVariantMap &map);

    void print() const;
    void load();
    void save();

    // Bookkeeping entries of the file (a way back kept beside the settings): written or
    // dropped in one write, announced to nobody.
    void keep(const QVariantMap &entries);
    void drop(const QStringList &keys);

    QJsonObject toJson() const;
    void fromJson(const QJsonObject &json);

    QString filename() const { return m_fileName; }
    QVariantMap defaults() const { return m_defaults; }

    // Equality as the store sees it: the candidate converted to the type of the current value.
    static bool sameValue(const QVariant &current, const QVariant &candidate);

signals:
    void configChanged(const QVariantMap &changes);
    void configFileChanged();

private slots:
    void onFileChanged(const QString &path);
    void onDirectoryChanged(const QString &path);

private:
    QVariantMap readFile(bool *changed) const;
    void write(const QStringList &dropped);
    void watchFile();

    QString m_fileName;
    QVariantMap m_settings;
    QVariantMap m_defaults;
    QMultiMap<QString, QVariant> m_overrides;
    QFileSystemWatcher m_watcher;
};
