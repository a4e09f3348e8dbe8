#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>

// The IPv4 settings of one interface. The values live in one map under the network service's
// own keys ("address", "netmask", "gateway", "dns0", "dns1"), so that a record converts to and
// from the service's JSON without loss. The record keeps whatever it is given; the checks of
// the dotted form, which every writer runs before it writes, are the two functions below.
class IPv4 : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString address READ address WRITE setAddress NOTIFY addressChanged)
    Q_PROPERTY(QString mask READ mask WRITE setMask NOTIFY maskChanged)
    Q_PROPERTY(QString gateway READ gateway WRITE setGateway NOTIFY gatewayChanged)
    Q_PROPERTY(QString dns0 READ dns0 WRITE setDns0 NOTIFY dns0Changed)
    Q_PROPERTY(QString dns1 READ dns1 WRITE setDns1 NOTIFY dns1Changed)

public:
    explicit IPv4(QObject *parent = nullptr);

    QString address() const;
    QString mask() const;
    QString gateway() const;
    QString dns0() const;
    QString dns1() const;

    // The stored map as it is; it holds all five keys once any setter or fromMap() has run.
    Q_INVOKABLE QVariantMap toMap() const;
    // Takes the five keys of a service map (absent ones as empty text) and ignores the rest.
    Q_INVOKABLE void fromMap(const QVariantMap &map);
    // True when `map` is exactly the stored map: the same keys, each value of the same type
    // and equal. A service object with a missing or extra key, or a value that is not text,
    // therefore never matches, and the caller applies it again.
    bool matches(const QVariantMap &map) const;

    // Four numbers 0 to 255 joined by dots, none with a leading zero ("10.0.0.1", not
    // "10.0.0.01").
    static bool isDotted(const QString &text);
    // The first reason why the five texts are no fixed configuration, or "" when they are one:
    // address and netmask required, gateway and DNS servers optional, every one dotted.
    static QString manualFailure(const QString &address, const QString &netmask, const QString &gateway,
                                 const QString &dns0, const QString &dns1);

public slots:
    void setAddress(const QString &address);
    void setMask(const QString &mask);
    void setGateway(const QString &gateway);
    void setDns0(const QString &dns0);
    void setDns1(const QString &dns1);

signals:
    void addressChanged();
    void maskChanged();
    void gatewayChanged();
    void dns0Changed();
    void dns1Changed();

private:
    QString value(const char *key) const;
    // Stores the text under the key; returns false when the key already held it.
    bool store(const char *key, const QString &text);

    QVariantMap m_map;
};

// The controller and the ethernet code reach the record under the application's namespace too.
namespace manager {
using ::IPv4;
}
