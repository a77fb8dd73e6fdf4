#include "BenchAgent.h"

#include "platform/UserDefaults.h"
#include "settings/SettingsKeys.h"
#include "tests/support/UdpPorts.h"

#include <cstdio>
#include <cstdlib>

namespace {

const QList<platform::Monitor> kMonitors{{QStringLiteral("bench"), QRect(0, 0, 1440, 900), true}};

} // namespace

BenchAgent::BenchAgent(platform::EventPoster& poster) : m_port(freeUdpPort())
{
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    defaults.setPersistentDomain(
        {{kPortStr, QVariant::fromValue<qint32>(m_port)}, {kDebugLogging, false}}, kDomainName);
    defaults.synchronize();

    m_controller = std::make_unique<Tactalon_Controller>(
        Tactalon_Controller::Environment{poster, [] { return kMonitors; }});
    m_controller->setup();
    if (!m_controller->tuioClient() || !m_controller->tuioClient()->isListening()) {
        std::fprintf(stderr, "the TUIO client could not listen on UDP port %u\n", m_port);
        std::exit(1);
    }
}

BenchAgent::~BenchAgent() = default;
