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
// `to`, `put(to)` moves the item held to place `to`.
template <class Hold, class Move, class Put>
void arrangeInPlace(std::vector<uint32_t>& order, Hold hold, Move move, Put put) {
  for (std::size_t k = 0; k < order.size(); ++k) {
    if (order[k] == k) continue;
    hold(k);
    std::size_t j = k;
    for (;;) {
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
