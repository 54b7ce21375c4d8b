#include "price_tools/pricelist/material_list.h"
