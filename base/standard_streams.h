#pragma once
// Standard input, output and error as the program was started with them. A descriptor among
// 0, 1 and 2 that was closed is taken over by /dev/null at once, so that no file, socket or
// pipe the program opens later lands on it and gets read or written by mistake; whether it
// was closed stays known.
namespace quokka {

// Call first thing in main, before anything opens a descriptor.
void SecureStandardStreams();
// Whether descriptor FD (0, 1 or 2) was closed when SecureStandardStreams ran.
bool StandardStreamWasClosed(int fd);

} // namespace quokka
