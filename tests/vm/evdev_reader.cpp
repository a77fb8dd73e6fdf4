// tactalon-evdev-reader NAME [SECONDS]: waits up to SECONDS (default 10) for the input device
// called NAME, then prints what it is and every event it sends, one line each, until it goes
// away. The VM test reads the agent's uinput device with it, as a compositor would.
//
//   device /dev/input/event4
//   axis ABS_X 0 1279 640          code, minimum, maximum, value at the start
//   ready                          opened: events from here on are read
//   event EV_KEY BTN_LEFT 1
//   event EV_SYN SYN_REPORT 0
//   dropped                        the kernel's buffer overflowed (SYN_DROPPED)
//   gone                           the device was removed
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <libevdev/libevdev.h>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

struct DeviceDeleter
{
    void operator()(libevdev* device) const
    {
        const int fd = libevdev_get_fd(device);
        libevdev_free(device);
        ::close(fd);
    }
};
using Device = std::unique_ptr<libevdev, DeviceDeleter>;

// The device called `name` among /dev/input/event*, with its path; none when it is not there.
Device openNamed(const std::string& name, std::string& path)
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/input", error)) {
        if (entry.path().filename().string().rfind("event", 0) != 0)
            continue;
        const int fd = ::open(entry.path().c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        libevdev* device = nullptr;
        if (libevdev_new_from_fd(fd, &device) < 0) {
            ::close(fd);
            continue;
        }
        Device owned(device);
        if (name == libevdev_get_name(device)) {
            path = entry.path().string();
            return owned;
        }
    }
    return nullptr;
}

void printDevice(const libevdev* device, const std::string& path)
{
    std::printf("device %s\n", path.c_str());
    for (unsigned code : {ABS_X, ABS_Y}) {
        const input_absinfo* info = libevdev_get_abs_info(device, code);
        if (info) {
            std::printf("axis %s %d %d %d\n", libevdev_event_code_get_name(EV_ABS, code),
                        info->minimum, info->maximum, info->value);
        }
    }
    std::printf("ready\n");
}

void printEvent(const input_event& event)
{
    const char* type = libevdev_event_type_get_name(event.type);
    const char* code = libevdev_event_code_get_name(event.type, event.code);
    std::printf("event %s %s %d\n", type ? type : "?", code ? code : "?", event.value);
}

// Prints events until the device goes away; 0 then, 1 on a read error.
int readEvents(libevdev* device)
{
    for (;;) {
        input_event event{};
        const int status = libevdev_next_event(
            device, LIBEVDEV_READ_FLAG_NORMAL | LIBEVDEV_READ_FLAG_BLOCKING, &event);
        if (status == LIBEVDEV_READ_STATUS_SUCCESS) {
            printEvent(event);
        } else if (status == LIBEVDEV_READ_STATUS_SYNC) {
            // Reports were lost; what the device holds now comes as a resync, not as events.
            std::printf("dropped\n");
            while (libevdev_next_event(device, LIBEVDEV_READ_FLAG_SYNC, &event) ==
                   LIBEVDEV_READ_STATUS_SYNC) {
            }
        } else if (status == -ENODEV) {
            std::printf("gone\n");
            return 0;
        } else if (status != -EAGAIN && status != -EINTR) {
            std::fprintf(stderr, "tactalon-evdev-reader: reading failed: %s\n",
                         std::strerror(-status));
            return 1;
        }
    }
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: tactalon-evdev-reader NAME [SECONDS]\n");
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // each line reaches the file as it happens
    const std::string name = argv[1];
    const double seconds = argc == 3 ? std::atof(argv[2]) : 10.0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);

    std::string path;
    Device device = openNamed(name, path);
    while (!device && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        device = openNamed(name, path);
    }
    if (!device) {
        std::fprintf(stderr, "tactalon-evdev-reader: no input device called \"%s\"\n",
                     name.c_str());
        return 1;
    }
    printDevice(device.get(), path);
    return readEvents(device.get());
}
