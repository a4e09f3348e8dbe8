#include "console.h"
#include "exporter.h"
#include "rollout.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QLoggingCategory>
#include <QTextStream>

#include <cmath>
#include <cstdio>

// tessivo-fleet: the depot console. Shows every validator whose bridge reaches the depot
// broker and changes their settings (see --help).

namespace {

bool verbose = false;
QString lastWarning;

// The client's lines go to stderr only with --verbose; its last complaint is kept for the
// line that says the depot could not be reached. No line carries a password.
void onMessage(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtWarningMsg || type == QtCriticalMsg)
        lastWarning = message;
    if (verbose || type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

int usage(QTextStream &err, const QString &message)
{
    err << "tessivo-fleet: " << message << Qt::endl << "Try tessivo-fleet --help." << Qt::endl;
    return fleet::Usage;
}

bool readExpected(const QString &fileName, QStringList *serials, QString *problem)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *problem = fileName + QStringLiteral(": ") + file.errorString();
        return false;
    }
    int number = 0;
    while (!file.atEnd()) {
        ++number;
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (!fleet::Fleet::isSerial(line)) {
            *problem = QStringLiteral("%1 line %2: not a serial number").arg(fileName).arg(number);
            return false;
        }
        *serials << line;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessivo-fleet"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TESSIVO_VERSION));
    qInstallMessageHandler(onMessage);
    QTextStream out(stdout);
    QTextStream err(stderr);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
            "The depot console: every validator that the depot broker hears of through its bridge.\n\n"
            "  status [--watch]                      one line per validator; --watch: a line per change\n"
            "  set GROUP/NAME VALUE --id SERIAL|--all change a setting, read it back from each validator\n"
            "                                        (mqtt/base and topics/* only with --force)\n"
            "  get config|info|status --id SERIAL    one validator's settings, version or status\n"
            "  exporter [--listen ADDR:PORT]         the table as Prometheus metrics on /metrics\n"
            "  update check|install --id SERIAL|--all [--version V] [--wave N|N%]\n"
            "                                        software roll-out through the device service; an\n"
            "                                        install goes in waves (default 10 %), the next once\n"
            "                                        the last reports the new version; one failure stops it\n\n"
            "Several depots: -H once for each (HOST or HOST:PORT); the table merges them (not update).\n\n"
            "Exit status: 0 success (status: every validator up), 1 a validator failed, 2 usage,\n"
            "3 a depot broker could not be reached (status shows the others), 4 the depot knows no\n"
            "validator, 5 the exporter cannot listen."));
    const QCommandLineOption help({"h", "help"}, "Show this help.");
    // -V as the application has it; -v is the log.
    // --version alone prints ours; with a value it names the version to roll out.
    const QCommandLineOption version("V", "Print the version and exit (also --version alone).");
    const QCommandLineOption target("version", "The software version to roll out (update; default: what each "
                                               "validator has pending).", "version");
    const QCommandLineOption wave("wave", "Validators per wave of an install, N or N% (default 10%).", "size", "10%");
    const QCommandLineOption host({"H", "host"}, "Depot broker host, or HOST:PORT; repeatable, one per depot "
                                                 "(default localhost).", "hostname");
    const QCommandLineOption port({"P", "port"}, "Depot broker port (default 8883 with --cafile, else 1883).", "port");
    const QCommandLineOption username({"u", "username"}, "MQTT user name.", "username");
    const QCommandLineOption password({"p", "password"},
            "MQTT password (never shown); TESSIVO_FLEET_PASSWORD in the environment keeps it off the command line.",
            "password");
    const QCommandLineOption cafile("cafile", "CA certificate(s) of the depot broker: TLS on.", "file");
    const QCommandLineOption certfile("certfile", "The console's client certificate.", "file");
    const QCommandLineOption keyfile("keyfile", "Its private key.", "file");
    const QCommandLineOption insecure("insecure", "Do not check the broker's certificate against its host name (tests only).");
    const QCommandLineOption id("id", "A validator's serial number (repeatable, or comma-separated).", "serial");
    const QCommandLineOption all("all", "Every validator the depot knows (set, update).");
    const QCommandLineOption force("force", "Send a change of mqtt/base or topics/*, which the bridges do not follow (set).");
    const QCommandLineOption watch("watch", "Keep the table live, a line per change (status).");
    const QCommandLineOption expect("expect", "File of the serial numbers that must show, one a line; the others "
                                              "show as never seen.", "file");
    const QCommandLineOption timeout("timeout", "Seconds to wait for the depot and for each answer (default 5).",
                                     "seconds", "5");
    const QCommandLineOption listen("listen", QStringLiteral("Address and port of the exporter (default %1).")
                                                      .arg(fleet::Exporter::DefaultListen), "address:port");
    const QCommandLineOption verboseOption({"v", "verbose"}, "Show the MQTT client's log on stderr.");
    parser.addOptions({help, version, target, wave, host, port, username, password, cafile, certfile, keyfile, insecure, id,
                       all, force, watch, expect, timeout, listen, verboseOption});
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("status, set, get, update or exporter, and its arguments."));
    const bool versionAlone = app.arguments().mid(1) == QStringList{QStringLiteral("--version")};
    // Not process(): it exits 1 on a misspelt option, the code of a failed validator.
    if (!versionAlone && !parser.parse(app.arguments()))
        return usage(err, parser.errorText());
    if (!versionAlone && parser.isSet(help)) {
        out << parser.helpText();
        out.flush();
        return fleet::Success;
    }
    if (versionAlone || parser.isSet(version)) {
        out << QCoreApplication::applicationName() << ' ' << QCoreApplication::applicationVersion() << Qt::endl;
        return fleet::Success;
    }
    verbose = parser.isSet(verboseOption);
    // The client's debug line for each request is formatted only to be dropped otherwise: with
    // thousands of validators that is a good part of a status.
    if (!verbose)
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));

    fleet::Options options;
    options.lastClientWarning = [] { return lastWarning; };
    fleet::Depot::Settings depot;
    options.force = parser.isSet(force);
    depot.username = parser.value(username);
    depot.password = parser.isSet(password) ? parser.value(password) : qEnvironmentVariable("TESSIVO_FLEET_PASSWORD");
    depot.tls.caFile = parser.value(cafile);
    depot.tls.certFile = parser.value(certfile);
    depot.tls.keyFile = parser.value(keyfile);
    depot.tls.insecure = parser.isSet(insecure);
    if (depot.tls.certFile.isEmpty() != depot.tls.keyFile.isEmpty())
        return usage(err, QStringLiteral("--certfile and --keyfile go together"));
    if (!depot.tls.enabled() && (!depot.tls.certFile.isEmpty() || depot.tls.insecure))
        return usage(err, QStringLiteral("--certfile, --keyfile and --insecure need --cafile"));
    for (const QString &file : {depot.tls.caFile, depot.tls.certFile, depot.tls.keyFile}) {
        if (!file.isEmpty() && !QFile::exists(file))
            return usage(err, QStringLiteral("no such file: ") + file);
    }
    bool ok = true;
    const uint portNumber = parser.isSet(port) ? parser.value(port).toUInt(&ok) : (depot.tls.enabled() ? 8883 : 1883);
    if (!ok || portNumber == 0 || portNumber > 65535)
        return usage(err, QStringLiteral("invalid port: ") + parser.value(port));
    depot.port = quint16(portNumber);
    const QStringList hosts = parser.isSet(host) ? parser.values(host) : QStringList{QStringLiteral("localhost")};
    for (const QString &name : hosts) {
        fleet::Depot::Settings one = depot;
        // HOST:PORT, but an IPv6 address alone has colons of its own.
        const int colon = name.lastIndexOf(QLatin1Char(':'));
        if (colon > 0 && name.count(QLatin1Char(':')) == 1) {
            const uint own = name.mid(colon + 1).toUInt(&ok);
            if (!ok || own == 0 || own > 65535)
                return usage(err, QStringLiteral("invalid port: ") + name);
            one.host = name.left(colon);
            one.port = quint16(own);
        } else {
            one.host = name;
        }
        if (one.host.isEmpty())
            return usage(err, QStringLiteral("invalid host: ") + name);
        options.depots << one;
    }
    const double seconds = parser.value(timeout).toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds <= 0 || seconds > 3600)
        return usage(err, QStringLiteral("invalid time-out: ") + parser.value(timeout));
    options.timeoutMs = int(seconds * 1000);
    if (parser.isSet(expect)) {
        QString problem;
        if (!readExpected(parser.value(expect), &options.expected, &problem))
            return usage(err, problem);
    }
    QStringList ids;
    for (const QString &value : parser.values(id)) {
        for (const QString &serial : value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            if (!fleet::Fleet::isSerial(serial.trimmed()))
                return usage(err, QStringLiteral("not a serial number: ") + serial);
            ids << serial.trimmed();
        }
    }

    const QStringList args = parser.positionalArguments();
    const QString command = args.value(0);
    fleet::Console console(options, out, err);
    if (parser.isSet(listen) && command != QLatin1String("exporter"))
        return usage(err, QStringLiteral("--listen is for the exporter"));
    if (command == QLatin1String("status") && args.size() == 1) {
        if (!ids.isEmpty() || parser.isSet(all))
            return usage(err, QStringLiteral("status shows every validator; --id and --all are for set and get"));
        return console.status(parser.isSet(watch));
    }
    if (parser.isSet(watch))
        return usage(err, QStringLiteral("--watch is for status"));
    if (command == QLatin1String("exporter") && args.size() == 1) {
        if (!ids.isEmpty() || parser.isSet(all))
            return usage(err, QStringLiteral("the exporter shows every validator; --id and --all are for set and get"));
        QHostAddress address;
        quint16 listenPort = 0;
        if (!fleet::Exporter::parseListen(parser.isSet(listen) ? parser.value(listen) : fleet::Exporter::DefaultListen,
                                          &address, &listenPort))
            return usage(err, QStringLiteral("invalid --listen, ADDR:PORT as in 127.0.0.1:9738: ") + parser.value(listen));
        fleet::Exporter exporter(console);
        QString problem;
        if (!exporter.listen(address, listenPort, &problem)) {
            err << "tessivo-fleet: cannot listen on "
                << (parser.isSet(listen) ? parser.value(listen) : fleet::Exporter::DefaultListen) << ": " << problem
                << Qt::endl;
            return fleet::CannotListen;
        }
        console.follow();
        return app.exec();
    }
    if (command == QLatin1String("set") && args.size() == 3) {
        if (ids.isEmpty() == !parser.isSet(all))
            return usage(err, QStringLiteral("set needs either --id SERIAL or --all"));
        return console.set(args.at(1), args.at(2), ids, parser.isSet(all));
    }
    if (command == QLatin1String("update") && args.size() == 2) {
        // A roll-out follows its waves through one depot; each garage rolls out on its own.
        if (options.depots.size() > 1)
            return usage(err, QStringLiteral("update goes through one depot: give -H once"));
        fleet::Rollout::Plan plan;
        if (args.at(1) != QLatin1String("check") && args.at(1) != QLatin1String("install"))
            return usage(err, QStringLiteral("update check or update install, not update ") + args.at(1));
        plan.action = args.at(1) == QLatin1String("check") ? fleet::Rollout::Action::Check : fleet::Rollout::Action::Install;
        if (ids.isEmpty() == !parser.isSet(all))
            return usage(err, QStringLiteral("update needs either --id SERIAL or --all"));
        if (!fleet::Rollout::parseWave(parser.value(wave), &plan.waveCount, &plan.wavePercent))
            return usage(err, QStringLiteral("--wave is a number of validators or a percentage: ") + parser.value(wave));
        plan.ids = ids;
        plan.all = parser.isSet(all);
        plan.version = parser.value(target);
        return fleet::Rollout(options, out, err).run(plan);
    }
    if (command == QLatin1String("get") && args.size() == 2) {
        if (parser.isSet(all))
            return usage(err, QStringLiteral("get asks the validators named with --id"));
        return console.get(args.at(1), ids);
    }
    return usage(err, command.isEmpty() ? QStringLiteral("no command") : QStringLiteral("unknown command or arguments: ") + args.join(' '));
}
