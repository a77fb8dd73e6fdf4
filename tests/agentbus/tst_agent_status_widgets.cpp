#include "BusStandIns.h"
#include "platform/agentbus/AgentStatusClient.h"
#include "prefpane/AgentStatusPanel.h"
#include "prefpane/TouchView.h"

#include <QLabel>
#include <QTest>

using platform::AgentStatusClient;

constexpr int kTimeout = 10000; // ms

namespace {

// Near enough for antialiased and fading paint: each channel within 40 of the other's.
bool near(QColor drawn, QColor expected)
{
    return qAbs(drawn.red() - expected.red()) < 40 && qAbs(drawn.green() - expected.green()) < 40 &&
           qAbs(drawn.blue() - expected.blue()) < 40;
}

} // namespace

class AgentStatusWidgetsTest : public QObject
{
    Q_OBJECT

private slots:
    void panelShowsTheAgentInPlainWords_data()
    {
        QTest::addColumn<QString>("backend"); // "": no agent runs
        QTest::addColumn<bool>("wayland");
        QTest::addColumn<QString>("agentLine");
        QTest::addColumn<QString>("hintStart"); // "": no hint shown
        QTest::newRow("not running") << "" << false << "Not running"
                                     << "";
        QTest::newRow("uinput") << "uinput" << true << "Running, version 1.0.0"
                                << "";
        QTest::newRow("XTest on X11") << "XTest" << false << "Running, version 1.0.0"
                                      << "";
        QTest::newRow("XTest on Wayland") << "XTest" << true << "Running, version 1.0.0"
                                          << "Clicks reach X11 windows only";
        QTest::newRow("none") << "none" << false << "Running, version 1.0.0"
                              << "The agent cannot post input";
    }
    void panelShowsTheAgentInPlainWords()
    {
        QFETCH(QString, backend);
        QFETCH(bool, wayland);
        QFETCH(QString, agentLine);
        QFETCH(QString, hintStart);
        QVariantMap properties = AgentStandIn::runningOnUinput();
        properties["EventBackend"] = backend;
        properties["WaylandSession"] = wayland;
        AgentStandIn agent(properties);
        if (!backend.isEmpty())
            QVERIFY(agent.start());
        AgentStatusClient client;
        AgentStatusPanel panel(&client);
        panel.show();
        QTRY_COMPARE_WITH_TIMEOUT(panel.line("agent")->text(), agentLine, kTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(panel.line("service")->text(),
                                  QString("No service manager on the session bus"), kTimeout);
        QCOMPARE(panel.line("hint")->isVisible(), !hintStart.isEmpty());
        QCOMPARE(panel.line("hint")->text().left(hintStart.size()), hintStart);
        QCOMPARE(panel.line("listening")->isVisible(), !backend.isEmpty());
        if (backend.isEmpty())
            return;
        QCOMPARE(panel.line("listening")->text(), QString("127.0.0.1, ::1, UDP port 3333 (open)"));
        QCOMPARE(panel.line("monitor")->text(), QString("HDMI-1, 1920 × 1080 pixels at 1920, 0"));
        QCOMPARE(panel.line("trackers")->text(),
                 QString("tracker@10.0.0.2: 120 frames received, 3 dropped as late, 1 malformed "
                         "datagrams"));
        QCOMPARE(panel.line("error")->text(), QString("None"));

        agent.setProperty("LastError", "cannot bind port 3333");
        QTRY_COMPARE_WITH_TIMEOUT(panel.line("error")->text(), QString("cannot bind port 3333"),
                                  kTimeout);
        agent.stop();
        QTRY_COMPARE_WITH_TIMEOUT(panel.line("agent")->text(), QString("Not running"), kTimeout);
        QVERIFY(!panel.line("monitor")->isVisible());
    }

    void viewRegistersOnlyWhileShown()
    {
        AgentStandIn agent;
        QVERIFY(agent.start());
        AgentStatusClient client;
        TouchView view(&client);
        QTRY_VERIFY_WITH_TIMEOUT(client.running(), kTimeout);
        QVERIFY(agent.viewers.isEmpty());
        view.show();
        QTRY_COMPARE_WITH_TIMEOUT(agent.viewers.size(), 1, kTimeout);
        view.hide();
        QTRY_VERIFY_WITH_TIMEOUT(agent.viewers.isEmpty(), kTimeout);
    }

    void viewDrawsFingersAndGesturesWhereTheMonitorHasThem()
    {
        AgentStandIn agent; // a 1920 × 1080 monitor
        QVERIFY(agent.start());
        AgentStatusClient client;
        TouchView view(&client);
        view.resize(416, 400);
        view.show();
        QTRY_COMPARE_WITH_TIMEOUT(agent.viewers.size(), 1, kTimeout);
        const QRectF area = view.monitorArea();
        QCOMPARE(qRound(area.width() * 9 / area.height()), 16);

        const QPointF finger(100, 1000);    // near the bottom-left corner
        const QPointF rightClick(1800, 60); // near the top-right corner
        agent.sendTouchFrame({{4, finger}}, {{"right-click", rightClick}});
        QTRY_VERIFY_WITH_TIMEOUT(
            near(view.grab().toImage().pixelColor(view.viewPoint(finger).toPoint()),
                 TouchView::fingerColor()),
            kTimeout);
        const QImage picture = view.grab().toImage();
        QVERIFY(
            near(picture.pixelColor(view.viewPoint(rightClick).toPoint()), TouchView::markColor()));
        QVERIFY(!near(picture.pixelColor(view.viewPoint({1800, 1000}).toPoint()),
                      TouchView::fingerColor()));
    }
};

QTEST_MAIN(AgentStatusWidgetsTest)
#include "tst_agent_status_widgets.moc"
