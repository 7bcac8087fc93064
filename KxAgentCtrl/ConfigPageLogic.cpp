#include "KxAgentCtrl/ConfigPageLogic.h"

#include <algorithm>
#include <cstdlib>

#include "KxAgentConfigManager/KxAgentConfigManager.h"
#include "platform/text_compare.h"

std::vector<std::string> CKxAgentConfigPageLogic::GetPortItems() const {
  std::vector<std::string> items;
  // A hand-edited maximum of billions must not build a list of billions.
  unsigned long dwCount = std::min<unsigned long>(m_pManager->GetMaxComPort(), KX_MAX_LISTED_PORTS);
  for (unsigned long dwPort = 1; dwPort <= dwCount; ++dwPort) items.push_back("COM" + std::to_string(dwPort));
  return items;
}

std::vector<std::string> CKxAgentConfigPageLogic::GetSpeedItems() {
  return {"2400", "4800", "9600", "19200", "38400", "57600", "115200"};
}

std::vector<std::string> CKxAgentConfigPageLogic::GetEncodingItems() { return {"Shift-JIS", "EUC-JP"}; }

int CKxAgentConfigPageLogic::FindItem(const std::vector<std::string>& items, const std::string& strPrefix) {
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].size() >= strPrefix.size() &&
        kx::CompareNoCase(items[i].c_str(), strPrefix.c_str(), strPrefix.size()) == 0) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

CKxConfigPageValues CKxAgentConfigPageLogic::Load() const {
  CKxConfigPageValues values;
  values.nPortIndex = FindItem(GetPortItems(), "COM" + std::to_string(m_pManager->GetComPort()));
  values.nSpeedIndex = FindItem(GetSpeedItems(), std::to_string(m_pManager->GetComSpeed()));
  values.nEncodingIndex = FindItem(GetEncodingItems(), m_pManager->GetOutputEncoding());
  values.strTimeout = std::to_string(m_pManager->GetLogonTimeout());
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
  std::vector<std::string> ports = GetPortItems();
  if (values.nPortIndex >= 0 && values.nPortIndex < static_cast<int>(ports.size())) {
    m_pManager->SetComPort(std::strtoul(ports[values.nPortIndex].c_str() + 3, nullptr, 10));
  }
  std::vector<std::string> speeds = GetSpeedItems();
  if (values.nSpeedIndex >= 0 && values.nSpeedIndex < static_cast<int>(speeds.size())) {
    m_pManager->SetComSpeed(std::strtoul(speeds[values.nSpeedIndex].c_str(), nullptr, 10));
  }
  std::vector<std::string> encodings = GetEncodingItems();
  bool bEncoding = values.nEncodingIndex >= 0 && values.nEncodingIndex < static_cast<int>(encodings.size());
  m_pManager->SetOutputEncoding(bEncoding ? encodings[values.nEncodingIndex].c_str() : "");
  m_pManager->SetLogonTimeout(static_cast<unsigned long>(nTimeout));
  m_pManager->SetEventLogNotification(values.bEventLogNotification);
  m_pManager->SetHiddenExecutionImproperCommand(values.bHiddenImproperCommand);
  m_pManager->SetCPUMonitoring(values.bCPUMonitoring);
  return true;
}

CKxAgentConfigPageLogic::StartCheck CKxAgentConfigPageLogic::PrepareServiceStart(const CKxConfigPageValues& values,
                                                                                 CKxCtrlConfigFile* pFile,
                                                                                 const CKxCtrlConfigFile::Asker& fnAsk,
                                                                                 CKxCtrlMessage* pMessage) {
  if (!Store(values, pMessage)) return KX_START_FIELD_REFUSED;
  if (!m_pManager->IsModified()) return KX_START_GO;
  CKxCtrlMessage question;
  question.Set(KxText(KX_TEXT_SAVE_BEFORE_START), KxText(KX_TEXT_SAVE_BEFORE_START_TITLE), KX_ICON_QUESTION);
  if (!fnAsk(question)) return KX_START_CANCELLED;
  return pFile->Save(pMessage) ? KX_START_GO : KX_START_CANCELLED;
}
