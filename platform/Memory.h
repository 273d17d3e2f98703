// How the process's heap gives memory back to the system.
#pragma once

// Gives the heap's free pages back to the system. A large database is parsed
// by several threads whose big buffers, once freed, stay in the threads'
// heaps; without this the peak grows by a few megabytes from one database to
// the next. Costs a walk over the heaps, so it is for after a large database,
// not after every small one. Does nothing where the C library cannot.
void ReturnFreedMemory();
