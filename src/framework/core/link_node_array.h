// Per-node arrays of a channel network: one contiguous range of nodes for each link, reached as
// a(link, node). Link L holds nodes 0..node_count(L) + 1 (a spare node at each end, so that the
// ends of a link can be read without a test); links run 1..link_count(). The routing sweeps a
// link's nodes in order, so a link's values lie side by side; link_nodes(L) gives the pointer
// that hot loops index by node. The same shape serves any ragged table (the levels of each
// depth table, the cells of each lake).
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdlib>
#include <utility>

#include "framework/core/raw_arrays.h"

template <class T>
class link_node_array {
  static_assert(raw_array_detail::raw_element<T>, "link/node arrays hold plain values");

 public:
  link_node_array() = default;
  link_node_array(const link_node_array&) = delete;
  link_node_array& operator=(const link_node_array&) = delete;
  link_node_array(link_node_array&& other) noexcept { take(other); }
  link_node_array& operator=(link_node_array&& other) noexcept {
    if (this != &other) {
      reset();
      take(other);
    }
    return *this;
  }
  ~link_node_array() { reset(); }

  // Replaces the array by a zeroed one of links 1..link_count, link L with nodes
  // 0..node_count[L] + 1 (node_count indexed 1..link_count). Prints nothing; false (and empty)
  // when a count is negative or the memory cannot be had.
  bool allocate(int link_count, const int* node_count) {
    reset();
    if (link_count < 0 || (link_count > 0 && node_count == nullptr)) return false;
    const std::size_t links = static_cast<std::size_t>(link_count) + 1;
    std::size_t* offset = raw_array_detail::alloc_zeroed<std::size_t>(links + 1);
    int* nodes = raw_array_detail::alloc_zeroed<int>(links);
    if (offset == nullptr || nodes == nullptr) {
      std::free(offset);
      std::free(nodes);
      return false;
    }
    std::size_t total = 0;
    offset[0] = 0;
    offset[1] = 0;  // link 0 holds nothing
    for (int l = 1; l <= link_count; ++l) {
      const int n = node_count[l];
      if (n < 0 || __builtin_add_overflow(total, static_cast<std::size_t>(n) + 2, &total)) {
        std::free(offset);
        std::free(nodes);
        return false;
      }
      nodes[l] = n;
      offset[l + 1] = total;
    }
    T* block = raw_array_detail::alloc_zeroed<T>(total == 0 ? 1 : total);
    if (block == nullptr) {
      std::free(offset);
      std::free(nodes);
      return false;
    }
    block_ = block;
    offset_ = offset;
    nodes_ = nodes;
    links_ = link_count;
    total_ = total;
    return true;
  }
  // Every link with the same node count: links 1..link_count, nodes 0..node_count + 1.
  bool allocate_uniform(int link_count, int node_count) {
    reset();
    if (link_count < 0 || node_count < 0) return false;
    int* counts = raw_array_detail::alloc_zeroed<int>(static_cast<std::size_t>(link_count) + 1);
    if (counts == nullptr) return false;
    for (int l = 1; l <= link_count; ++l) counts[l] = node_count;
    const bool ok = allocate(link_count, counts);
    std::free(counts);
    return ok;
  }
  void reset() noexcept {
    std::free(block_);
    std::free(offset_);
    std::free(nodes_);
    block_ = nullptr;
    offset_ = nullptr;
    nodes_ = nullptr;
    links_ = 0;
    total_ = 0;
  }

  // The value of node `node` of link `link`.
  T& operator()(int link, int node) noexcept {
    assert(has(link, node));
    return block_[offset_[link] + static_cast<std::size_t>(node)];
  }
  const T& operator()(int link, int node) const noexcept {
    assert(has(link, node));
    return block_[offset_[link] + static_cast<std::size_t>(node)];
  }
  // Pointer p of link `link` with p[node] its node's value, node 0..node_count(link) + 1.
  T* link_nodes(int link) noexcept {
    assert(link >= 1 && link <= links_);
    return block_ + offset_[link];
  }
  const T* link_nodes(int link) const noexcept {
    assert(link >= 1 && link <= links_);
    return block_ + offset_[link];
  }

  // The array holds node `node` of link `link` (the spare nodes 0 and node_count + 1 included).
  bool has(int link, int node) const noexcept {
    return block_ != nullptr && link >= 1 && link <= links_ && node >= 0 &&
           node <= nodes_[link] + 1;
  }
  int link_count() const noexcept { return links_; }
  int node_count(int link) const noexcept { return link >= 1 && link <= links_ ? nodes_[link] : 0; }
  std::size_t element_count() const noexcept { return total_; }
  T* data() noexcept { return block_; }  // every link's nodes, link after link
  const T* data() const noexcept { return block_; }
  bool empty() const noexcept { return block_ == nullptr; }
  explicit operator bool() const noexcept { return block_ != nullptr; }

 private:
  void take(link_node_array& other) noexcept {
    block_ = std::exchange(other.block_, nullptr);
    offset_ = std::exchange(other.offset_, nullptr);
    nodes_ = std::exchange(other.nodes_, nullptr);
    links_ = std::exchange(other.links_, 0);
    total_ = std::exchange(other.total_, 0);
  }

  T* block_ = nullptr;
  std::size_t* offset_ = nullptr;  // per link 0..links_ + 1: start of the link's node 0
  int* nodes_ = nullptr;           // per link 1..links_: its node count
  int links_ = 0;
  std::size_t total_ = 0;
};
