// Which monitor touches go to, by the setting "outputName", and the desktop an absolute pointer
// spans.
#include "platform/MonitorChoice.h"

#include <QTest>

using platform::Monitor;
using Monitors = QList<Monitor>;

class MonitorChoiceTest : public QObject
{
    Q_OBJECT

private slots:
    void choice_data()
    {
        QTest::addColumn<Monitors>("monitors");
        QTest::addColumn<QString>("outputName");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("notice");

        const Monitor dp{"DP-1", QRect(1920, 0, 2560, 1440), true};
        const Monitor hdmi{"HDMI-1", QRect(0, 200, 1920, 1080), false};
        const Monitors both{hdmi, dp};
        QTest::newRow("no name: the primary, wherever it is listed") << both << ""
                                                                     << "DP-1"
                                                                     << "";
        QTest::newRow("named") << both << "HDMI-1"
                               << "HDMI-1"
                               << "";
        QTest::newRow("no primary: the first") << Monitors{hdmi, {"DP-2", {}, false}} << ""
                                               << "HDMI-1"
                                               << "";
        QTest::newRow("names are exact")
            << both << "hdmi-1"
            << "DP-1"
            << "No monitor named \"hdmi-1\": touches go to the main screen DP-1. "
               "Monitors: HDMI-1, DP-1";
        QTest::newRow("no monitors: nothing, and nothing to say") << Monitors{} << "HDMI-1"
                                                                  << ""
                                                                  << "";
    }

    void choice()
    {
        QFETCH(Monitors, monitors);
        QFETCH(QString, outputName);
        QFETCH(QString, chosen);
        QFETCH(QString, notice);
        const platform::MonitorChoice choice = platform::chooseMonitor(monitors, outputName);
        QCOMPARE(choice.monitor.name, chosen);
        QCOMPARE(choice.notice, notice);
    }

    void desktopHoldsEveryMonitor()
    {
        QCOMPARE(platform::desktopBounds({{"A", QRect(0, 200, 1920, 1080), false},
                                          {"B", QRect(1920, 0, 2560, 1440), true}}),
                 QRect(0, 0, 4480, 1440));
        QCOMPARE(platform::desktopBounds({}), QRect());
    }
};

QTEST_GUILESS_MAIN(MonitorChoiceTest)
#include "tst_monitor_choice.moc"
