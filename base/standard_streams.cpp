#include "base/standard_streams.h"

#include <fcntl.h>
#include <unistd.h>

namespace quokka {

namespace {

bool g_closed[3] = {false, false, false};

} // namespace

void SecureStandardStreams()
{
    for (int fd = 0; fd < 3; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1)
            continue;
        g_closed[fd] = true;
        // open() takes the lowest free descriptor, which is this one: the lower ones are open.
        const int null = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (null != fd && null >= 0)
            ::close(null);
    }
}

bool StandardStreamWasClosed(int fd)
{
    return fd >= 0 && fd < 3 && g_closed[fd];
}

} // namespace quokka
