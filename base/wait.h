#pragma once
// Waiting without freezing and without holding anything up: the program's timed pauses run
// on timers of the interface thread, so whichever event loop runs there (the program's own, a
// modal box's, a menu's) carries them on at their own pace.
#include <QObject>
#include <functional>

namespace quokka {

// How long the program's timed steps last: the designed pace unless a run is handed others.
struct Timings {
    int hopWaitMs = 2000;     // after each listed hop, and for each replayed segment
    int welcomeMs = 5000;     // the welcome notice of a first run
    int setupNoticeMs = 3000; // the setup window's own notice
    int hostNameMs = 1500;    // a hop's host name is waited for, from its listing on (below its pause)
};
// True once the program has begun to close: pending waits and work end without continuing.
bool ShuttingDown();
// Marks the program as closing, ends pending waits and asks all running work to stop.
void BeginShutdown();

// Calls THEN on the interface thread after MS milliseconds of the monotonic clock (never
// earlier), unless CONTEXT has gone or the program is closing by then.
void After(int ms, QObject *context, std::function<void()> then);

// The responsive wait after a listed hop (MS, the designed 2000 ms): THEN runs once it is
// over, unless CONTEXT has gone or the program is closing. Nothing blocks meanwhile.
void WaitWithMessagePump(int ms, QObject *context, std::function<void()> then);

} // namespace quokka
