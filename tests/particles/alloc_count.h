// Counts the C++ allocations of this test program (operator new is replaced
// for the whole program), so a test can show that a frame allocates nothing.
#pragma once

namespace alloccount {

// Calls of operator new (every unaligned form) since the program started.
long NewCalls();

} // namespace alloccount
