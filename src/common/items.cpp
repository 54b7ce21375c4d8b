#include "common/items.h"

#include "common/atomic_file.h"
#include "common/cp936.h"

#include <fstream>
#include <iterator>

namespace common {
namespace {
bool isLineEnd(char c) { return c == '\r' || c == '\n'; }
}  // namespace

void ItemReader::skipLineEnd() {
  if (pos_ < text_.size() && text_[pos_] == '\r') {
    ++pos_;
    if (pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
  } else if (pos_ < text_.size() && text_[pos_] == '\n') {
    ++pos_;
  }
}

std::optional<std::string> ItemReader::next() {
  if (pos_ >= text_.size()) return std::nullopt;
  while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
  if (pos_ >= text_.size()) return std::string();

  if (text_[pos_] == '"') {
    size_t close = text_.find('"', pos_ + 1);
    std::string item;
    if (close == std::string_view::npos) {
      item = std::string(text_.substr(pos_ + 1));
      pos_ = text_.size();
      return item;
    }
    item = std::string(text_.substr(pos_ + 1, close - pos_ - 1));
    pos_ = close + 1;
    while (pos_ < text_.size() && text_[pos_] != ',' && !isLineEnd(text_[pos_])) ++pos_;
    if (pos_ < text_.size() && text_[pos_] == ',')
      ++pos_;
    else
      skipLineEnd();
    return item;
  }

  size_t start = pos_;
  while (pos_ < text_.size() && text_[pos_] != ',' && !isLineEnd(text_[pos_])) ++pos_;
  std::string item(text_.substr(start, pos_ - start));
  if (pos_ < text_.size() && text_[pos_] == ',')
    ++pos_;
  else
    skipLineEnd();
  return item;
}

std::vector<std::string> readItems(std::string_view text, size_t maxItems) {
  std::vector<std::string> items;
  ItemReader reader(text);
  while (items.size() < maxItems) {
    auto item = reader.next();
    if (!item) break;
    items.push_back(std::move(*item));
  }
  return items;
}

std::optional<std::vector<std::string>> readItemFile(const std::string& path, size_t maxItems) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return readItems(fromCp936(bytes), maxItems);
}

std::string formatItems(const std::vector<ItemValue>& values) {
  std::string out;
  for (const auto& value : values) {
    if (value) {
      out += '"';
      out += *value;
      out += '"';
    }
    out += "\r\n";
  }
  return out;
}

bool writeItemFile(const std::string& path, const std::vector<ItemValue>& values) {
  return writeFileAtomic(path, toCp936(formatItems(values)));
}

}  // namespace common
