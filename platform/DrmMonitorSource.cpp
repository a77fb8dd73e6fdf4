#include "platform/DrmMonitorSource.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <optional>

namespace platform {

namespace {

// The first line of a small sysfs file; sysfs attributes are a page at most.
QString firstLine(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray contents = file.read(4096);
    const qsizetype end = contents.indexOf('\n');
    if (end >= 0)
        contents.truncate(end);
    return QString::fromLatin1(contents).trimmed();
}

// "1920x1080" (drivers may add a suffix such as "i" for interlaced modes).
std::optional<QRect> parseMode(const QString& mode)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,5})x(\\d{1,5})"));
    const QRegularExpressionMatch match = pattern.match(mode);
    if (!match.hasMatch())
        return std::nullopt;
    const int width = match.captured(1).toInt();
    const int height = match.captured(2).toInt();
    if (width <= 0 || height <= 0)
        return std::nullopt;
    return QRect(0, 0, width, height);
}

// "card0-HDMI-A-1" names the output "HDMI-A-1".
QString outputName(const QString& connector)
{
    const qsizetype dash = connector.indexOf(QLatin1Char('-'));
    return dash < 0 ? connector : connector.mid(dash + 1);
}

} // namespace

DrmMonitorSource::DrmMonitorSource(const QString& drmClassDirectory, QObject* parent)
    : MonitorSource(parent), m_drmClassDirectory(drmClassDirectory)
{}

QList<Monitor> DrmMonitorSource::monitors() const
{
    const QDir directory(m_drmClassDirectory);
    const QStringList connectors =
        directory.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& connector : connectors) {
        const QString path = directory.filePath(connector);
        if (firstLine(path + QStringLiteral("/status")) != QLatin1String("connected"))
            continue;
        if (auto frame = parseMode(firstLine(path + QStringLiteral("/modes"))))
            return {Monitor{outputName(connector), *frame, false}};
    }
    return {};
}

} // namespace platform
