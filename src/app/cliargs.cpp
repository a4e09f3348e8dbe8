#include "cliargs.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDebug>
#include <QGuiApplication>

#include <cstdlib>

namespace {

const char PasswordVariable[] = "TESSIVO_MQTT_PASSWORD";

// The options QGuiApplication takes out of argv before our parser sees it, written with one
// dash or two; the flags take no value.
const char *const ToolkitOptionsWithValue[] = {
    "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "geometry",
    "qwindowtitle", "title", "qwindowicon", "icon", "display", "session",
};
const char *const ToolkitFlags[] = {"reverse", "testability"};

struct Options
{
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Print help and exit")};
    QCommandLineOption version{{QStringLiteral("V"), QStringLiteral("version")},
                               QStringLiteral("Print version and exit")};
    QCommandLineOption verbose{{QStringLiteral("v"), QStringLiteral("verbose")},
                               QStringLiteral("Set log level: 0=err, 1=warn, 2=info(dfl), 3=dbg"),
                               QStringLiteral("level")};
    QCommandLineOption toStderr{{QStringLiteral("e"), QStringLiteral("stderr")},
                                QStringLiteral("Print messages to stderr, not just syslog")};
    QCommandLineOption color{{QStringLiteral("c"), QStringLiteral("color")}, QStringLiteral("Print messages in color.")};
    QCommandLineOption config{{QStringLiteral("f"), QStringLiteral("config")},
                              QStringLiteral("Set configuration file"), QStringLiteral("filename")};
    QCommandLineOption host{{QStringLiteral("H"), QStringLiteral("host")}, QStringLiteral("Set mqtt broker url"),
                            QStringLiteral("hostname")};
    QCommandLineOption port{{QStringLiteral("P"), QStringLiteral("port")}, QStringLiteral("Set mqtt broker port"),
                            QStringLiteral("port")};
    QCommandLineOption username{{QStringLiteral("u"), QStringLiteral("username")}, QStringLiteral("Set mqtt username"),
                                QStringLiteral("username")};
    QCommandLineOption password{{QStringLiteral("p"), QStringLiteral("password")}, QStringLiteral("Set mqtt password; every user sees it in the process list: prefer "
                                               "TESSIVO_MQTT_PASSWORD in the environment (or mqtt/password in the "
                                               "owner-only configuration file)"),
                                QStringLiteral("password")};

    void addTo(QCommandLineParser &parser) const
    {
        parser.addOptions({help, version, verbose, toStderr, color, config, host, port, username, password});
    }
};

} // namespace

void setApplicationIdentity()
{
    QCoreApplication::setApplicationName(QStringLiteral("Tessivo"));
    if (qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        QGuiApplication::setApplicationDisplayName(QStringLiteral("Tessivo"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TESSIVO_VERSION));
    QCoreApplication::setOrganizationName(QStringLiteral("orvo"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("orvo.local"));
}

QStringList withoutToolkitOptions(const QStringList &arguments)
{
    QStringList kept;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (i == 0 || !argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("--")) {
            kept << argument;
            continue;
        }
        const QString name = argument.mid(argument.startsWith(QLatin1String("--")) ? 2 : 1);
        if (name.startsWith(QLatin1String("qmljsdebugger=")))
            continue;
        bool toolkit = false;
        for (const char *option : ToolkitOptionsWithValue) {
            if (name == QLatin1String(option)) {
                toolkit = true;
                ++i; // and its value
                break;
            }
        }
        for (const char *flag : ToolkitFlags)
            toolkit = toolkit || name == QLatin1String(flag);
        if (!toolkit)
            kept << argument;
    }
    return kept;
}

void exitForInformationalOptions(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    arguments = withoutToolkitOptions(arguments);

    const Options options;
    QCommandLineParser parser;
    options.addTo(parser);
    if (parser.parse(arguments) && !parser.isSet(options.help) && !parser.isSet(options.version))
        return;

    // Help and version print the application's name and version and the program's name: a core
    // application carries them without a display. parseCLIArgs() prints and ends the process.
    QCoreApplication app(argc, argv);
    setApplicationIdentity();
    parseCLIArgs(arguments);
    std::exit(1); // not reached: these arguments end in help, version or an error
}

QVariantMap parseCLIArgs()
{
    return parseCLIArgs(QCoreApplication::arguments());
}

QVariantMap parseCLIArgs(const QStringList &arguments)
{
    const Options options;
    QCommandLineParser parser;
    options.addTo(parser);

    if (!parser.parse(arguments)) {
        qCritical().noquote().nospace() << "ERROR: " << parser.errorText();
        std::exit(1);
    }
    if (parser.isSet(options.help))
        parser.showHelp(0);
    if (parser.isSet(options.version))
        parser.showVersion();

    QVariantMap overrides;
    if (parser.isSet(options.verbose)) {
        bool ok = false;
        const int level = parser.value(options.verbose).toInt(&ok, 10);
        if (ok) {
            qInfo().noquote().nospace() << "Setting Log level : " << level;
            overrides.insert(QStringLiteral("log/level"), level);
        }
    }
    if (parser.isSet(options.toStderr)) {
        qInfo().noquote().nospace() << "Log to stderr overridden from user to true";
        overrides.insert(QStringLiteral("log/stderr"), true);
    }
    if (parser.isSet(options.color)) {
        qInfo().noquote().nospace() << "Log with color overridden from user to true";
        overrides.insert(QStringLiteral("log/color"), true);
    }
    if (parser.isSet(options.host)) {
        qInfo().noquote().nospace() << "Setting MQTT Host : " << parser.value(options.host);
        overrides.insert(QStringLiteral("mqtt/host"), parser.value(options.host));
    }
    if (parser.isSet(options.port)) {
        qInfo().noquote().nospace() << "Setting MQTT Port : " << parser.value(options.port);
        overrides.insert(QStringLiteral("mqtt/port"), parser.value(options.port).toInt(nullptr, 10));
    }
    if (parser.isSet(options.username)) {
        qInfo().noquote().nospace() << "Setting MQTT User : " << parser.value(options.username);
        overrides.insert(QStringLiteral("mqtt/username"), parser.value(options.username));
    }
    // The environment keeps the password out of /proc/<pid>/cmdline; -p, when given, wins.
    if (parser.isSet(options.password))
        overrides.insert(QStringLiteral("mqtt/password"), parser.value(options.password));
    else if (qEnvironmentVariableIsSet(PasswordVariable))
        overrides.insert(QStringLiteral("mqtt/password"), qEnvironmentVariable(PasswordVariable));
    if (parser.isSet(options.config)) {
        qInfo().noquote().nospace() << "Using configuration file : " << parser.value(options.config);
        overrides.insert(QStringLiteral("config"), parser.value(options.config));
    }
    return overrides;
}
