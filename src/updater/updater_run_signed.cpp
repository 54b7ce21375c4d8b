// The parts of a run that a vendor key in upset.ini adds: the list's signature
// and the files' hashes. Without a key none of this runs.
#include <QTimer>

#include <filesystem>

#include "common/log.h"
#include "platform/messagebox/messagebox.h"
#include "updater/local_files.h"
#include "updater/updater_run.h"

namespace updater {

void UpdaterRun::startSignatureDownload() {
  signature_.clear();
  // From the event loop: the list's own transfer is still reporting its end.
  QTimer::singleShot(0, this, [this] {
    if (ended_) return;
    inet2_.setUrl(state_.listUrl + kSignatureSuffix);
    inet2_.setMaxBytes(minisign::kMaxSignatureBytes);
    platform::HttpTransfer::Handlers h;
    h.onData = [this](std::string_view bytes) { signature_.append(bytes); };
    h.onStateChanged = [this](platform::InetState s) {
      inet2_.setMaxBytes(limits_.listMaxBytes);
      if (s == platform::InetState::RequestFailed) {
        refuseList("signature not fetched: " + inet2_.errorText(), true);
        std::error_code ec;
        std::filesystem::remove(localPath(kRawListFile), ec);
        closeWindow();
        return;
      }
      listArrived();
    };
    inet2_.execute(std::move(h));
  });
}

bool UpdaterRun::listTrusted(const std::string& list) {
  const ListVerdict v = checkSignedList(state_.publicKey, list, signature_, state_.installedVersion);
  if (v.trust == ListTrust::Trusted) return true;
  // A list older than what is installed is simply not acted on; anything else
  // is a list the vendor did not sign.
  refuseList(v.why, v.trust != ListTrust::Older);
  return false;
}

void UpdaterRun::refuseList(const std::string& why, bool tellUser) {
  note("update list refused: " + why);
  // The main program's start-up launch (the marker is there) stays silent; a
  // run the user asked for says why nothing happens.
  if (tellUser && !FileExists(localPath(kMarkerFile))) platform::MsgBox(kBadSignatureMessage);
}

bool UpdaterRun::itemHashAcceptable() {
  if (state_.publicKey.empty() || !state_.itemHash.empty()) return true;
  note("item " + state_.itemName + " refused: the signed list gives no hash for it");
  markCurrentFailed();
  return false;
}

bool UpdaterRun::itemHashMatches() {
  if (state_.itemHash.empty()) return true;
  if (itemHasher_.hex() == state_.itemHash) return true;
  note("item " + state_.itemName + " refused: its file does not match the list's hash");
  markCurrentFailed();
  return false;
}

void UpdaterRun::markCurrentFailed() {
  const int row = state_.currentRow;
  if (row <= 0 || row >= static_cast<int>(rows_.size())) return;
  rows_[row].failed = true;
  rows_[row].ticked = false;
  rows_[row].cells[0] = "0";
  if (view_) view_->listChanged();
}

}  // namespace updater
