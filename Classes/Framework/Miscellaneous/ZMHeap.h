#pragma once
// How the process's heap is kept small over a long session.
//
// glibc gives each thread that allocates its own arena (up to eight per
// core) and serves large blocks from an arena once the largest freed block
// has raised its threshold: the refresh's parsing threads, the dispatch
// queues and the web engine's threads each keep the memory they once used,
// and a large buffer freed in the middle of an arena cannot go back to the
// system. configure() limits the arenas and serves every block of
// kMmapThreshold or more from its own mapping, which goes back the moment it
// is freed. main() calls it first, before any thread starts.
//
// The limit leaves an arena to each thread that allocates at once in the
// heaviest work, a refresh: the parsing threads (up to four), the writer,
// the main thread and the downloads make or free records stanza by stanza,
// and threads that share an arena queue on its lock (with two arenas a
// refresh of many sources took some 40% longer).
#include <cstddef>

namespace ZMHeap {

inline constexpr int kArenas = 8;
inline constexpr size_t kMmapThreshold = 1 << 20;
inline constexpr size_t kTrimThreshold = 4 << 20;

// True when the allocator took every setting (always false without glibc).
bool configure();

// Gives the free pages of every arena back to the system, also those in the
// middle of a heap that no threshold reaches (a large text's nodes freed
// among the ones that stay). Costs a walk over the free blocks: call it
// after large work, off the GUI thread. False without glibc.
bool giveBack();

}  // namespace ZMHeap
