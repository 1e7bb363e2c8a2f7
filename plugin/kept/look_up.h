#pragma once

#include <iterator>

#include "plugin/kept/quick_checks.h"

namespace aikorvane::kept {

// The inserting look-up map[key], trying first the entry after `hint` (an
// entry of the map or its end), where the previous look-up left it: keys read
// in ascending order then cost one comparison each.
template <typename Map>
inline __attribute__((always_inline)) typename Map::mapped_type& LookUpAfter(
    Map& map, const typename Map::key_type& key, typename Map::iterator& hint) {
  if (hint != map.end()) {
    const auto next = std::next(hint);
    if (next != map.end() && SameText(next->first, key)) return (hint = next)->second;
    if (SameText(hint->first, key)) return hint->second;
  }
  hint = map.try_emplace(key).first;
  return hint->second;
}

}  // namespace aikorvane::kept
