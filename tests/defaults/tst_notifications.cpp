#include "platform/DistributedNotificationCenter.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

using platform::DistributedNotificationCenter;
using platform::Notification;
using platform::NotificationCenter;

namespace {

// A child run of this program (see main), with its standard error.
struct ChildRun
{
    int exitCode = -1;
    QString standardError;
};

ChildRun runChild(const QStringList& arguments,
                  const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    QProcess child;
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), arguments);
    if (!child.waitForFinished(60000))
        return {};
    return {child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1,
            QString::fromUtf8(child.readAllStandardError())};
}

// Child: posts one distributed notice and waits for the bus to have taken it.
int postAndExit(const QString& name)
{
    DistributedNotificationCenter::defaultCenter().postNotificationName(name);
    // A call on the same connection returns only after the signal before it went out.
    QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
        "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId"));
    return 0;
}

// Child: logs through both paths, then uses the distributed centre with no bus to reach; it
// must neither crash nor block.
int logAndUseCentreWithoutBus()
{
    platform::installLogMessageHandler();
    platform::logLine("plain");
    platform::logLine("ends with a newline\n");
    qWarning("through Qt %d", 42);
    QObject observer;
    auto& centre = DistributedNotificationCenter::defaultCenter();
    centre.addObserver(&observer, "N", [](const Notification&) {});
    centre.postNotificationName("N");
    centre.removeObserver(&observer);
    return centre.isConnected() ? 2 : 0;
}

const QString kLinePrefix =
    QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} tst_notifications\[\d+\] )");

} // namespace

class NotificationsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void localNoticesFollowRegistrationOrder()
    {
        QObject first, all, second;
        QStringList calls;
        auto& centre = NotificationCenter::defaultCenter();
        centre.addObserver(&first, "N", [&](const Notification&) { calls << "first"; });
        centre.addObserver(&all, {}, [&](const Notification& n) { calls << "all:" + n.name; });
        centre.addObserver(&second, "N", [&](const Notification&) { calls << "second"; });
        centre.postNotificationName("N");
        centre.postNotificationName("Other");
        QCOMPARE(calls, QStringList({"first", "all:N", "second", "all:Other"}));
    }

    // A handler that removes a later observer, deletes itself, adds one and posts again.
    void handlersMayChangeTheCentreDuringDelivery()
    {
        auto& centre = NotificationCenter::defaultCenter();
        auto removing = std::make_unique<QObject>();
        QObject removed, added;
        QStringList calls;
        centre.addObserver(removing.get(), "N", [&](const Notification&) {
            calls << "removing";
            centre.removeObserver(&removed);
            removing.reset();
            centre.addObserver(&added, "N", [&](const Notification&) { calls << "added"; });
            centre.postNotificationName("Nested");
        });
        centre.addObserver(&removed, "N", [&](const Notification&) { calls << "removed"; });
        centre.addObserver(&removed, "Nested", [&](const Notification&) { calls << "removed"; });
        centre.postNotificationName("N");
        QCOMPARE(calls, QStringList{"removing"});
        centre.postNotificationName("N");
        QCOMPARE(calls, QStringList({"removing", "added"}));
    }

    void descriptionNamesTheNotice()
    {
        const Notification notice{"QuillonworksTactalonPortDidChangeNotification", nullptr};
        QCOMPARE(notice.description(),
                 "Notification 0x0 {name = QuillonworksTactalonPortDidChangeNotification}");
    }

    // Both kinds of sender: the command-line tool and another process using the centre.
    void distributedNoticeReachesOnlyObserversOfItsName()
    {
        auto& centre = DistributedNotificationCenter::defaultCenter();
        QVERIFY(centre.isConnected());
        QObject observer;
        QStringList received;
        centre.addObserver(&observer, "Wanted", [&](const Notification& n) { received << n.name; });
        centre.addObserver(&observer, "Other", [&](const Notification& n) { received << n.name; });

        QCOMPARE(QProcess::execute("dbus-send", {"--session", "--type=signal",
                                                 "/quillonworks/DistributedNotification",
                                                 "quillonworks.DistributedNotification.Posted",
                                                 "string:Wanted"}),
                 0);
        QTRY_COMPARE_WITH_TIMEOUT(received, QStringList{"Wanted"}, 20000);
        QCOMPARE(runChild({"--post", "Unobserved"}).exitCode, 0);
        QCOMPARE(runChild({"--post", "Other"}).exitCode, 0);
        QTRY_COMPARE_WITH_TIMEOUT(received, QStringList({"Wanted", "Other"}), 20000);
        centre.removeObserver(&observer);
    }

    void destroyedDistributedObserverIsNoLongerCalled()
    {
        auto& centre = DistributedNotificationCenter::defaultCenter();
        int goneCalls = 0;
        int witnessCalls = 0;
        auto gone = std::make_unique<QObject>();
        QObject witness;
        centre.addObserver(gone.get(), "N", [&](const Notification&) { ++goneCalls; });
        centre.addObserver(&witness, "N", [&](const Notification&) { ++witnessCalls; });
        gone.reset();
        centre.postNotificationName("N");
        QTRY_COMPARE_WITH_TIMEOUT(witnessCalls, 1, 20000);
        QCOMPARE(goneCalls, 0);
        centre.removeObserver(&witness);
    }

    void withoutABusOneLineAndNoCrash_data()
    {
        QTest::addColumn<QString>("address"); // empty: the variable is not set
        QTest::newRow("unset") << QString();
        QTest::newRow("unreachable") << QStringLiteral("unix:path=/nonexistent/bus");
    }
    void withoutABusOneLineAndNoCrash()
    {
        QFETCH(QString, address);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "DISPLAY", "XDG_RUNTIME_DIR"})
            environment.remove(name);
        if (!address.isEmpty())
            environment.insert("DBUS_SESSION_BUS_ADDRESS", address);
        const ChildRun run = runChild({"--no-bus"}, environment);
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.standardError.endsWith('\n'));
        const QStringList lines = run.standardError.chopped(1).split('\n');
        const QStringList messages{"plain", "ends with a newline", "through Qt 42",
                                   "No D-Bus session bus \\(.+\\): .*not be noticed.*"};
        QCOMPARE(lines.size(), messages.size());
        for (int i = 0; i < lines.size(); ++i)
            QVERIFY2(lines[i].contains(QRegularExpression(kLinePrefix + messages[i] + '$')),
                     qPrintable(lines[i]));
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() == 3 && arguments.at(1) == "--post")
        return postAndExit(arguments.at(2));
    if (arguments.size() == 2 && arguments.at(1) == "--no-bus")
        return logAndUseCentreWithoutBus();
    NotificationsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_notifications.moc"
