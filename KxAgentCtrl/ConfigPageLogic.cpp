#include "KxAgentCtrl/ConfigPageLogic.h"

#include <algorithm>

#include "KxAgentConfigManager/KxAgentConfigManager.h"

QStringList CKxAgentConfigPageLogic::GetPortItems() const {
  QStringList items;
  // A hand-edited maximum of billions must not build a list of billions.
  unsigned long dwCount = std::min<unsigned long>(m_pManager->GetMaxComPort(), KX_MAX_LISTED_PORTS);
  for (unsigned long dwPort = 1; dwPort <= dwCount; ++dwPort) items << QStringLiteral("COM%1").arg(dwPort);
  return items;
}

QStringList CKxAgentConfigPageLogic::GetSpeedItems() {
  return {"2400", "4800", "9600", "19200", "38400", "57600", "115200"};
}

QStringList CKxAgentConfigPageLogic::GetEncodingItems() { return {"Shift-JIS", "EUC-JP"}; }

int CKxAgentConfigPageLogic::FindItem(const QStringList& items, const QString& strPrefix) {
  for (int i = 0; i < items.size(); ++i) {
    if (items[i].startsWith(strPrefix, Qt::CaseInsensitive)) return i;
  }
  return -1;
}

CKxConfigPageValues CKxAgentConfigPageLogic::Load() const {
  CKxConfigPageValues values;
  values.nPortIndex = FindItem(GetPortItems(), QStringLiteral("COM%1").arg(m_pManager->GetComPort()));
  values.nSpeedIndex = FindItem(GetSpeedItems(), QString::number(m_pManager->GetComSpeed()));
  values.nEncodingIndex = FindItem(GetEncodingItems(), KxToQt(m_pManager->GetOutputEncoding()));
  values.strTimeout = QString::number(m_pManager->GetLogonTimeout());
  values.bEventLogNotification = m_pManager->IsEventLogNotification();
  values.bCPUMonitoring = m_pManager->IsCPUMonitoring();
  values.bHiddenImproperCommand = m_pManager->IsHiddenExecutionImproperCommand();
  return values;
}

bool CKxAgentConfigPageLogic::Store(const CKxConfigPageValues& values, CKxCtrlMessage* pMessage) {
  int nTimeout = 0;
  if (!KxParseIntegerField(values.strTimeout, 0, 3600, &nTimeout, pMessage)) return false;
  // Without a selection the stored port or speed stays: storing 0 would leave
  // the agent with a port it cannot open.
  QStringList ports = GetPortItems();
  if (values.nPortIndex >= 0 && values.nPortIndex < ports.size()) {
    m_pManager->SetComPort(ports[values.nPortIndex].mid(3).toULong());
  }
  QStringList speeds = GetSpeedItems();
  if (values.nSpeedIndex >= 0 && values.nSpeedIndex < speeds.size()) {
    m_pManager->SetComSpeed(speeds[values.nSpeedIndex].toULong());
  }
  QStringList encodings = GetEncodingItems();
  bool bEncoding = values.nEncodingIndex >= 0 && values.nEncodingIndex < encodings.size();
  m_pManager->SetOutputEncoding(bEncoding ? KxToCp932(encodings[values.nEncodingIndex]).c_str() : "");
  m_pManager->SetLogonTimeout(static_cast<unsigned long>(nTimeout));
  m_pManager->SetEventLogNotification(values.bEventLogNotification);
  m_pManager->SetHiddenExecutionImproperCommand(values.bHiddenImproperCommand);
  m_pManager->SetCPUMonitoring(values.bCPUMonitoring);
  return true;
}
