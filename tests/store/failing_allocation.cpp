// Kept apart from the tests so that the compiler never sees a new and a
// delete of these replacements meet in one function.
#include "failing_allocation.h"

#include <cstdlib>
#include <new>

thread_local bool t_failNextAllocation = false;

void* operator new(std::size_t size)
{
    if (t_failNextAllocation) {
        t_failNextAllocation = false;
        throw std::bad_alloc();
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
