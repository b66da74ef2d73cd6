// Large fixed tables of a run (the soil types by id, the precipitation records of an event) whose
// records start as all-zero bytes. Their memory comes straight from the system as zero pages, so
// a run pays only for the pages it touches: a run constructs its tables afresh, and a calibration
// trial that cleared megabytes of records it never reads spent a tenth of its start-up on it.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <type_traits>

// N records of T, indexed 0..N-1 like the array it stands for (it converts to a pointer to its
// first record). T's default state must be all-zero bytes (numbers that default to 0).
template <class T, std::size_t N>
class zeroed_table {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>,
                "records of a zeroed table are plain numbers");

 public:
  zeroed_table() {
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p != MAP_FAILED) {
      data_ = static_cast<T*>(p);
      mapped_ = true;
      return;
    }
    // Without a mapping, zeroed memory of the allocator (its records are the same zeros).
    data_ = static_cast<T*>(std::calloc(N, sizeof(T)));
    if (data_ == nullptr) {
      printf("Error allocating memory for variable %s\n", "zeroed table");
      std::abort();
    }
  }
  ~zeroed_table() {
    if (mapped_)
      munmap(data_, bytes);
    else
      std::free(data_);
  }
  zeroed_table(const zeroed_table&) = delete;
  zeroed_table& operator=(const zeroed_table&) = delete;

  operator T*() noexcept { return data_; }
  operator const T*() const noexcept { return data_; }
  static constexpr std::size_t size() noexcept { return N; }

 private:
  static constexpr std::size_t bytes = N * sizeof(T);
  T* data_ = nullptr;
  bool mapped_ = false;
};
