#include "platform/DistributedNotificationCenter.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

using platform::DistributedNotificationCenter;
using platform::Notification;
using platform::NotificationCenter;

namespace {

// Child run of this program (see main): logs through both paths, then uses the distributed centre
// with no bus to reach; it must neither crash nor block.
int logAndUseCentreWithoutBus()
{
    platform::installLogMessageHandler();
    platform::logLine("plain");
    platform::logLine("ends with a newline\n");
    // Text from the network: no control character may start a line of its own.
    platform::logLine(QStringLiteral("forged\n2026 Tactalon[1] x\r\x1b[2K\x7f\u0085\u2028 end"));
    qWarning("through Qt %d", 42);
    QObject observer;
    auto& centre = DistributedNotificationCenter::defaultCenter();
    centre.addObserver(&observer, "N", [](const Notification&) {});
    centre.postNotificationName("N");
    centre.removeObserver(&observer);
    return centre.isConnected() ? 2 : 0;
}

// One log line, message left to fill in.
const QString kLine =
    QStringLiteral(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} tst_notifications\[\d+\] %1\n)");

} // namespace

class NotificationsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Registration order, also while a handler removes a later observer, deletes itself, adds
    // one and posts again; an observer of every name sees the notice's description.
    void localNoticesFollowRegistrationOrder()
    {
        auto& centre = NotificationCenter::defaultCenter();
        auto removing = std::make_unique<QObject>();
        QObject all, removed, added;
        QStringList calls;
        centre.addObserver(removing.get(), "N", [&](const Notification&) {
            calls << "removing";
            centre.removeObserver(&removed);
            removing.reset();
            centre.addObserver(&added, "N", [&](const Notification&) { calls << "added"; });
            centre.postNotificationName("Nested");
        });
        centre.addObserver(&all, {}, [&](const Notification& n) { calls << n.description(); });
        centre.addObserver(&removed, "N", [&](const Notification&) { calls << "removed"; });
        centre.addObserver(&removed, "Nested", [&](const Notification&) { calls << "removed"; });
        centre.postNotificationName("N");
        centre.postNotificationName("N");
        centre.postNotificationName("Other");
        QCOMPARE(calls, QStringList({"removing", "Notification 0x0 {name = Nested}",
                                     "Notification 0x0 {name = N}", "Notification 0x0 {name = N}",
                                     "added", "Notification 0x0 {name = Other}"}));
    }

    // Sent by the command-line tool and by this centre through the bus; a destroyed observer is
    // no longer called.
    void distributedNoticeReachesOnlyObserversOfItsName()
    {
        auto& centre = DistributedNotificationCenter::defaultCenter();
        QVERIFY(centre.isConnected());
        QObject observer;
        QStringList received;
        auto gone = std::make_unique<QObject>();
        centre.addObserver(gone.get(), "Wanted", [&](const Notification&) { received << "gone"; });
        centre.addObserver(&observer, "Wanted", [&](const Notification& n) { received << n.name; });
        centre.addObserver(&observer, "Other", [&](const Notification& n) { received << n.name; });
        gone.reset();

        QCOMPARE(QProcess::execute("dbus-send", {"--session", "--type=signal",
                                                 "/quillonworks/DistributedNotification",
                                                 "quillonworks.DistributedNotification.Posted",
                                                 "string:Wanted"}),
                 0);
        QTRY_COMPARE_WITH_TIMEOUT(received, QStringList{"Wanted"}, 20000);
        centre.postNotificationName("Unobserved");
        centre.postNotificationName("Other");
        QTRY_COMPARE_WITH_TIMEOUT(received, QStringList({"Wanted", "Other"}), 20000);
        centre.removeObserver(&observer);
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
        QProcess child;
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), {"--no-bus"});
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        const QString log = QString::fromUtf8(child.readAllStandardError());
        QString lines;
        for (const char* message :
             {"plain", "ends with a newline",
              R"(forged\\n2026 Tactalon\[1\] x\\r\\x1b\[2K\\x7f\\x85\\u2028 end)", "through Qt 42",
              R"(No D-Bus session bus \(.+\): .*not be noticed.*)"})
            lines += kLine.arg(message);
        const QRegularExpression expected(QRegularExpression::anchoredPattern(lines));
        QVERIFY2(expected.match(log).hasMatch(), qPrintable(log));
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (app.arguments().value(1) == "--no-bus")
        return logAndUseCentreWithoutBus();
    NotificationsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_notifications.moc"
