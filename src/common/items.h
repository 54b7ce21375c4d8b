#pragma once
// The delimited-item text format of MainPro.ini, the updater's files and the
// update list.
//
// Reading, one item at a time: blanks before an item are skipped; an item that
// begins with a double quote runs to the next double quote (the quotes are
// dropped) and the rest of that line up to the next comma or line end is
// skipped; any other item ends at the next comma or line end; an empty line
// gives an empty item. Line ends are CR LF, LF or CR.
//
// Writing: one value a line, text between double quotes, a value that was never
// set as an empty line, CR LF line ends.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace common {

class ItemReader {
 public:
  explicit ItemReader(std::string_view text) : text_(text) {}
  // The next item, or nothing at the end of the text.
  std::optional<std::string> next();
  bool atEnd() const { return pos_ >= text_.size(); }

 private:
  void skipLineEnd();
  std::string_view text_;
  size_t pos_ = 0;
};

// At most maxItems items of decoded text.
std::vector<std::string> readItems(std::string_view text, size_t maxItems);

// Reads a GBK file and splits it into at most maxItems items. Nothing when the
// file cannot be opened.
std::optional<std::vector<std::string>> readItemFile(const std::string& path, size_t maxItems);

// A value of an item file: text, or never set (written as an empty line).
using ItemValue = std::optional<std::string>;

// The file's text (UTF-8) for the given values.
std::string formatItems(const std::vector<ItemValue>& values);

// Writes the values GBK-encoded, atomically. False when the file could not be
// written; the previous file is then left as it was.
[[nodiscard]] bool writeItemFile(const std::string& path, const std::vector<ItemValue>& values);

}  // namespace common
