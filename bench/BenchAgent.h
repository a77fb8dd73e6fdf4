#pragma once

#include "agent/Tactalon_Controller.h"
#include "tests/support/TemporaryHome.h"

#include <QtGlobal>
#include <memory>

// The agent's controller as the agent runs it (defaults merged, TUIO client listening on
// loopback), in a private home of its own with a free port, posting into `poster`.
// Make it after the QCoreApplication and before anything else touches the defaults store.
class BenchAgent
{
public:
    explicit BenchAgent(platform::EventPoster& poster);
    ~BenchAgent();

    Tactalon_Controller& controller() { return *m_controller; }
    TuioClient& client() { return *m_controller->tuioClient(); }
    quint16 port() const { return m_port; }

private:
    TemporaryHome m_home;
    quint16 m_port = 0;
    std::unique_ptr<Tactalon_Controller> m_controller;
};
