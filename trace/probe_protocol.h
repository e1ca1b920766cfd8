#pragma once
// What the program and its probe helper say to each other over their socket pair: one fixed
// 12-byte message each way. The helper holds the raw-socket privilege, so it trusts nothing
// it reads: a request is accepted, refused (well formed, but nothing may be sent for it), or
// garbage (the helper ends).
#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace quokka::trace::probe {

constexpr std::size_t kMessageSize = 12;
using Message = std::array<std::uint8_t, kMessageSize>;

// One probe: an echo request with time-to-live TTL and sequence SEQ to DESTINATION.
struct Request {
    std::uint32_t destination = 0; // network byte order
    int ttl = 0;
    std::uint16_t seq = 0;
};

enum class Verdict { Accepted, Refused, Garbage };

struct Parsed {
    Verdict verdict = Verdict::Garbage;
    Request request; // as read, for Accepted and Refused
};

Message EncodeRequest(const Request &request);
// Accepted only for exactly one message of the request format with a TTL of 1 to 255 and a
// destination that ProbeableDestination allows.
Parsed ParseRequest(std::span<const std::uint8_t> bytes);

// A unicast IPv4 address outside the zero, loop-back, multicast and reserved networks (the
// last holds the limited broadcast address). A route to the machine itself has no hop to
// find, and the others are not one host, so the helper sends nothing there.
bool ProbeableDestination(std::uint32_t networkOrder);

// The helper's answers. Ready: sent once, when its raw socket is open and its privileges are
// gone. The others carry the sequence of the request they answer: Refused when the helper
// would not send it, NotPermitted and NoRoute when the system would not.
enum class Status : std::uint8_t { Ready = 1, Answered = 2, NoAnswer = 3, Refused = 4, NotPermitted = 5, NoRoute = 6 };

struct Answer {
    Status status = Status::NoAnswer;
    std::uint16_t seq = 0;
    std::uint32_t node = 0;      // network byte order, for Answered
    std::uint16_t roundTripMs = 0; // for Answered
};

Message EncodeAnswer(const Answer &answer);
std::optional<Answer> ParseAnswer(std::span<const std::uint8_t> bytes);

} // namespace quokka::trace::probe
