#include "bench/allocation_counter.h"

#include <cstdlib>
#include <new>

namespace kv::bench {
namespace {

// Thread-local, so that the switch of one thread never counts another
// thread's allocations and the counting itself needs no lock.
thread_local bool counting = false;
thread_local std::uint64_t allocations = 0;

void Note() {
  if (counting) {
    ++allocations;
  }
}

// The replacements keep the standard allocator's contract: the plain forms
// either return memory or throw std::bad_alloc after the new-handler gave
// up, the nothrow forms return null. The benchmark must not change how the
// code under measurement behaves, only watch it.
void* Allocate(std::size_t size) {
  Note();
  if (size == 0) {
    size = 1;
  }
  for (;;) {
    if (void* p = std::malloc(size)) {
      return p;
    }
    std::new_handler handler = std::get_new_handler();
    if (handler == nullptr) {
      throw std::bad_alloc();
    }
    handler();
  }
}

void* AllocateNoThrow(std::size_t size) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}

void* AllocateAligned(std::size_t size, std::align_val_t alignment) {
  Note();
  const std::size_t align = static_cast<std::size_t>(alignment);
  // aligned_alloc wants a size that is a multiple of the alignment.
  const std::size_t rounded = size == 0 ? align : (size + align - 1) / align * align;
  for (;;) {
    if (void* p = std::aligned_alloc(align, rounded)) {
      return p;
    }
    std::new_handler handler = std::get_new_handler();
    if (handler == nullptr) {
      throw std::bad_alloc();
    }
    handler();
  }
}

void* AllocateAlignedNoThrow(std::size_t size, std::align_val_t alignment) noexcept {
  try {
    return AllocateAligned(size, alignment);
  } catch (...) {
    return nullptr;
  }
}

}  // namespace

CountAllocations::CountAllocations() : startCount_(allocations), wasCounting_(counting) { counting = true; }

CountAllocations::~CountAllocations() { counting = wasCounting_; }

std::uint64_t CountAllocations::Count() const { return allocations - startCount_; }

}  // namespace kv::bench

// --- the replaced global allocation operators ---

void* operator new(std::size_t size) { return kv::bench::Allocate(size); }
void* operator new[](std::size_t size) { return kv::bench::Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return kv::bench::AllocateNoThrow(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return kv::bench::AllocateNoThrow(size); }
void* operator new(std::size_t size, std::align_val_t alignment) {
  return kv::bench::AllocateAligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return kv::bench::AllocateAligned(size, alignment);
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return kv::bench::AllocateAlignedNoThrow(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return kv::bench::AllocateAlignedNoThrow(size, alignment);
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
