#pragma once
// Writing a whole buffer to a descriptor, whatever kind of file it is.
#include <QByteArray>
#include <string_view>

namespace quokka {

// Writes all of DATA to FD, going on after short writes and interruptions. Where FD does not
// block and is full (a pipe, a terminal), it waits for room, 5 seconds at most each time. A
// pipe whose reader has gone gives EPIPE instead of ending the program with SIGPIPE. Returns
// 0, or the errno of the failure: ETIME when nothing took the data for 5 seconds.
int WriteAll(int fd, std::string_view data);
inline int WriteAll(int fd, const QByteArray &data)
{
    return WriteAll(fd, std::string_view(data.constData(), std::size_t(data.size())));
}

} // namespace quokka
