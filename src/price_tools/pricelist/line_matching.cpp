#include "price_tools/pricelist/line_matching.h"
