#pragma once
// Large pages for the C library's heap.
//
// A price library's products, a comparison of two months or a grid of
// 100,000 rows are tens of megabytes allocated at once. On a virtual machine
// every fresh 4 KiB page of them costs a trap of several microseconds: a third
// of a comparison's time. The C library can back its heap with the system's
// 2 MiB pages instead, but only takes that choice from its environment as the
// program starts (GLIBC_TUNABLES, glibc 2.35 and later). So the programs call
// preferLargePages first thing: unless the choice is made already (by the user
// too, either way), the program is started once more in the same process
// (exec, same arguments) with the choice added; the started program puts the
// variable back as it was, so that what it starts in turn sees the user's.
#include <optional>
#include <string>

namespace common {

// Called first in main(), before any thread or file: returns in the program
// as started again (or when there is nothing to do, or the start fails).
void preferLargePages(char** argv);

// The tunables with large pages added to `current` (the variable's value, or
// null when it is not set); nothing when `current` already says either way.
std::optional<std::string> withLargePages(const char* current);

// Whether the system hands out large pages to a program that asks (Linux's
// transparent huge pages, "always" or "madvise").
bool largePagesOnOffer();

}  // namespace common
