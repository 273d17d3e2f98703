// How the process's heap gives memory back to the system.
#pragma once

// Has blocks of 128 KiB and more mapped on their own and given back to the
// system when freed. A run's parsing threads free large buffers that other
// threads then ask for again; with the C library's own rule, which raises
// that bound each time such a block is freed, they pile up in the threads'
// heaps, and the peak grows by a few megabytes from one run to the next.
// Safe to call more than once; does nothing where the C library has no such
// setting.
void ReturnLargeBlocksAtOnce();
