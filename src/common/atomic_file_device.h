#pragma once
// A PendingFile as a Qt device, for writers that write to a QIODevice (the
// PDF writer): every byte goes through PendingFile::write, so a failed write
// (a full disk) is remembered and the pending file's commit() refuses,
// however the writer itself treats the error.
#include <QIODevice>

#include "common/atomic_file.h"

namespace common {

class PendingFileDevice : public QIODevice {
 public:
  explicit PendingFileDevice(PendingFile& file) : file_(file) { open(QIODevice::WriteOnly | QIODevice::Unbuffered); }

 protected:
  qint64 readData(char*, qint64) override { return -1; }
  qint64 writeData(const char* data, qint64 size) override {
    return file_.write(data, static_cast<std::size_t>(size)) ? size : -1;
  }

 private:
  PendingFile& file_;
};

}  // namespace common
