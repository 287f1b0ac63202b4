// Row-parallel work for the filters. Results never depend on the number of
// threads: every row is computed from read-only inputs by exactly one task.
#pragma once

#include <cstdint>
#include <functional>

namespace par {

// The CPUs this process may run on: its affinity mask, capped by its control
// group's CPU quota (taskset, container limits). At least 1.
int AvailableCpus();

// Number of worker threads the filters use (1 = everything on the caller's
// thread). Defaults to AvailableCpus() at first use.
int ThreadCount();
void SetThreadCount(int count);

// Runs body(begin, end) over [0, count) split into contiguous blocks of rows.
// After each finished block the calling thread reports onRows(n) with the
// number of rows finished since its last report (in any order), so progress
// bars move from the calling thread only. Exceptions from a body are passed
// on to the caller once all blocks are done. Once onRows has raised, no
// further block starts: the exception ends the call as soon as the blocks
// already running are done.
void ForRows(int32_t count, const std::function<void(int32_t begin, int32_t end)>& body,
             const std::function<void(int32_t rows)>& onRows = {});

}  // namespace par
