// One owner type per handle kind: the handle is released exactly once, on every path.
#pragma once

#include <utility>

#include "platform/dom.h"
#include "platform/platform.h"

namespace platform {

// Owns a value of type T and releases it with Close unless it equals Empty.
template <typename T, auto Close, auto Empty = T{}>
class UniqueAny {
 public:
  UniqueAny() noexcept = default;
  explicit UniqueAny(T value) noexcept : value_(value) {}
  UniqueAny(const UniqueAny&) = delete;
  UniqueAny& operator=(const UniqueAny&) = delete;
  UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
  UniqueAny& operator=(UniqueAny&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~UniqueAny() { reset(); }

  [[nodiscard]] T get() const noexcept { return value_; }
  [[nodiscard]] explicit operator bool() const noexcept { return value_ != Empty; }
  // Out-parameter for the call that fills the handle; releases what was held before.
  [[nodiscard]] T* put() noexcept {
    reset();
    return &value_;
  }
  T release() noexcept { return std::exchange(value_, Empty); }
  void reset(T value = Empty) noexcept {
    T old = std::exchange(value_, value);
    if (old != Empty) Close(old);
  }

 private:
  T value_ = Empty;
};

namespace detail {
inline void CloseKey(KeyObject* key) noexcept { (void)RegCloseKey(key); }
inline void CloseSnapshot(SnapshotObject* snapshot) noexcept { (void)CloseHandle(snapshot); }
inline void CloseModule(ModuleObject* module) noexcept { (void)FreeLibrary(module); }
}  // namespace detail

using UniqueKey = UniqueAny<KeyObject*, detail::CloseKey>;
using UniqueSnapshot = UniqueAny<SnapshotObject*, detail::CloseSnapshot>;
using UniqueModule = UniqueAny<ModuleObject*, detail::CloseModule>;
using UniqueArgv = UniqueAny<char16_t**, LocalFree>;
using UniqueDom = UniqueAny<DomObject*, DomRelease>;

}  // namespace platform
