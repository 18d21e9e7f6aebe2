// Counts the heap allocations a stretch of code makes on the calling thread.
// This program replaces the global allocation operators with ones that count
// while a CountAllocations object is alive on the thread that allocates;
// other threads and the rest of the time go uncounted.
#pragma once

#include <cstdint>

namespace kv::bench {

class CountAllocations {
 public:
  CountAllocations();
  ~CountAllocations();
  CountAllocations(const CountAllocations&) = delete;
  CountAllocations& operator=(const CountAllocations&) = delete;

  // Allocations on this thread since construction.
  std::uint64_t Count() const;

 private:
  std::uint64_t startCount_;
  bool wasCounting_;
};

}  // namespace kv::bench
