#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "platform/database/jet_database.h"
#include "platform/database/jet_types.h"

// A result's cells: 16 bytes each in blocks, their texts copied into blocks
// of text; nothing is moved once stored.

namespace ado {

namespace {

constexpr std::size_t kLargePage = std::size_t(2) << 20;

void* smallBlock(std::size_t bytes) {
  void* p = std::malloc(bytes);
  if (!p) throw std::bad_alloc();
  return p;
}

// A block of whole large pages, which the system is asked to back by large
// pages where it can: a result of a hundred thousand rows otherwise meets
// several thousand fresh pages, one fault each.
void* largeBlock(std::size_t bytes) {
  void* p = std::aligned_alloc(kLargePage, bytes);
  if (!p) throw std::bad_alloc();
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  madvise(p, bytes, MADV_HUGEPAGE);
#endif
  return p;
}

}  // namespace

void Cells::Free::operator()(void* p) const { std::free(p); }

Cells::Cell& Cells::added() {
  if (left_ == 0) {
    if (size_ < kSmallCells) {
      small_.emplace_back(static_cast<Cell*>(smallBlock(kSmall * sizeof(Cell))));
      next_ = small_.back().get();
      left_ = kSmall;
    } else {
      static_assert(kLarge * sizeof(Cell) % kLargePage == 0);
      large_.emplace_back(static_cast<Cell*>(largeBlock(kLarge * sizeof(Cell))));
      next_ = large_.back().get();
      left_ = kLarge;
    }
  }
  --left_;
  ++size_;
  return *next_++;
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
      texts_.emplace_back(static_cast<char*>(smallBlock(text.size())));
      at = texts_.back().get();
    } else {
      if (text.size() > room_) {
        // Small blocks first; once the texts fill a large page, large pages.
        const bool large = textBytes_ >= kLargeTextBlock;
        const std::size_t bytes = large ? kLargeTextBlock : kTextBlock;
        texts_.emplace_back(static_cast<char*>(large ? largeBlock(bytes) : smallBlock(bytes)));
        free_ = texts_.back().get();
        room_ = bytes;
        textBytes_ += bytes;
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
  Cell& c = cell(i);
  if (c.type != Variant::Type::Text) return (*this)[i].toText();
  std::string text(c.text, c.size);
  c.size = 0;
  return text;
}

}  // namespace ado
