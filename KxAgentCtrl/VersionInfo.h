// The tool's version, shown on its version page.
#pragma once

#include "KxProduct.h"

// The product version the tool belongs to.
constexpr char kKxCtrlVersion[] = KX_PRODUCT_VERSION;
