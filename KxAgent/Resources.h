// The agent program's string table: texts the product keeps as resources,
// looked up by number.
#pragma once

enum {
  IDS_SERVICENAME = 100,
  IDS_VERSION = 110,
  IDS_BANNER = 120,
  IDS_ERROR_TEXT = 9010,
  IDS_ERROR_UNKNOWN = 9020,
};

// The text of a string-table entry; the empty string when there is no such entry.
const char* LoadResourceString(int nID);
