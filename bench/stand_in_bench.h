// The Velk stand-in's share of a run and the real-time limits of whole runs.
#pragma once

namespace bench {

// The host's hand-over of a block and a runner round, with and without recording.
bool RunStandInCosts(int rounds);
// The highest real-clock rates that complete without overflow, runs of `seconds`.
bool RunRealTimeTable(double seconds);

}  // namespace bench
