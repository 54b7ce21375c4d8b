#pragma once
// Starting programs and the close request between the two programs.
//
// The main program listens for the close request on a local channel named from
// its window caption (CloseRequestListener); the updater asks the program whose
// caption it knows to close (requestClose), as the original asked the window
// with that caption. The channel carries nothing but the request; the listener
// answers it as a user's click on the window's close box would.
//
// The listener and the request need a running Qt event loop on the listening
// side (QCoreApplication or QApplication); requestClose itself does not.
#include <functional>
#include <memory>
#include <string>

namespace platform {

// The local channel name for a window caption (UTF-8). Equal captions give
// equal names; the name is safe as a socket name whatever the caption holds.
std::string closeChannelName(const std::string& caption);

// Listens, for as long as it lives, for close requests addressed to caption.
// onClose runs from the event loop, once per request received.
class CloseRequestListener {
 public:
  CloseRequestListener(const std::string& caption, std::function<void()> onClose);
  ~CloseRequestListener();
  CloseRequestListener(const CloseRequestListener&) = delete;
  CloseRequestListener& operator=(const CloseRequestListener&) = delete;

  // False when the channel could not be opened (another live program already
  // listens under the same caption); requests then go to that program.
  bool listening() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Asks the program listening under caption to close, without waiting for it to
// go. True when a listener took the request, false when none listens (the
// program is not running).
bool requestClose(const std::string& caption);

// True while a program listens under caption.
bool isListening(const std::string& caption);

// Waits up to timeoutMs (running no event loop) until nobody listens under
// caption any more. True when the channel is gone.
bool waitUntilClosed(const std::string& caption, int timeoutMs);

// Starts a program file detached, without waiting. arguments are passed as they
// are. hidden: the program is started without showing a window where the
// platform can say so (the programs here honour no such flag; it is recorded
// for the started program through the environment variable VELMORA_START_HIDDEN=1).
// False when the program could not be started.
bool startProgram(const std::string& path, bool hidden = false);

// True when path is a regular file that is a program: an ELF executable, or a
// script that starts with "#!". Whether its execute bit is set does not matter.
// Read without blocking: a FIFO or a device is no program.
bool isProgramFile(const std::string& path);

// Starts path only as a program: an ELF executable or a "#!" script (its
// owner's execute bit is given first when it lacks one). Anything else is not
// started and never handed to the desktop's opener. False when nothing was
// started.
bool startProgramFile(const std::string& path, bool hidden = false);

// The shell's "open" of a file: a program file is started, any other file is
// handed to the desktop's opener (xdg-open). False when nothing was started.
bool shellOpen(const std::string& path, bool hidden = false);

}  // namespace platform
