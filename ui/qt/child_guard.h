// Owns a parented Qt object created for one modal run, on the stack of the
// code that shows it. Should the parent go first (its deletion takes its
// children along), the guard notices and deletes nothing twice.
#pragma once

#include <QPointer>

namespace kv {

template <class T>
class ChildGuard {
 public:
  explicit ChildGuard(T* object) : object_(object) {}
  ~ChildGuard() { delete object_.data(); }
  ChildGuard(const ChildGuard&) = delete;
  ChildGuard& operator=(const ChildGuard&) = delete;

  T* get() const { return object_.data(); }
  T* operator->() const { return object_.data(); }
  explicit operator bool() const { return !object_.isNull(); }

 private:
  QPointer<T> object_;
};

}  // namespace kv
