// A delaying wire for test networks: every Ethernet frame that arrives on one interface
// leaves on the other DELAY_MS later, in both directions.
//   delaywire IF_A IF_B DELAY_MS
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Frame {
    Clock::time_point due;
    std::vector<unsigned char> bytes;
};

int OpenPort(const char *name)
{
    const int fd = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_ALL));
    if (fd < 0) {
        std::perror("socket");
        std::exit(1);
    }
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_protocol = htons(ETH_P_ALL);
    address.sll_ifindex = int(::if_nametoindex(name));
    const int on = 1;
    ::setsockopt(fd, SOL_PACKET, PACKET_IGNORE_OUTGOING, &on, sizeof on);
    if (address.sll_ifindex == 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        std::perror(name);
        std::exit(1);
    }
    return fd;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: delaywire IF_A IF_B DELAY_MS\n");
        return 2;
    }
    const int ports[2] = {OpenPort(argv[1]), OpenPort(argv[2])};
    const auto delay = std::chrono::milliseconds(std::atoi(argv[3]));
    std::deque<Frame> queues[2]; // queues[i]: frames to send out of port i

    for (;;) {
        int timeout = -1;
        const auto now = Clock::now();
        for (const auto &queue : queues) {
            if (!queue.empty()) {
                const auto wait = std::chrono::ceil<std::chrono::milliseconds>(queue.front().due - now).count();
                timeout = timeout < 0 ? int(std::max<long>(wait, 0)) : std::min(timeout, int(std::max<long>(wait, 0)));
            }
        }
        pollfd fds[2] = {{ports[0], POLLIN, 0}, {ports[1], POLLIN, 0}};
        ::poll(fds, 2, timeout);
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & POLLIN))
                continue;
            unsigned char buffer[65536];
            const ssize_t n = ::recv(ports[i], buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0)
                queues[1 - i].push_back({Clock::now() + delay, {buffer, buffer + n}});
        }
        for (int i = 0; i < 2; ++i) {
            while (!queues[i].empty() && queues[i].front().due <= Clock::now()) {
                const auto &frame = queues[i].front().bytes;
                ::send(ports[i], frame.data(), frame.size(), 0);
                queues[i].pop_front();
            }
        }
    }
}
