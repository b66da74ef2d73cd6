// Splitting the nodes of a channel network's links among the threads of a parallel region: the
// chosen links' nodes 1..nx[link] taken link after link form one flat range, and each thread
// takes an equal contiguous share of it, so a long link is shared among threads and many short
// links go to one. Every node is computed by the same arithmetic whatever share it falls in, so
// the results do not depend on the thread count.
#pragma once

#include <omp.h>

#include <algorithm>

#include "channel/channel_state.h"
#include "framework/core/parallel_team.h"

// Below this many nodes the routing's node loops run on one thread: a sub-step of one pass opens
// three parallel regions and waits at two to four barriers inside them, and on a smaller network
// waking the threads that often costs more than the work it shares.
inline constexpr long routing_parallel_min_nodes = 32768;

// Fewest nodes a thread of the routing's node loops is given from routing_parallel_min_nodes on.
inline constexpr long routing_nodes_per_thread = 4096;

// Threads for a node loop over `total` nodes.
inline int routing_team(long total) {
  return total < routing_parallel_min_nodes ? 1 : team_size(total, routing_nodes_per_thread);
}

// The nodes 1..nx[link] of every link for which `chosen(link)` holds, together.
template <class Chosen>
long chosen_node_total(const channel_state& ch, Chosen chosen) {
  long total = 0;
  for (int link = 1; link <= ch.chan_link_count; ++link)
    if (chosen(link)) total += ch.nx[link];
  return total;
}

// Called by every thread of a parallel region (or outside one, by the only thread): calls
// `visit(link, first, last)` for each piece of the calling thread's share of the chosen links'
// nodes, the nodes first..last of one link, in link order. `total` is chosen_node_total.
template <class Chosen, class Visit>
void visit_own_nodes(const channel_state& ch, long total, Chosen chosen, Visit visit) {
  const long threads = omp_get_num_threads();
  const long thread = omp_get_thread_num();
  const long lo = total * thread / threads;
  const long hi = total * (thread + 1) / threads;
  if (lo >= hi) return;
  long start = 0;
  for (int link = 1; link <= ch.chan_link_count; ++link) {
    if (!chosen(link)) continue;
    const long n = ch.nx[link];
    const long begin = start;
    start += n;
    if (start <= lo) continue;
    if (begin >= hi) break;
    const int first = static_cast<int>(std::max(lo - begin, 0L) + 1);
    const int last = static_cast<int>(std::min(hi - begin, n));
    if (first <= last) visit(link, first, last);
  }
}
