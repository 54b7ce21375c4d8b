#include "price_tools/pricelist/choices.h"
