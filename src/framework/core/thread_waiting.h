// How long the threads of the parallel loops spin before they sleep. A thread that reaches the
// end of a loop before the others waits for them; spinning long on a machine whose other work
// keeps the cores busy stalls a run, because the threads it waits for are not running. The
// OpenMP runtime reads its waiting policy once, when it is loaded, before main; so the program
// sets its own bound and starts itself again, once, when the user has set none.
#pragma once

// Spin iterations of a waiting thread before it sleeps: the runtime's default is 300,000, and
// 1,000 is what it takes itself when it has more threads than processors. A run of the
// V-catchment on a machine loaded by other work took minutes with the default, and whole
// seconds with 10,000 or 100,000, where 1,000 kept it within a second.
inline constexpr const char* bounded_spin_count = "1000";

// Called first in main with its argument vector. When neither OMP_WAIT_POLICY nor
// GOMP_SPINCOUNT is set, sets GOMP_SPINCOUNT to bounded_spin_count and runs the program again
// in place (the same process, arguments, standard streams and the rest of the environment),
// so that the runtime starts with the bound; the second start finds GOMP_SPINCOUNT set and goes
// on, so it never loops. A user's own OMP_WAIT_POLICY or GOMP_SPINCOUNT is kept as it is.
// Returns when the program goes on in this process: the waiting policy was already set, or the
// program could not be started again (it then runs with the runtime's default waiting).
void bound_thread_waiting(char** argv);
