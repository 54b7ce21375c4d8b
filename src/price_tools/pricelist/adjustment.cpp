#include "price_tools/pricelist/adjustment.h"
