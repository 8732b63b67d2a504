#ifndef WEIGH_RUNTIME_PROGRAM_HEAP_H_
#define WEIGH_RUNTIME_PROGRAM_HEAP_H_

#include <cstddef>

namespace runtime {

// The program heap: the process's private heap for tables, records, file
// buffers and saved-window records. The driver creates it before anything
// else and destroys it last, which frees whatever is still allocated.
void CreateProgramHeap();
void DestroyProgramHeap();

// Returns `size` zero-filled bytes from the program heap, or nullptr.
void* ProgramHeapAlloc(std::size_t size);

// Resizes a block of the program heap; added bytes are zero. Returns the
// possibly moved block, or nullptr (the old block then stays as it was).
void* ProgramHeapReAlloc(void* block, std::size_t size);

// Frees a block of the program heap; nullptr is ignored.
void ProgramHeapFree(void* block);

}  // namespace runtime

#endif  // WEIGH_RUNTIME_PROGRAM_HEAP_H_
