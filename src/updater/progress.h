#pragma once
// Progress, size, speed and time texts of the download display, and the
// progress of one transfer counted in 1024-byte blocks.
#include <cstdint>
#include <optional>
#include <string>

#include "updater/updater_state.h"

namespace updater {

inline constexpr int64_t kBlock = 1024;

// Every computation below is safe for any non-negative size up to the largest
// 64-bit number, whatever length a server declares.

// numerator / denominator rounded to a whole number, ties to even
// (numerator >= 0, denominator > 0).
int64_t roundHalfEven(int64_t numerator, int64_t denominator);

// Size in kb to two decimals, ties to even, without trailing zeros: 1536 -> "1.5kb".
std::string sizeText(int64_t bytes);
// Seconds as h:m:s without leading zeros: 65 -> "0:1:5".
std::string hmsText(int64_t seconds);
// Value / Max to two decimals (ties to even) times 100, with "%": "57%".
std::string percentText(int64_t value, int64_t max);

// The progress of one transfer: psb's Max and Value, Text1, and the blocks
// counted into kbThisSecond. The body is taken in 1024-byte chunks; a chunk of
// fewer than two bytes (the end) is not a step.
class TransferProgress {
 public:
  // maxBytes: the expected size from the Content-length (0 when there was none
  // or it held no digits), in which case Value counts the bytes received and
  // Text1 shows their size.
  void begin(int64_t maxBytes);
  // Bytes arrived; runs one step per complete chunk.
  void add(int64_t bytes, UpdaterState& state);
  // The end of the body: the last, shorter chunk.
  void finish(UpdaterState& state);

  bool sizeKnown() const { return known_; }
  int64_t max() const { return max_; }
  int64_t value() const { return value_; }
  const std::string& text() const { return text_; }
  void setText(const std::string& text) { text_ = text; }

 private:
  void step(int64_t chunk, UpdaterState& state);
  bool known_ = true;
  int64_t max_ = 0;
  int64_t value_ = 0;
  int64_t partial_ = 0;  // bytes of the chunk being gathered
  std::string text_;
};

}  // namespace updater
