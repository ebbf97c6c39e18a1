#pragma once
// A file layer for SQLite, made the default for the process, that passes everything to the
// ordinary one and counts every operation that changes something on disk (a write, a
// truncation, a sync, a deleted file). Told a number, it ends the process with SIGKILL just
// before that operation: a power cut in the middle of SQLite's own work, between any two of its
// steps, with no clean-up of any kind.

namespace crashtest {

// Installs the layer (once per process). `killAt` 0 only counts.
void installWriteKillVfs(long killAt);

// How many disk-changing operations the layer has seen.
long diskOperations();

} // namespace crashtest
