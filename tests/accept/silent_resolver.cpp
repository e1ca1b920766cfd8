// A name server that takes every query and never answers: what a resolver meets when DNS is
// unreachable beyond its first hop. Prints "ready" once listening, then "query" for each
// datagram, until it is ended.
//   silent_resolver ADDRESS     (UDP port 53 of ADDRESS)
#include "base/unique_fd.h"

#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>

int main(int argc, char **argv)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(53);
    if (argc != 2 || ::inet_pton(AF_INET, argv[1], &address.sin_addr) != 1) {
        std::fprintf(stderr, "usage: silent_resolver ADDRESS\n");
        return 2;
    }
    const quokka::UniqueFd listener(::socket(AF_INET, SOCK_DGRAM, 0));
    if (listener.Get() < 0 || ::bind(listener.Get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        std::perror("silent_resolver");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    char datagram[4096];
    while (::recv(listener.Get(), datagram, sizeof datagram, 0) >= 0) {
        std::printf("query\n");
        std::fflush(stdout);
    }
    return 1;
}
