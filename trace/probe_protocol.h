#pragma once
// What the program and its probe helper say to each other over their socket pair. The helper
// holds the raw-socket privilege, so it trusts nothing it reads: a request is accepted,
// refused (well formed, but nothing may be sent for it), or garbage (the helper ends).
//
// The helper first says Ready in the single-probe language. The first message it reads then
// fixes the language for the rest of its life:
//
// Single (version 1): the tracer's. Fixed 12-byte messages each way; one request is answered
// (Answered, NoAnswer after 400 ms, Refused, NotPermitted, NoRoute) before the next is read;
// probes leave at most one every 5 ms; round trips in whole milliseconds.
//
// Rounds (version 2): opened by a 12-byte hello, which the helper answers with Ready in the
// rounds language. Requests are 12 bytes as before, answers 16. Many requests may be in
// flight together; each answer names the sequence it answers:
//   - Refused at once for a destination the helper never probes;
//   - then, once the probe leaves, Sent, or instead NotPermitted, NoRoute or NoAnswer (lost in
//     the system's queue) when the system would not send it;
//   - then Answered with the node, the kind of answer and the round trip in microseconds,
//     timed by the helper from the moment the probe left to the answer's arrival.
//   A probe that is never answered gets no further word: the caller gives it up by its own
//   time-out. The helper forgets it 10 s after sending, so a later answer counts for
//   nothing; a request to another destination forgets the earlier destination's probes
//   still in flight the same way.
//   Rate: at most 200 probes in any one second, per helper process. A burst of up to 32
//   probes (a round of 29 time-to-lives) leaves 100 microseconds apart; beyond that the
//   probes leave at 168 a second (32 + 168 = 200), so rounds of 29 more often than about six
//   times a second are stretched: their Sent notices come later.
//   Garbage, which ends the helper: a message of any other size, magic or version, non-zero
//   reserved bytes, a time-to-live of 0, or a second hello.
//
// IPv6, in both languages: a request's byte 10, reserved for IPv4, names the family (6); the
// IPv4 address field is then zero and the 16-byte address follows, 28 bytes in all. An answer
// whose node is an IPv6 address is 16 bytes longer in the same way (28 bytes in Single, 32 in
// Rounds, whose byte 11 then says 6). The helper refuses multicast ff00::/8, loop-back ::1,
// the unspecified ::, and IPv4-mapped ::ffff:0:0/96 besides its IPv4 refusals.
#include "base/net_address.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace quokka::trace::probe {

enum class Version : std::uint8_t { Single = 1, Rounds = 2 };

constexpr std::size_t kMessageSize = 12;     // both ways in Single; requests and the hello in Rounds
constexpr std::size_t kRoundAnswerSize = 16; // answers in Rounds
constexpr std::size_t kAddress6Size = 16;    // what an IPv6 address adds to a message
constexpr std::size_t kWideMessageSize = kMessageSize + kAddress6Size;
constexpr std::size_t kWideRoundAnswerSize = kRoundAnswerSize + kAddress6Size;
constexpr std::uint8_t kFamily6 = 6;
// How long a client waits for the helper to say Ready once it has started it.
constexpr std::chrono::seconds kReadyWait{1};
// A message as bytes, of either size.
using Message = std::vector<std::uint8_t>;
using RoundMessage = std::vector<std::uint8_t>;

// One probe: an echo request with time-to-live TTL and sequence SEQ to DESTINATION.
struct Request {
    NetAddress destination;
    int ttl = 0;
    std::uint16_t seq = 0;
};

enum class Verdict { Accepted, Refused, Garbage };

struct Parsed {
    Verdict verdict = Verdict::Garbage;
    Request request; // as read, for Accepted and Refused
};

Message EncodeRequest(const Request &request, Version version = Version::Single);
// Accepted only for exactly one message of the request format of VERSION with a TTL of 1 to
// 255 and a destination that ProbeableDestination allows. A TTL of 0 is refused in Single
// and garbage in Rounds.
Parsed ParseRequest(std::span<const std::uint8_t> bytes, Version version = Version::Single);

// The message that opens the Rounds language, and whether BYTES are exactly it.
Message EncodeHello();
bool IsHello(std::span<const std::uint8_t> bytes);

// A unicast IPv4 address outside the zero, loop-back, multicast and reserved networks (the
// last holds the limited broadcast address). A route to the machine itself has no hop to
// find, and the others are not one host, so the helper sends nothing there.
bool ProbeableDestination(std::uint32_t networkOrder);
// The same for either family: IPv6 outside ff00::/8, ::1, :: and ::ffff:0:0/96 (an IPv4
// address in disguise).
bool ProbeableDestination(const NetAddress &address);

// The helper's answers. Ready: sent once, when its raw socket is open and its privileges are
// gone (and once more in Rounds, to the hello). The others carry the sequence of the request
// they answer: Refused when the helper would not send it, NotPermitted and NoRoute when the
// system would not; Sent (Rounds only) when it left.
enum class Status : std::uint8_t {
    Ready = 1, Answered = 2, NoAnswer = 3, Refused = 4, NotPermitted = 5, NoRoute = 6, Sent = 7
};

struct Answer {
    Status status = Status::NoAnswer;
    std::uint16_t seq = 0;
    NetAddress node{}; // for Answered
    std::uint16_t roundTripMs = 0; // for Answered
};

Message EncodeAnswer(const Answer &answer);
std::optional<Answer> ParseAnswer(std::span<const std::uint8_t> bytes);

// An answer in Rounds: also the kind of ICMP answer (an icmp::AnswerKind) and a round trip
// precise to the microsecond.
struct RoundAnswer {
    Status status = Status::NoAnswer;
    std::uint16_t seq = 0;
    NetAddress node{}; // for Answered
    std::uint8_t kind = 0;  // for Answered
    std::uint32_t roundTripUs = 0; // for Answered
};

RoundMessage EncodeRoundAnswer(const RoundAnswer &answer);
// None for anything but one answer of the Rounds format with a known status and kind.
std::optional<RoundAnswer> ParseRoundAnswer(std::span<const std::uint8_t> bytes);

} // namespace quokka::trace::probe
