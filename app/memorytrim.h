#pragma once

class QObject;

// A week of monitoring allocates and frees a few megabytes a minute: log
// lines leaving the view, table blocks read while scrolling, frames and
// samples. glibc keeps the freed pages in its heap rather than handing them
// back, so the resident size creeps up with fragmentation while what is in
// use stays flat. Once a minute the free pages go back to the system (one
// walk over a heap of a few tens of megabytes). Elsewhere than on glibc it
// does nothing.
void trimFreedMemoryEveryMinute(QObject *owner);
