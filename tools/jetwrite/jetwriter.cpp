#include "jetwrite/jetwriter.h"

namespace jetwrite {

void writeDatabase(const Database&, const std::string&) {
    throw std::runtime_error("jetwrite: writer not finished yet");
}

}  // namespace jetwrite
