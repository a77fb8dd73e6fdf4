#include "platform/MainScreen.h"

#include "platform/XDisplay.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>
#include <memory>
#include <optional>

namespace platform {

namespace {

struct ScreenResourcesDeleter
{
    void operator()(XRRScreenResources* resources) const { XRRFreeScreenResources(resources); }
};

struct OutputInfoDeleter
{
    void operator()(XRROutputInfo* info) const { XRRFreeOutputInfo(info); }
};

struct CrtcInfoDeleter
{
    void operator()(XRRCrtcInfo* info) const { XRRFreeCrtcInfo(info); }
};

// Xlib's default error handler ends the process; an output unplugged between two of our
// requests must not. Errors are ignored while this lives; the previous handler comes back after.
class IgnoreXErrors
{
public:
    explicit IgnoreXErrors(Display* display) : m_display(display)
    {
        m_previous = XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    }
    ~IgnoreXErrors()
    {
        XSync(m_display, False);
        XSetErrorHandler(m_previous);
    }
    IgnoreXErrors(const IgnoreXErrors&) = delete;
    IgnoreXErrors& operator=(const IgnoreXErrors&) = delete;

private:
    Display* m_display;
    XErrorHandler m_previous;
};

bool hasRandr13(Display* display)
{
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    return XRRQueryExtension(display, &eventBase, &errorBase) &&
           XRRQueryVersion(display, &major, &minor) && (major > 1 || (major == 1 && minor >= 3));
}

// The CRTC geometry of the primary output, when one is set and lit.
std::optional<QRectF> primaryMonitorFrame(Display* display)
{
    if (!hasRandr13(display))
        return std::nullopt;
    IgnoreXErrors ignoreErrors(display);
    const Window root = DefaultRootWindow(display);
    const RROutput primary = XRRGetOutputPrimary(display, root);
    if (primary == None)
        return std::nullopt;
    std::unique_ptr<XRRScreenResources, ScreenResourcesDeleter> resources(
        XRRGetScreenResourcesCurrent(display, root));
    if (!resources)
        return std::nullopt;
    std::unique_ptr<XRROutputInfo, OutputInfoDeleter> output(
        XRRGetOutputInfo(display, resources.get(), primary));
    if (!output || output->crtc == None)
        return std::nullopt;
    std::unique_ptr<XRRCrtcInfo, CrtcInfoDeleter> crtc(
        XRRGetCrtcInfo(display, resources.get(), output->crtc));
    if (!crtc || crtc->width == 0 || crtc->height == 0)
        return std::nullopt;
    return QRectF(crtc->x, crtc->y, crtc->width, crtc->height);
}

std::optional<QRectF> xDisplayFrame()
{
    const XDisplayPointer display = openXDisplay();
    if (!display)
        return std::nullopt;
    if (auto primary = primaryMonitorFrame(display.get()))
        return primary;
    const int screen = DefaultScreen(display.get());
    return QRectF(0, 0, DisplayWidth(display.get(), screen), DisplayHeight(display.get(), screen));
}

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
std::optional<QRectF> parseMode(const QString& mode)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,5})x(\\d{1,5})"));
    const QRegularExpressionMatch match = pattern.match(mode);
    if (!match.hasMatch())
        return std::nullopt;
    const int width = match.captured(1).toInt();
    const int height = match.captured(2).toInt();
    if (width <= 0 || height <= 0)
        return std::nullopt;
    return QRectF(0, 0, width, height);
}

} // namespace

// The current mode of the first connected DRM connector under `drmClassDirectory`, in the
// order of the connectors' names; an empty rectangle when there is none.
QRectF drmConnectorFrame(const QString& drmClassDirectory)
{
    const QDir directory(drmClassDirectory);
    const QStringList connectors =
        directory.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& connector : connectors) {
        const QString path = directory.filePath(connector);
        if (firstLine(path + QStringLiteral("/status")) != QLatin1String("connected"))
            continue;
        if (auto frame = parseMode(firstLine(path + QStringLiteral("/modes"))))
            return *frame;
    }
    return {};
}

QRectF mainScreenFrame()
{
    if (auto frame = xDisplayFrame())
        return *frame;
    return drmConnectorFrame(QStringLiteral("/sys/class/drm"));
}

} // namespace platform
