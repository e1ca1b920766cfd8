// Traces DESTINATION with the program's tracer and prints what each probe gave:
// the socket kind first ("kind raw|ping|helper|none"), then "TTL ADDRESS RTT" per probe, up to
// MAX_TTL or the destination.   probe_route DESTINATION [MAX_TTL]
#include "trace/icmp_tracer.h"

#include <cstdio>
#include <cstdlib>

using quokka::trace::HopReply;
using quokka::trace::CIcmpTracer;

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: probe_route DESTINATION [MAX_TTL]\n");
        return 2;
    }
    const QString destination = QString::fromLatin1(argv[1]);
    const int maxTtl = argc > 2 ? std::atoi(argv[2]) : 29;
    CIcmpTracer tracer(destination);
    const char *kinds[] = {"none", "ping", "raw", "helper"};
    std::printf("kind %s\n", kinds[int(tracer.Kind())]);
    for (int ttl = 1; ttl <= maxTtl; ++ttl) {
        const HopReply reply = tracer.ProbeHop(ttl);
        std::printf("%d %s %d\n", ttl, qPrintable(reply.address), reply.roundTripMs);
        std::fflush(stdout);
        if (reply.address == destination)
            break;
    }
    return 0;
}
