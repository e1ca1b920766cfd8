#include "geo/lookup_stream.h"

#include "base/write_all.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <span>
#include <stop_token>
#include <thread>
#include <unistd.h>
#include <utility>
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

// A second thread that helps answer the lines of large reads, and writes them. A read's lines
// go in a few parts of at least kPartLines lines; the calling thread and the helper each take
// the next part nobody has taken until none is left, so a helper held up by a busy machine
// delays a read by at most the part it is answering, and one that has not woken up by then by
// nothing. Then the helper writes the parts while the calling thread reads and answers the next
// read into a second set of parts; it writes before it takes parts of that read, so reads are
// written in order. The helper has a LookupLines of its own (their lists and kept texts are
// not shared); the tables are only read, and what they build for bulk searches is built once
// under a lock. The thread lives as long as the stream.
class Helper {
public:
    explicit Helper(const LookupLines &lines) : m_lines(lines), m_thread([this](std::stop_token stop) { Serve(stop); })
    {
    }

    // Answers the lines of TEXTS, those of the parts the calling thread takes with LINES, and
    // has them written to OUT, a part at a time (each part is whole lines), while the caller
    // goes on. Returns 0, or the errno of the write of an earlier read that failed; then this
    // read's lines are not written.
    int Answer(std::span<const std::string_view> texts, LookupLines &lines, int out)
    {
        {
            const std::lock_guard lock(m_mutex);
            m_set ^= 1; // not the set the last read's lines may still be written from
            m_texts = texts;
            m_partCount = std::clamp<std::size_t>(texts.size() / kPartLines, 1, kMostParts);
            m_next = 0;
            m_offered = true;
        }
        m_changed.notify_all();
        AnswerParts(lines);
        int error = 0;
        {
            std::unique_lock lock(m_mutex);
            m_offered = false; // a helper not awake yet takes nothing now
            m_changed.wait(lock, [this] { return !m_working && m_writeParts == 0; });
            std::swap(error, m_writeError);
            if (error == 0) {
                m_writeSet = m_set;
                m_writeParts = m_partCount;
                m_out = out;
            }
        }
        m_changed.notify_all();
        return error;
    }

    // Waits until the lines handed over are written; 0 or the errno of a write that failed.
    int Written()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_working && m_writeParts == 0; });
        return std::exchange(m_writeError, 0);
    }

private:
    static constexpr std::size_t kPartLines = 2048, kMostParts = 4;

    void AnswerParts(LookupLines &lines)
    {
        const std::size_t count = m_texts.size();
        for (std::size_t part; (part = m_next.fetch_add(1, std::memory_order_relaxed)) < m_partCount;) {
            const std::size_t from = part * count / m_partCount, to = (part + 1) * count / m_partCount;
            std::string &text = m_parts[m_set][part].text;
            text.clear();
            lines.Append(m_texts.subspan(from, to - from), text);
        }
    }

    void Serve(std::stop_token stop)
    {
        std::unique_lock lock(m_mutex);
        while (m_changed.wait(lock, stop, [this] { return m_offered || m_writeParts > 0; })) {
            m_working = true;
            if (m_writeParts > 0) {
                const std::size_t set = m_writeSet, count = m_writeParts;
                const int out = m_out;
                lock.unlock();
                int error = 0;
                for (std::size_t part = 0; part < count && error == 0; ++part)
                    error = quokka::WriteAll(out, m_parts[set][part].text);
                lock.lock();
                m_writeError = error;
                m_writeParts = 0;
            }
            if (m_offered) {
                m_offered = false;
                lock.unlock();
                AnswerParts(m_lines);
                lock.lock();
            }
            m_working = false;
            m_changed.notify_all();
        }
    }

    // What one thread writes while the other works goes on cache lines of its own: a line
    // shared by the two would move between their processors at every write (a part's text
    // grows line by line, the helper's lists entry by entry), which costs a third of the time.
    static constexpr std::size_t kCacheLine = 64;
    struct alignas(kCacheLine) Part {
        std::string text;
    };

    alignas(kCacheLine) LookupLines m_lines; // a copy: the same tables, caches of its own
    std::mutex m_mutex;
    std::condition_variable_any m_changed;
    // The read being answered and the set of parts it goes in, set under the lock before it
    // is offered.
    std::span<const std::string_view> m_texts;
    std::size_t m_partCount = 0, m_set = 0;
    // The parts to write (none while 0), from which set, where to, and how the last write ended.
    std::size_t m_writeParts = 0, m_writeSet = 0;
    int m_out = -1, m_writeError = 0;
    alignas(kCacheLine) std::atomic<std::size_t> m_next{0}; // the next part not taken
    std::array<std::array<Part, kMostParts>, 2> m_parts; // each part's lines, written by whoever took it
    bool m_offered = false; // a read waits for the helper to take parts of it
    bool m_working = false; // the helper is writing or taking parts
    std::jthread m_thread;  // last: stopped and joined before the rest goes
};

} // namespace

StreamEnd LookupStream(int in, int out, LookupLines &lines)
{
    std::vector<char> buffer(kChunk);
    std::vector<std::string_view> split;
    std::string answers;
    std::optional<Helper> helper; // started by the first read large enough
    std::size_t held = 0;     // bytes of an unfinished line at the buffer's start
    bool skipping = false;    // dropping the rest of a line already answered for being too long
    const auto answer = [&](std::string_view bytes) {
        SplitLines(bytes, split);
        int error = 0;
        if (split.size() < kTwoThreadsFrom) {
            answers.clear();
            lines.Append(split, answers);
            error = helper ? helper->Written() : 0; // the lines before these first
            if (error == 0)
                error = quokka::WriteAll(out, answers);
        } else {
            if (!helper)
                helper.emplace(lines);
            error = helper->Answer(split, lines, out);
        }
        if (error != 0)
            errno = error;
        return error == 0;
    };
    for (;;) {
        const ssize_t n = ::read(in, buffer.data() + held, buffer.size() - held);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            if (helper)
                helper->Written();
            errno = error;
            return StreamEnd::ReadFailed;
        }
        if (n == 0) {
            if (held > 0 && !answer({buffer.data(), held}))
                return StreamEnd::WriteFailed;
            if (const int error = helper ? helper->Written() : 0) {
                errno = error;
                return StreamEnd::WriteFailed;
            }
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
