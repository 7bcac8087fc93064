// The settings page's rules: the three lists and how the stored values select
// their items, the time-out check, and what OK stores.
#pragma once

#include <string>
#include <vector>

#include "KxAgentCtrl/CtrlText.h"

class CKxAgentConfigManager;

// The page's control values; an index of -1 means no item is selected.
struct CKxConfigPageValues {
  int nPortIndex = -1;
  int nSpeedIndex = -1;
  int nEncodingIndex = -1;
  std::string strTimeout;
  bool bEventLogNotification = false;
  bool bCPUMonitoring = false;
  bool bHiddenImproperCommand = false;
};

class CKxAgentConfigPageLogic {
 public:
  // The longest port list the page offers, whatever the configured maximum.
  enum { KX_MAX_LISTED_PORTS = 256 };
  // The longest time-out text the field takes.
  enum { KX_TIMEOUT_FIELD_LENGTH = 10 };

  explicit CKxAgentConfigPageLogic(CKxAgentConfigManager* pManager) : m_pManager(pManager) {}

  // "COM1" up to "COM<maximum>", at most KX_MAX_LISTED_PORTS items.
  std::vector<std::string> GetPortItems() const;
  static std::vector<std::string> GetSpeedItems();
  static std::vector<std::string> GetEncodingItems();
  // Index of the first item that begins with strPrefix, ignoring letter case; -1 for none.
  static int FindItem(const std::vector<std::string>& items, const std::string& strPrefix);

  // The values the page shows for the stored configuration.
  CKxConfigPageValues Load() const;
  // Checks the time-out (0 to 3600) and stores every value. A port or speed
  // list without a selection keeps the stored value. FALSE with the
  // framework's message when the time-out is refused; nothing is stored then.
  bool Store(const CKxConfigPageValues& values, CKxCtrlMessage* pMessage);

  enum StartCheck {
    KX_START_GO,             // start the service
    KX_START_FIELD_REFUSED,  // the time-out was refused: *pMessage, then back to the field
    KX_START_CANCELLED,      // the user declined, or the save failed (*pMessage when set)
  };
  // Before the service starts: the values are checked and stored as at OK, and
  // a modified configuration is saved once the user agreed (fnAsk). Starting
  // the agent on a configuration other than the one shown would mislead, so a
  // failed save cancels the start.
  StartCheck PrepareServiceStart(const CKxConfigPageValues& values, CKxCtrlConfigFile* pFile,
                                 const CKxCtrlConfigFile::Asker& fnAsk, CKxCtrlMessage* pMessage);

 private:
  CKxAgentConfigManager* m_pManager;
};
