// The kinds of plug-in, each described once: the number the configuration
// files store for it, the type code its plug-in object reports, the name shown
// for it, the script language it runs in and the file name extensions it is
// installed from. The two numberings differ and both are fixed (one is in
// stored files, the other in the plug-in interface); this table is the only
// place that joins them.
#pragma once

#include <cstddef>
#include <string>

#include "KxAgentPluginManager/KxAgentPlugin.h"

enum class EKxPluginKind { kBuiltIn, kVBScript, kJScript, kDLL };

struct CKxPluginKindRow {
  EKxPluginKind eKind;
  // The number of the configuration files (KX_ENTRY_TYPE_*).
  int nEntryType;
  // CKxAgentPlugin::TYPE_*.
  int nPluginType;
  const char* lpDisplayName;
  // The script engine's language; null for kinds that are not scripts.
  const char* lpLanguage;
  // File name extensions, upper case; null when there is no (further) one.
  const char* lpExtensions[2];
};

inline constexpr CKxPluginKindRow kKxPluginKinds[] = {
    {EKxPluginKind::kBuiltIn, 1, CKxAgentPlugin::TYPE_BUILTIN, "Built-in", nullptr, {nullptr, nullptr}},
    {EKxPluginKind::kVBScript, 2, CKxAgentPlugin::TYPE_VBSCRIPT, "VBScript", "VBScript", {"VBS", nullptr}},
    {EKxPluginKind::kJScript, 3, CKxAgentPlugin::TYPE_JSCRIPT, "JScript", "JScript", {"JS", nullptr}},
    {EKxPluginKind::kDLL, 4, CKxAgentPlugin::TYPE_DLL, "Win32 DLL", nullptr, {"DLL", "SO"}},
};

// The row of a kind.
constexpr const CKxPluginKindRow& KxPluginKindRow(EKxPluginKind eKind) {
  return kKxPluginKinds[static_cast<std::size_t>(eKind)];
}

// The row whose configuration number is nEntryType; null for an unknown number.
constexpr const CKxPluginKindRow* KxFindPluginKindByEntryType(int nEntryType) {
  for (const CKxPluginKindRow& row : kKxPluginKinds) {
    if (row.nEntryType == nEntryType) return &row;
  }
  return nullptr;
}

// The row whose plug-in type code is nPluginType; null for an unknown code.
constexpr const CKxPluginKindRow* KxFindPluginKindByPluginType(int nPluginType) {
  for (const CKxPluginKindRow& row : kKxPluginKinds) {
    if (row.nPluginType == nPluginType) return &row;
  }
  return nullptr;
}

// The row of the kind a file is installed as, by its extension in any letter
// case; null when the name has no plug-in extension.
const CKxPluginKindRow* KxFindPluginKindByFileName(const std::string& strFileName);

static_assert(KxPluginKindRow(EKxPluginKind::kDLL).eKind == EKxPluginKind::kDLL &&
                  KxPluginKindRow(EKxPluginKind::kBuiltIn).eKind == EKxPluginKind::kBuiltIn &&
                  KxPluginKindRow(EKxPluginKind::kJScript).eKind == EKxPluginKind::kJScript &&
                  KxPluginKindRow(EKxPluginKind::kVBScript).eKind == EKxPluginKind::kVBScript,
              "the rows are in the order of the enumeration");
