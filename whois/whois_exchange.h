#pragma once
// One WHOIS exchange over TCP: connect, send the query in one piece, read until the server
// closes. Bounded in time and size, and abandoned promptly when its stop token is triggered.
#include <QByteArray>
#include <chrono>
#include <cstdint>
#include <stop_token>

namespace quokka::whois {

constexpr std::uint16_t kWhoisPort = 43;
constexpr int kReceiveChunkBytes = 1500;

// The bounds of one exchange.
struct ExchangeLimits {
    std::chrono::milliseconds connect{10'000}; // to establish the connection
    std::chrono::milliseconds silence{15'000}; // without any data: the answer ends
    std::chrono::milliseconds total{60'000};   // the whole exchange: the answer ends
    qsizetype maxAnswerBytes = 1 << 20;        // the rest of a longer answer is dropped
    std::chrono::milliseconds slice{50};       // how often the stop token is looked at
};

// Why an answer ended before the server closed the connection, if it did.
enum class CutShort { No, Silence, TotalTime, SizeCap };

struct ExchangeResult {
    QByteArray answer;   // what arrived, also when the exchange failed part way
    bool failed = false; // no connection, the send failed, a receive error, or stopped
    CutShort cutShort = CutShort::No;
};

// Sends REQUEST to ADDRESS (IPv4 or IPv6 text), port PORT, and collects the
// answer until the server closes, the silence or total limit passes, or the size cap is hit.
ExchangeResult RunExchange(const QByteArray &address, std::uint16_t port, const QByteArray &request,
                           const ExchangeLimits &limits, std::stop_token stop);

} // namespace quokka::whois
