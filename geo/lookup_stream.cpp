#include "geo/lookup_stream.h"

#include "base/write_all.h"

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <span>
#include <stop_token>
#include <thread>
#include <unistd.h>
#include <vector>

namespace quokka::geo {

namespace {

constexpr std::size_t kChunk = 256 * 1024;
constexpr std::size_t kLongestEcho = 4096;
// A read of this many lines or more is answered on two threads; fewer are not worth handing
// over (a pipe fed by hand, a short file).
constexpr std::size_t kTwoThreadsFrom = 4096;

// The lines of BYTES, each ended by a newline (the last one included), without it or a
// carriage return just before it, and cut to their first kLongestEcho bytes.
void SplitLines(std::string_view bytes, std::vector<std::string_view> &lines)
{
    lines.clear();
    while (!bytes.empty()) {
        const std::size_t end = std::min(bytes.find('\n'), bytes.size());
        std::string_view line = bytes.substr(0, end);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line.substr(0, kLongestEcho));
        bytes.remove_prefix(std::min(end + 1, bytes.size()));
    }
}

// A second thread that answers the latter lines of a large read while the calling thread
// answers the former. It has a LookupLines of its own (their lists and kept texts are not
// shared); the tables are only read, and what they build for bulk searches is built once
// under a lock. The thread lives as long as the stream.
class LatterHalf {
public:
    explicit LatterHalf(const LookupLines &lines) : m_lines(lines), m_thread([this](std::stop_token stop) { Serve(stop); })
    {
    }

    // Starts answering TEXTS, which stay untouched until Answers.
    void Start(std::span<const std::string_view> texts)
    {
        {
            const std::lock_guard lock(m_mutex);
            m_texts = texts;
            m_answers.clear();
            m_pending = true;
        }
        m_changed.notify_all();
    }

    // The lines of the texts of the last Start, once they are written.
    const std::string &Answers()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_pending; });
        return m_answers;
    }

private:
    void Serve(std::stop_token stop)
    {
        std::unique_lock lock(m_mutex);
        while (m_changed.wait(lock, stop, [this] { return m_pending; })) {
            lock.unlock();
            m_lines.Append(m_texts, m_answers);
            lock.lock();
            m_pending = false;
            m_changed.notify_all();
        }
    }

    LookupLines m_lines; // a copy: the same tables, caches of its own
    std::mutex m_mutex;
    std::condition_variable_any m_changed;
    std::span<const std::string_view> m_texts;
    std::string m_answers;
    bool m_pending = false; // texts handed over and not yet answered
    std::jthread m_thread;  // last: stopped and joined before the rest goes
};

} // namespace

StreamEnd LookupStream(int in, int out, LookupLines &lines)
{
    std::vector<char> buffer(kChunk);
    std::vector<std::string_view> split;
    std::string answers;
    std::optional<LatterHalf> latter; // started by the first read large enough
    std::size_t held = 0;     // bytes of an unfinished line at the buffer's start
    bool skipping = false;    // dropping the rest of a line already answered for being too long
    const auto answer = [&](std::string_view bytes) {
        SplitLines(bytes, split);
        answers.clear();
        if (split.size() < kTwoThreadsFrom) {
            lines.Append(split, answers);
        } else {
            if (!latter)
                latter.emplace(lines);
            const std::size_t half = split.size() / 2;
            latter->Start(std::span(split).subspan(half));
            lines.Append(std::span(split).first(half), answers);
            answers += latter->Answers();
        }
        if (const int error = quokka::WriteAll(out, answers)) {
            errno = error;
            return false;
        }
        return true;
    };
    for (;;) {
        const ssize_t n = ::read(in, buffer.data() + held, buffer.size() - held);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return StreamEnd::ReadFailed;
        if (n == 0) {
            if (held > 0 && !answer({buffer.data(), held}))
                return StreamEnd::WriteFailed;
            return StreamEnd::InputEnded;
        }
        std::string_view fresh(buffer.data() + held, std::size_t(n));
        if (skipping) {
            const std::size_t newline = fresh.find('\n');
            if (newline == std::string_view::npos)
                continue;
            skipping = false;
            fresh.remove_prefix(newline + 1);
            std::memmove(buffer.data(), fresh.data(), fresh.size());
            fresh = {buffer.data(), fresh.size()};
        }
        const std::string_view all(buffer.data(), std::size_t(fresh.data() - buffer.data()) + fresh.size());
        const std::size_t lastNewline = all.rfind('\n');
        std::size_t answered = lastNewline == std::string_view::npos ? 0 : lastNewline + 1;
        if (answered > 0 && !answer(all.substr(0, answered)))
            return StreamEnd::WriteFailed;
        if (answered == 0 && all.size() == buffer.size()) {
            if (!answer(all.substr(0, kLongestEcho)))
                return StreamEnd::WriteFailed;
            skipping = true;
            answered = all.size();
        }
        held = all.size() - answered;
        std::memmove(buffer.data(), all.data() + answered, held);
    }
}

} // namespace quokka::geo
