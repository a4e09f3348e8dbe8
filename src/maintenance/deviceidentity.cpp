#include "deviceidentity.h"

#include "app/config.h"

#include <QDebug>
#include <QFile>
#include <QSaveFile>
#include <QTextStream>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Reads and writes the file "gui/deviceId" names: the number on its first line with more than
// blanks, written back as the number alone.

namespace {

// The lines keep the controller's tag: the serial number was always the controller's.
const char Tag[] = "[GUIManager] ";

// A serial number is one short line; the file holding it is never near this.
constexpr int LargestSerialNumberFile = 4096;

// The path comes from the configuration, which the broker may set: only a small regular file is
// read, without blocking. A device (/dev/zero), a FIFO with no writer or a huge file would
// otherwise stop the scene for good, and again at every start, since the path is saved.
QByteArray readSerialNumberFile(const QString &fileName, QString *error)
{
    const QByteArray name = QFile::encodeName(fileName);
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return QByteArray();
    }
    QByteArray content;
    struct stat status;
    if (::fstat(fd, &status) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
    } else if (!S_ISREG(status.st_mode)) {
        *error = QStringLiteral("Not a regular file");
    } else if (status.st_size > LargestSerialNumberFile) {
        *error = QStringLiteral("Larger than %1 bytes").arg(LargestSerialNumberFile);
    } else {
        // One byte more than allowed tells a file that grew after the check.
        content.resize(LargestSerialNumberFile + 1);
        qint64 total = 0;
        while (total < content.size()) {
            const ssize_t count = ::read(fd, content.data() + total, size_t(content.size() - total));
            if (count < 0 && errno == EINTR)
                continue;
            if (count < 0) {
                *error = QString::fromLocal8Bit(std::strerror(errno));
                break;
            }
            if (count == 0)
                break;
            total += count;
        }
        content.truncate(int(total));
        if (error->isEmpty() && total > LargestSerialNumberFile)
            *error = QStringLiteral("Larger than %1 bytes").arg(LargestSerialNumberFile);
    }
    ::close(fd);
    return error->isEmpty() ? content : QByteArray();
}

QString fileName(const Config &config)
{
    return config.get(QStringLiteral("gui/deviceId")).toString();
}

} // namespace

DeviceIdentity::DeviceIdentity(Config &config, QObject *parent)
    : QObject(parent)
    , m_config(config)
{
}

void DeviceIdentity::load()
{
    const QString file = fileName(m_config);
    qInfo().noquote().nospace() << Tag << "Loading device id from : " << file;
    QString error;
    const QByteArray content = readSerialNumberFile(file, &error);
    if (!error.isEmpty()) {
        qCritical().noquote().nospace() << Tag << "ERROR: Could not load device S/N from file : " << file << " ("
                                        << error << ")";
        return;
    }
    QTextStream stream(content);
    QString line;
    while (stream.readLineInto(&line)) {
        // A line of blanks is no number: the first line with something on it is.
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        m_deviceId = line;
        emit deviceIdChanged();
        break;
    }
}

bool DeviceIdentity::save()
{
    const QString file = fileName(m_config);
    qInfo().noquote().nospace() << Tag << "Saving device id to : " << file;
    // Written beside the old file and renamed over it, so that a power cut leaves either the
    // old or the new number, never an empty or half-written file. Where the folder is not
    // writable the file is written in place.
    QSaveFile out(file);
    out.setDirectWriteFallback(true);
    if (out.open(QIODevice::WriteOnly)) {
        out.write(m_deviceId.toUtf8());
        if (out.commit())
            return true;
    }
    qCritical().noquote().nospace() << Tag << "ERROR: Could not save device S/N to file : " << file << " ("
                                    << out.errorString() << ")";
    emit saveFailed(out.errorString());
    return false;
}

void DeviceIdentity::setDeviceId(const QString &deviceId)
{
    if (deviceId == m_deviceId)
        return;
    qWarning().noquote().nospace() << Tag << "Device ID changed : " << deviceId;
    const QString previous = m_deviceId;
    m_deviceId = deviceId;
    // A number that cannot be kept is not taken: the validator would lose it at the next start,
    // and the serial-number page stays up, showing the failure, instead of going into service.
    if (!save()) {
        m_deviceId = previous;
        return;
    }
    emit deviceIdChanged();
}
