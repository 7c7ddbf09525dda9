// Allocation failure on demand: this program replaces the global operator new.
#pragma once

// When set, the next operator new on this thread throws std::bad_alloc and
// clears it again.
extern thread_local bool t_failNextAllocation;
