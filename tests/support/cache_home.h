#pragma once
// The library cache in a folder of the test's choosing while the object
// lives: XDG_CACHE_HOME names the folder and the cache is on. Both are put
// back afterwards (the cache as VELMORA_NO_CACHE says).
#include <cstdlib>
#include <optional>
#include <string>

#include "platform/database/library_cache.h"

namespace testsupport {

class CacheHome {
 public:
  explicit CacheHome(const std::string& folder) {
    if (const char* old = std::getenv("XDG_CACHE_HOME")) old_ = old;
    ::setenv("XDG_CACHE_HOME", folder.c_str(), 1);
    ado::setLibraryCacheEnabled(true);
  }
  ~CacheHome() {
    if (old_)
      ::setenv("XDG_CACHE_HOME", old_->c_str(), 1);
    else
      ::unsetenv("XDG_CACHE_HOME");
    const char* off = std::getenv("VELMORA_NO_CACHE");
    ado::setLibraryCacheEnabled(!off || !*off || std::string(off) == "0");
  }
  CacheHome(const CacheHome&) = delete;
  CacheHome& operator=(const CacheHome&) = delete;

 private:
  std::optional<std::string> old_;
};

}  // namespace testsupport
