// The settings page's rules: the three lists and how the stored values select
// their items, the time-out check, and what OK stores.
#pragma once

#include <QString>
#include <QStringList>

#include "KxAgentCtrl/CtrlText.h"

class CKxAgentConfigManager;

// The page's control values; an index of -1 means no item is selected.
struct CKxConfigPageValues {
  int nPortIndex = -1;
  int nSpeedIndex = -1;
  int nEncodingIndex = -1;
  QString strTimeout;
  bool bEventLogNotification = false;
  bool bCPUMonitoring = false;
  bool bHiddenImproperCommand = false;
};

class CKxAgentConfigPageLogic {
 public:
  // The longest port list the page offers, whatever the configured maximum.
  enum { KX_MAX_LISTED_PORTS = 256 };

  explicit CKxAgentConfigPageLogic(CKxAgentConfigManager* pManager) : m_pManager(pManager) {}

  // "COM1" up to "COM<maximum>", at most KX_MAX_LISTED_PORTS items.
  QStringList GetPortItems() const;
  static QStringList GetSpeedItems();
  static QStringList GetEncodingItems();
  // Index of the first item that begins with strPrefix, ignoring letter case; -1 for none.
  static int FindItem(const QStringList& items, const QString& strPrefix);

  // The values the page shows for the stored configuration.
  CKxConfigPageValues Load() const;
  // Checks the time-out (0 to 3600) and stores every value. A port or speed
  // list without a selection keeps the stored value. FALSE with the
  // framework's message when the time-out is refused; nothing is stored then.
  bool Store(const CKxConfigPageValues& values, CKxCtrlMessage* pMessage);

 private:
  CKxAgentConfigManager* m_pManager;
};
