#include "updater/progress.h"

#include <algorithm>

namespace updater {

int64_t roundHalfEven(int64_t numerator, int64_t denominator) {
  int64_t q = numerator / denominator;
  const int64_t r = numerator % denominator;
  // r against the other part of the denominator, so that no sum can overflow.
  if (r > denominator - r || (r == denominator - r && (q % 2) != 0)) ++q;
  return q;
}

std::string sizeText(int64_t bytes) {
  // Whole kb and the hundredths of the rest: no product of the size itself.
  const int64_t whole = bytes / kBlock;
  const int64_t hundredths = roundHalfEven((bytes % kBlock) * 100, kBlock);  // 0..100
  std::string text = std::to_string(whole + hundredths / 100);
  const int64_t frac = hundredths % 100;
  if (frac != 0) {
    text += '.';
    text += static_cast<char>('0' + frac / 10);
    if (frac % 10 != 0) text += static_cast<char>('0' + frac % 10);
  }
  return text + "kb";
}

std::string hmsText(int64_t s) {
  return std::to_string(s / 3600) + ":" + std::to_string((s % 3600) / 60) + ":" + std::to_string(s % 60);
}

std::string percentText(int64_t value, int64_t max) {
  if (max <= 0 || value <= 0) return "0%";
  if (value >= max) return "100%";
  // value / max to two decimals by long division, in unsigned steps that stay
  // below 2 * max, so that any Content-Length is safe.
  const uint64_t m = static_cast<uint64_t>(max);
  uint64_t r = static_cast<uint64_t>(value);
  int64_t hundredths = 0;
  for (int digit = 0; digit < 2; ++digit) {
    int d = 0;
    uint64_t next = 0;  // r * 10 mod m, built by adding r ten times
    for (int k = 0; k < 10; ++k) {
      next += r;
      if (next >= m) {
        next -= m;
        ++d;
      }
    }
    hundredths = hundredths * 10 + d;
    r = next;
  }
  if (r > m - r || (r == m - r && (hundredths % 2) != 0)) ++hundredths;
  return std::to_string(hundredths) + "%";
}

void TransferProgress::begin(int64_t maxBytes) {
  known_ = maxBytes > 0;
  max_ = known_ ? maxBytes : 0;
  value_ = 0;
  partial_ = 0;
}

void TransferProgress::add(int64_t bytes, UpdaterState& state) {
  partial_ += bytes;
  int64_t blocks = partial_ / kBlock;
  partial_ %= kBlock;
  if (blocks == 0) return;
  if (!known_) {
    value_ += blocks * kBlock;
    for (int64_t i = 0; i < blocks && state.kbThisSecond < 32767; ++i) state.kbThisSecond.increment();
    text_ = sizeText(value_);
    return;
  }
  // The blocks that still fit below Max count; the first one that does not
  // puts Value at Max, as do all after it.
  const int64_t fit = std::min(blocks, (max_ - value_) / kBlock);
  if (fit > 0) {
    value_ += fit * kBlock;
    for (int64_t i = 0; i < fit && state.kbThisSecond < 32767; ++i) state.kbThisSecond.increment();
    text_ = percentText(value_, max_);
  }
  if (blocks > fit) value_ = max_;
}

void TransferProgress::finish(UpdaterState& state) {
  if (partial_ >= 2) step(partial_, state);
  else if (!known_) value_ += partial_;
  partial_ = 0;
  if (!known_) text_ = sizeText(value_);
}

void TransferProgress::step(int64_t chunk, UpdaterState& state) {
  if (!known_) {
    // No expected size: count what arrived and show its size.
    value_ += chunk;
    if (chunk == kBlock) state.kbThisSecond.increment();
    text_ = sizeText(value_);
    return;
  }
  if (kBlock > max_ - value_) {
    value_ = max_;
  } else {
    value_ += kBlock;
    state.kbThisSecond.increment();
    text_ = percentText(value_, max_);
  }
}

}  // namespace updater
