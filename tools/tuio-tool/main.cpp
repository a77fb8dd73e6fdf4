// tactalon-tuio: prints the TUIO 1.1 cursor frames that arrive on a port (dump), sends
// scripted gestures as a tracker would (play), or prints what the running agent sees (monitor).

#include "AgentMonitor.h"
#include "GesturePlan.h"
#include "GesturePlayer.h"
#include "TuioDumper.h"
#include "platform/UnixSignalWatcher.h"
#include "tuio/encoder/TuioSender.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QHostInfo>
#include <QTextStream>
#include <QUdpSocket>
#include <optional>

namespace {

constexpr int kUsageError = 2;

struct Options
{
    QString command;
    QStringList arguments; // after the command
    QString host = QStringLiteral("127.0.0.1");
    quint16 port = 3333;
    double rate = 60; // frames per second
    QString address;  // dump: where to listen; empty = loopback
};

QString usage()
{
    return QStringLiteral(
               "usage: tactalon-tuio dump [--port N] [--address A|any]\n"
               "       tactalon-tuio play SCENARIO [args] [--host H] [--port N] [--rate HZ]\n"
               "       tactalon-tuio monitor\n"
               "       tactalon-tuio --help | --version\n"
               "scenarios: %1\n"
               "defaults: host 127.0.0.1, port 3333, rate 60 Hz; dump listens on loopback\n")
        .arg(GesturePlan::usage());
}

int usageError(const QString& message)
{
    QTextStream(stderr) << "tactalon-tuio: " << message << "\n" << usage();
    return kUsageError;
}

// Options may stand anywhere; everything else (negative numbers too) is an argument.
std::optional<Options> parseOptions(const QStringList& words, QString& error)
{
    Options options;
    for (qsizetype index = 0; index < words.size(); ++index) {
        const QString& word = words[index];
        if (!word.startsWith(QLatin1String("--"))) {
            if (options.command.isEmpty())
                options.command = word;
            else
                options.arguments << word;
            continue;
        }
        if (index + 1 >= words.size()) {
            error = QStringLiteral("%1 needs a value").arg(word);
            return std::nullopt;
        }
        const QString value = words[++index];
        bool ok = true;
        if (word == QLatin1String("--port")) {
            const int port = value.toInt(&ok);
            ok = ok && port >= 1 && port <= 65535;
            options.port = quint16(port);
        } else if (word == QLatin1String("--rate")) {
            options.rate = value.toDouble(&ok);
            ok = ok && options.rate >= 1 && options.rate <= 1000; // Hz
        } else if (word == QLatin1String("--host")) {
            options.host = value;
        } else if (word == QLatin1String("--address")) {
            options.address = value;
        } else {
            error = QStringLiteral("unknown option %1").arg(word);
            return std::nullopt;
        }
        if (!ok) {
            error = QStringLiteral("bad value for %1: %2").arg(word, value);
            return std::nullopt;
        }
    }
    return options;
}

std::optional<QHostAddress> resolve(const QString& host)
{
    const QHostAddress address(host);
    if (!address.isNull())
        return address;
    const QList<QHostAddress> found = QHostInfo::fromName(host).addresses();
    if (found.isEmpty())
        return std::nullopt;
    return found.first();
}

int runDump(const Options& options, QCoreApplication& app)
{
    if (!options.arguments.isEmpty())
        return usageError(QStringLiteral("dump takes no arguments"));
    QList<QHostAddress> addresses;
    if (options.address.isEmpty()) {
        addresses << QHostAddress(QHostAddress::LocalHost);
        QUdpSocket probe; // a machine without IPv6 listens on 127.0.0.1 alone
        if (probe.bind(QHostAddress::LocalHostIPv6, 0))
            addresses << QHostAddress(QHostAddress::LocalHostIPv6);
    } else if (options.address == QLatin1String("any")) {
        addresses << QHostAddress(QHostAddress::Any);
    } else if (const QHostAddress address(options.address); !address.isNull()) {
        addresses << address;
    } else {
        return usageError(QStringLiteral("\"%1\" is not an address").arg(options.address));
    }
    TuioDumper dumper;
    if (!dumper.listen(addresses, options.port))
        return 1;
    return app.exec();
}

int runPlay(const Options& options, QCoreApplication& app)
{
    if (options.arguments.isEmpty())
        return usageError(QStringLiteral("play needs a scenario"));
    QList<double> numbers;
    for (const QString& word : options.arguments.mid(1)) {
        bool ok = false;
        numbers << word.toDouble(&ok);
        if (!ok)
            return usageError(QStringLiteral("\"%1\" is not a number").arg(word));
    }
    QString error;
    auto frames = GesturePlan::build(options.arguments.first(), numbers, options.rate, error);
    if (!frames)
        return usageError(error);
    const auto host = resolve(options.host);
    if (!host)
        return usageError(QStringLiteral("unknown host %1").arg(options.host));

    // A source of its own per run (name:instance@address), so that its frame numbers never
    // look late next to an earlier run's.
    const std::string source = QStringLiteral("tactalon-tuio:%1@%2")
                                   .arg(QCoreApplication::applicationPid())
                                   .arg(QHostInfo::localHostName())
                                   .toStdString();
    TuioSender sender(*host, options.port, source);
    GesturePlayer player(sender, std::move(*frames), options.rate);
    QObject::connect(&player, &GesturePlayer::finished, &app,
                     [&app](bool sent) { app.exit(sent ? 0 : 1); });
    player.start();
    return app.exec();
}

// Ends on Ctrl-C (or SIGTERM) once the agent has let go of this viewer.
int runMonitor(const Options& options, QCoreApplication& app)
{
    if (!options.arguments.isEmpty())
        return usageError(QStringLiteral("monitor takes no arguments"));
    platform::UnixSignalWatcher signalWatcher;
    AgentMonitor monitor;
    QObject::connect(&signalWatcher, &platform::UnixSignalWatcher::terminationRequested, &monitor,
                     &AgentMonitor::stop);
    QObject::connect(&monitor, &AgentMonitor::finished, &app, &QCoreApplication::exit);
    return app.exec();
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList words = app.arguments().mid(1);
    if (words.contains(QLatin1String("--help")) || words.contains(QLatin1String("-h"))) {
        QTextStream(stdout) << usage();
        return 0;
    }
    if (words == QStringList{QStringLiteral("--version")}) {
        QTextStream(stdout) << "tactalon-tuio " << TACTALON_VERSION << "\n";
        return 0;
    }
    QString error;
    const auto options = parseOptions(words, error);
    if (!options)
        return usageError(error);
    if (options->command == QLatin1String("dump"))
        return runDump(*options, app);
    if (options->command == QLatin1String("play"))
        return runPlay(*options, app);
    if (options->command == QLatin1String("monitor"))
        return runMonitor(*options, app);
    if (options->command.isEmpty())
        return usageError(QStringLiteral("no command given"));
    return usageError(QStringLiteral("unknown command \"%1\"").arg(options->command));
}
