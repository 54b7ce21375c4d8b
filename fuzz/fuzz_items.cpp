// Feeds arbitrary bytes through the GBK decoding and the item reader, as the
// programs do with MainPro.ini, their own files and the update list.
#include "common/cp936.h"
#include "common/items.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string text = common::fromCp936(bytes);
  auto items = common::readItems(text, 1000);
  // What the writer makes of the items, the reader must give back for any item
  // without a double quote.
  std::vector<common::ItemValue> values;
  for (auto& item : items)
    if (item.find('"') == std::string::npos) values.emplace_back(item);
  auto again = common::readItems(common::formatItems(values), values.size());
  if (again.size() != values.size()) __builtin_trap();
  for (size_t i = 0; i < values.size(); ++i)
    if (again[i] != *values[i]) __builtin_trap();
  common::toCp936(text);
  return 0;
}
