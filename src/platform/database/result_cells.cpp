#include <cstring>
#include <memory>
#include <stdexcept>

#include "platform/database/jet_database.h"
#include "platform/database/jet_types.h"

// A result's cells: 16 bytes each in fixed blocks, their texts copied into
// blocks of text that are never moved.

namespace ado {

Cells::Cell& Cells::added() {
  if ((size_ & (kBlock - 1)) == 0) blocks_.emplace_back().reserve(kBlock);
  ++size_;
  return blocks_.back().emplace_back();
}

void Cells::pushNull() {
  Cell& c = added();
  c.whole = 0;
  c.size = 0;
  c.type = Variant::Type::Null;
}

void Cells::pushWhole(Variant::Type type, int64_t value) {
  Cell& c = added();
  c.whole = value;
  c.size = 0;
  c.type = type;
}

void Cells::pushReal(Variant::Type type, double value) {
  Cell& c = added();
  c.real = value;
  c.size = 0;
  c.type = type;
}

void Cells::pushText(std::string_view text) {
  // SQLite's texts stay below 2^31 bytes; a longer one cannot come.
  if (text.size() > UINT32_MAX) throw std::length_error("Cells::pushText");
  const char* stored = "";
  if (!text.empty()) {
    char* at;
    if (text.size() > kTextBlock / 4) {
      // A long text has a block of its own; the last block keeps its room.
      texts_.push_back(std::make_unique_for_overwrite<char[]>(text.size()));
      at = texts_.back().get();
    } else {
      if (text.size() > room_) {
        texts_.push_back(std::make_unique_for_overwrite<char[]>(kTextBlock));
        free_ = texts_.back().get();
        room_ = kTextBlock;
      }
      at = free_;
      free_ += text.size();
      room_ -= text.size();
    }
    std::memcpy(at, text.data(), text.size());
    stored = at;
  }
  Cell& c = added();
  c.text = stored;
  c.size = uint32_t(text.size());
  c.type = Variant::Type::Text;
}

Variant Cells::operator[](std::size_t i) const {
  const Cell& c = cell(i);
  switch (c.type) {
    case Variant::Type::Null: return Variant::null();
    case Variant::Type::Text: return Variant::text(std::string(c.text, c.size));
    case Variant::Type::Single:
    case Variant::Type::Double:
    case Variant::Type::Date: return variantOf(c.type, c.real);
    default: return variantOf(c.type, c.whole);
  }
}

Variant Cells::at(std::size_t i) const {
  if (i >= size_) throw std::out_of_range("Cells::at");
  return (*this)[i];
}

std::string Cells::takeText(std::size_t i) {
  Cell& c = blocks_[i >> kBlockBits][i & (kBlock - 1)];
  if (c.type != Variant::Type::Text) return (*this)[i].toText();
  std::string text(c.text, c.size);
  c.size = 0;
  return text;
}

}  // namespace ado
