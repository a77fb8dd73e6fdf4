#pragma once

#include "platform/MonitorSource.h"

namespace platform {

// The monitor the kernel's DRM connectors tell of, for when no display server answers: the
// first connected connector (in the order of their names) with its current mode, at (0, 0), as
// sysfs knows no layout. Its name is the connector's without the card ("HDMI-A-1"). sysfs is
// read at every call; no notice of a change comes, so monitorsChanged() is never emitted.
class DrmMonitorSource final : public MonitorSource
{
    Q_OBJECT
public:
    explicit DrmMonitorSource(const QString& drmClassDirectory = QStringLiteral("/sys/class/drm"),
                              QObject* parent = nullptr);

    QList<Monitor> monitors() const override;

private:
    QString m_drmClassDirectory;
};

} // namespace platform
