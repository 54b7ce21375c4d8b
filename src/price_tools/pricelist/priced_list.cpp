#include "price_tools/pricelist/priced_list.h"
