#include "base/host_names.h"

#include "base/abandonable_call.h"
#include "base/net_address.h"
#include "base/wait.h"

#include <algorithm>
#include <arpa/inet.h>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <resolv.h>

namespace quokka {
namespace {

// glibc keeps the resolver's state per thread (_res): this thread's waits a whole number of
// seconds for each server, asks each once, and skips the servers that would not fit.
void BoundThisThreadsResolver(std::chrono::milliseconds bound)
{
    if (::res_init() != 0)
        return;
    const int seconds = std::max(1, int(bound.count() / 1000));
    _res.retrans = seconds;
    _res.retry = 1;
    _res.nscount = std::min(_res.nscount, seconds);
}

// Made out of line: GCC takes a std::nullopt handed on through the lambdas for a QString
// that may be used uninitialised.
std::optional<QString> NoName()
{
    return std::nullopt;
}

} // namespace

std::optional<QString> ReverseName(const QString &address, std::chrono::milliseconds bound)
{
    // IPv4 asks for its in-addr.arpa name, IPv6 for its ip6.arpa name.
    const std::optional<NetAddress> parsed = NetAddress::Parse(address.toStdString());
    sockaddr_storage socketAddress{};
    const unsigned length = parsed ? parsed->ToSockaddr(socketAddress) : 0;
    if (length == 0)
        return std::nullopt;
    BoundThisThreadsResolver(bound);
    char name[NI_MAXHOST] = {};
    if (::getnameinfo(reinterpret_cast<const sockaddr *>(&socketAddress), socklen_t(length), name, sizeof name,
                      nullptr, 0, NI_NAMEREQD)
        != 0)
        return std::nullopt;
    return QString::fromUtf8(name);
}

NameLookups::~NameLookups()
{
    Stop();
    m_threads.clear(); // joins, at once after the stop
}

void NameLookups::Start(Lookup lookup, int deadlineMs, Done done)
{
    // Whichever comes first, the answer or the deadline, settles the lookup; both arrive on
    // the receiver's thread, where alone the flag is used.
    auto settled = std::make_shared<bool>(false);
    auto settle = [settled, done = std::move(done), stop = m_stop.get_token()](const std::optional<QString> &name) {
        if (*settled || stop.stop_requested() || ShuttingDown())
            return;
        *settled = true;
        done(name);
    };
    After(deadlineMs, m_receiver, [settle] { settle(NoName()); });
    // This thread waits for the lookup's own thread until the answer comes or a stop, so
    // joining it never waits for a name server.
    m_threads.emplace_back([lookup = std::move(lookup), settle, receiver = m_receiver, stop = m_stop.get_token()] {
        const std::optional<std::optional<QString>> answer = CallUnlessStopped(Lookup(lookup), stop);
        if (!answer || stop.stop_requested())
            return;
        const std::optional<QString> name = *answer;
        QMetaObject::invokeMethod(receiver, [settle, name] { settle(name); }, Qt::QueuedConnection);
    });
}

} // namespace quokka
