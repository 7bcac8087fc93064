#include "Resources.h"

#include "KxProduct.h"

namespace {

struct StringEntry {
  int nID;
  const char* lpText;
};

const StringEntry kStringTable[] = {
    {IDS_SERVICENAME, KX_SERVICE_NAME},
    {IDS_VERSION, KX_PRODUCT_VERSION},
    {IDS_BANNER,
     KX_PRODUCT_NAME " Version %s\r\n"
     "Serial console management agent. All rights reserved.\r\n"},
    {IDS_ERROR_TEXT, "[Error] (0x%08x) %s"},
    {IDS_ERROR_UNKNOWN, "[Error] (0x%08x) Unknown error."},
};

}  // namespace

const char* LoadResourceString(int nID) {
  for (const StringEntry& entry : kStringTable) {
    if (entry.nID == nID) return entry.lpText;
  }
  return "";
}
