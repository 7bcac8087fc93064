#include "Resources.h"

namespace {

struct StringEntry {
  int nID;
  const char* lpText;
};

const StringEntry kStringTable[] = {
    {IDS_SERVICENAME, "KxAgent"},
    {IDS_VERSION, "1.1.0"},
    {IDS_BANNER,
     "Kestrix Agent for Windows Version %s\r\n"
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
