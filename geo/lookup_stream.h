#pragma once
// `quokka-quokka --lookup -`: addresses read line by line from a descriptor and answered as
// they come. Whatever whole lines one read brings are answered together and written at once,
// so a line written to a pipe is answered at once and a long file in big strides. A read of
// 4096 lines or more is answered on two threads: its lines go in a few parts, which the calling
// thread and a second one (started by the first such read and kept until the stream ends) take
// in turn; the second thread writes them, in input order, while the next read is answered.
#include "geo/lookup_line.h"

namespace quokka::geo {

enum class StreamEnd {
    InputEnded,  // every line was answered
    ReadFailed,  // errno says why
    WriteFailed, // the output was closed or broke; errno says how
};

// Answers each line of IN on OUT until IN ends. A line ends at a newline; a carriage return
// before it is dropped, and a last line without newline is answered at the end. A line longer
// than 4 KiB cannot be an address: it is answered with its first 4 KiB only, and at the latest
// when the buffer of 256 KiB is full of it.
StreamEnd LookupStream(int in, int out, LookupLines &lines);

} // namespace quokka::geo
