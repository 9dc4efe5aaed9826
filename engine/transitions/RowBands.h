#pragma once
// Row-band threads: a frame routine hands its rows out in bands to a small pool of worker threads
// and the calling thread. Bands never share a row, so a body that writes only its own rows, and
// reads only what no band writes, gives the same pixels whatever the number of threads.

#include <functional>

namespace lumora {

// Runs body(first, last) over the rows [0, rows) cut into bands of at least minRows rows and
// returns when every band is done. Runs on the calling thread alone when there are few rows, when
// the pool is already busy (a nested or concurrent call) or when one thread is set. Bodies must not
// throw.
void ForRowBands(int rows, const std::function<void(int first, int last)>& body, int minRows = 16);

// The number of threads that share the bands (the caller included). 1 keeps everything on the
// calling thread; 0 restores the default (the processor count, at most 4). Tests compare results
// for different counts.
void SetRowBandThreads(int n);
int RowBandThreads();

} // namespace lumora
