// Keeps the windows alive during long work on their own thread.
#pragma once

// Processes pending window events at most once every ~15 ms, so that a caller may call it after
// every chunk of work at little cost to throughput.
void PumpThrottled();
// Processes pending events now.
void PumpNow();
