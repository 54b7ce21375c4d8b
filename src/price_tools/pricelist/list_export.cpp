#include "price_tools/pricelist/list_export.h"
