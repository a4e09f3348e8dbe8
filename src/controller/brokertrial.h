#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantMap>

class Config;

// Puts new broker settings (host, port, user name, password) on trial, however they came: over
// "<base>/config/set" or by an edit of the file. Until a connection is made with them, the way
// back (the settings of the last connection) is kept in the file beside them, under "trial/";
// without a connection within the trial time those settings are restored and written back, so
// that no setting sent from afar can leave the validator out of reach. A restart during the
// trial reads the way back from the file and starts the trial time again.
class BrokerTrial : public QObject
{
    Q_OBJECT

public:
    // Long enough for a broker that is slow to answer or a name server that is slow to reply
    // (each attempt times out after 3 s), short enough that a depot sees the validator back
    // within a minute and a half of a wrong setting.
    static constexpr int DefaultTrialMs = 60 * 1000;

    explicit BrokerTrial(Config &config, QObject *parent = nullptr);

    bool active() const { return m_timer.isActive(); }
    // Tests shorten the trial; a trial under way is timed again with the new length.
    void setTrialMs(int ms);

    // Before "/config/set" stores its accepted settings: the way back goes into the file first,
    // so that no moment on disk has new broker settings without it.
    void keepWayBack(const QJsonObject &accepted);
    // After them: a way back that no trial needs (the values were in force already) goes again.
    void settle();

public slots:
    // A connection with the settings in force: they are the way back from now on.
    void onConnected();

private slots:
    void onConfigChanged(const QVariantMap &changes);
    void onTimeout();

private:
    struct Settings
    {
        QString host;
        int port = 0;
        QString username;
        QString password;
        bool valid = false;
        bool operator==(const Settings &other) const
        {
            return valid == other.valid && host == other.host && port == other.port && username == other.username
                    && password == other.password;
        }
        bool operator!=(const Settings &other) const { return !(*this == other); }
    };

    Settings inForce() const;
    Settings kept() const;
    void start();
    void end();

    Config &m_config;
    QTimer m_timer;
    // The settings to go back to: those of the last connection, or the way back of a trial
    // that a restart interrupted; not valid before the first connection.
    Settings m_good;
};
