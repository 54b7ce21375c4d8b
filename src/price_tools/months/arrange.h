#pragma once
// Items put in a new order where they are: order[k] names the item that goes
// to place k. Each cycle of the order is followed once, so every item moves
// once and no second set of items is made. `order` is used up (it is left as
// the identity).
#include <cstddef>
#include <cstdint>
#include <vector>

namespace price_tools {

// `hold(k)` keeps item k aside, `move(to, from)` moves item `from` to place
// `to`, `put(to)` moves the item held to place `to`. `ahead(i)`, when given,
// is told a few moves before item i moves, so that it can be fetched while
// the moves before it are made (the items of a cycle lie anywhere).
struct NothingAhead {
  void operator()(std::size_t) const {}
};

template <class Hold, class Move, class Put, class Ahead = NothingAhead>
void arrangeInPlace(std::vector<uint32_t>& order, Hold hold, Move move, Put put, Ahead ahead = Ahead()) {
  constexpr int kAhead = 8;
  for (std::size_t k = 0; k < order.size(); ++k) {
    if (order[k] == k) continue;
    hold(k);
    // `next` runs kAhead moves ahead along the cycle, where order is not
    // yet changed; it stops at k, the cycle's end.
    std::size_t next = k;
    for (int a = 0; a < kAhead && order[next] != k; ++a) ahead(next = order[next]);
    std::size_t j = k;
    for (;;) {
      if (order[next] != k) ahead(next = order[next]);
      const std::size_t source = order[j];
      order[j] = static_cast<uint32_t>(j);
      if (source == k) {
        put(j);
        break;
      }
      move(j, source);
      j = source;
    }
  }
}

}  // namespace price_tools
