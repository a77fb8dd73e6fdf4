#include "platform/pane/BundleLocation.h"

#include <QDir>
#include <QFileInfo>
#include <dlfcn.h>

QString bundlePathContaining(const void* address)
{
    Dl_info info{};
    if (dladdr(address, &info) == 0 || info.dli_fname == nullptr)
        return {};
    QDir folder = QFileInfo(QString::fromLocal8Bit(info.dli_fname)).absoluteDir(); // MacOS
    if (!folder.cdUp() || !folder.cdUp()) // Contents, then the bundle
        return {};
    return QDir::cleanPath(folder.absolutePath());
}
