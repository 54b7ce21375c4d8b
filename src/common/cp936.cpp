#include "common/cp936.h"

#include <iconv.h>

#include <cerrno>
#include <stdexcept>

namespace common {
namespace {

// One conversion descriptor per direction, reset before each use.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1))
      throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
  }
  ~Converter() { iconv_close(cd_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts input; on an invalid or unconvertible sequence appends
  // `replacement`, skips one input byte (plus the rest of a UTF-8 sequence when
  // skipUtf8Sequence is set) and goes on.
  std::string run(std::string_view input, std::string_view replacement, bool skipUtf8Sequence) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    std::string out;
    out.reserve(input.size() * 3 / 2 + 8);
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    char buffer[4096];
    while (inLeft > 0) {
      char* outPtr = buffer;
      size_t outLeft = sizeof buffer;
      size_t r = iconv(cd_, &in, &inLeft, &outPtr, &outLeft);
      out.append(buffer, outPtr - buffer);
      if (r != static_cast<size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL (truncated sequence at the end): replace and skip.
      out.append(replacement);
      size_t skip = 1;
      if (skipUtf8Sequence) {
        auto lead = static_cast<unsigned char>(*in);
        size_t len = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        while (skip < len && skip < inLeft && (static_cast<unsigned char>(in[skip]) & 0xC0) == 0x80) ++skip;
      }
      in += skip;
      inLeft -= skip;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    iconv(cd_, nullptr, nullptr, &outPtr, &outLeft);
    out.append(buffer, outPtr - buffer);
    return out;
  }

 private:
  iconv_t cd_;
};

bool isAscii(std::string_view s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

}  // namespace

std::string fromCp936(std::string_view bytes) {
  if (isAscii(bytes)) return std::string(bytes);
  thread_local Converter conv("UTF-8", "CP936");
  return conv.run(bytes, "\xEF\xBF\xBD", false);
}

std::string toCp936(std::string_view utf8) {
  if (isAscii(utf8)) return std::string(utf8);
  thread_local Converter conv("CP936", "UTF-8");
  return conv.run(utf8, "?", true);
}

}  // namespace common
