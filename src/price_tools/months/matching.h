#pragma once
// The same product in two libraries. Monthly libraries are made separately,
// so ids need not agree: a product is known by its name, model, unit and
// manufacturer name, each compared after normalising.
#include <string>
#include <string_view>
#include <vector>

#include "price_tools/months/products.h"

namespace price_tools {

// A text as products are compared by it: blanks (ASCII blanks, tabs and the
// ideographic space) trimmed and runs of them collapsed to one blank,
// full-width letters, digits and signs (U+FF01 to U+FF5E) folded to their
// ASCII forms, ASCII letters lowered. Bytes that are not UTF-8 stay as they are.
std::string normalised(std::string_view text);

// The key of a product: its four normalised texts.
std::string matchKey(const Product& product);
std::string matchKeyOf(std::string_view name, std::string_view model, std::string_view unit, std::string_view factory);

// A pair of products (indices into the two lists), -1 on the side where the
// product is missing ("new": from -1, "gone": to -1).
struct MatchedPair {
  int from = -1;
  int to = -1;
};

// Pairs the products of two libraries by key. Where a key occurs several
// times, products with equal ids are paired first, the rest in their order
// (the k-th left over in one library with the k-th in the other). The pairs
// come in the order of `to`, followed by the gone products in the order of `from`.
std::vector<MatchedPair> matchProducts(const std::vector<Product>& from, const std::vector<Product>& to);
// The same for two libraries held compactly.
std::vector<MatchedPair> matchProducts(const ProductTable& from, const ProductTable& to);

}  // namespace price_tools
