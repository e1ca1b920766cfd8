#pragma once
// Addresses to host names (reverse resolution), bounded in time, and the threads that look
// names up beside a run without holding any of it up.
#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <optional>
#include <stop_token>
#include <thread>
#include <vector>

namespace quokka {

// The name ADDRESS (dotted IPv4 or IPv6 text) is known by, from the hosts file or DNS (a PTR
// record under in-addr.arpa or ip6.arpa); none when it has none or the resolver gives up.
// The calling thread's own resolver is set to ask only as many name servers, once each, as
// whole seconds fit into BOUND (at least one, for a second), so the call returns within
// about BOUND rounded up to a second (the hosts file and DNS; other name services keep
// their own time-outs).
std::optional<QString> ReverseName(const QString &address, std::chrono::milliseconds bound);

// Lookups that may block, each on a thread of its own: each answer comes back on the
// receiver's thread, unless its deadline has passed first. A lookup cannot be interrupted:
// once this stops, nothing waits for it any more (it ends on its own, see CallUnlessStopped),
// so neither Stop nor this object's end is held up by a slow name server.
class NameLookups {
public:
    using Lookup = std::function<std::optional<QString>()>;
    using Done = std::function<void(std::optional<QString> name)>;

    // RECEIVER gets the answers; it must outlive this (make this its member).
    explicit NameLookups(QObject *receiver) : m_receiver(receiver) {}
    // Stops handing answers over and gives up the lookups under way (at once).
    ~NameLookups();
    NameLookups(const NameLookups &) = delete;
    NameLookups &operator=(const NameLookups &) = delete;

    // Runs LOOKUP on a new thread. DONE runs once on the receiver's thread: with its answer,
    // or with none when DEADLINE_MS pass first. Nothing runs after Stop or once the program
    // closes. LOOKUP may outlive this object, so it must hold what it uses by value.
    void Start(Lookup lookup, int deadlineMs, Done done);
    void Stop() { m_stop.request_stop(); }

private:
    QObject *m_receiver;
    std::stop_source m_stop;
    std::vector<std::jthread> m_threads;
};

} // namespace quokka
