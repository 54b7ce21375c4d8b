// The month commands on the band: the comparison of two libraries and a
// product's price history.
#include "price_windows/band/command_band.h"

namespace price_windows {

void installPriceCommands(CommandBand&) {}

}  // namespace price_windows
