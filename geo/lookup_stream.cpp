#include "geo/lookup_stream.h"

#include "base/write_all.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace quokka::geo {

namespace {

constexpr std::size_t kChunk = 256 * 1024;
constexpr std::size_t kLongestEcho = 4096;

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

} // namespace

StreamEnd LookupStream(int in, int out, LookupLines &lines)
{
    std::vector<char> buffer(kChunk);
    std::vector<std::string_view> split;
    std::string answers;
    std::size_t held = 0;     // bytes of an unfinished line at the buffer's start
    bool skipping = false;    // dropping the rest of a line already answered for being too long
    const auto answer = [&](std::string_view bytes) {
        SplitLines(bytes, split);
        answers.clear();
        lines.Append(split, answers);
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
