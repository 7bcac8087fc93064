// The settings page: serial port, session settings and the service group.
#pragma once

#include "KxAgentCtrl/ConfigPageLogic.h"
#include "KxAgentCtrl/CtrlWidgets.h"
#include "KxAgentCtrl/ServiceControl.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class CKxAgentConfigPage : public CKxAgentPropertyPage {
  Q_OBJECT

 public:
  explicit CKxAgentConfigPage(CKxCtrlConfigFile* pFile, QWidget* pParent = nullptr);

  bool OnOK() override;
  // TRUE while a start or stop is waiting for the service.
  bool IsBusy() const { return m_bBusy; }

  QComboBox* m_pPort;
  QComboBox* m_pSpeed;
  QComboBox* m_pEncoding;
  QLineEdit* m_pTimeout;
  QCheckBox* m_pEventLog;
  QCheckBox* m_pCPUMonitoring;
  QCheckBox* m_pHideImproper;
  QPushButton* m_pStart;
  QPushButton* m_pStop;
  QLabel* m_pStatus;

  // The service group's start and stop, for a test to give it a clock.
  CKxAgentServiceControl& GetServiceControl() { return m_service; }

 protected:
  void OnFirstShow() override;

 private:
  CKxConfigPageValues GetValues() const;
  void ShowService(const CKxServiceView& view);
  void OnStart();
  void OnStop();
  void RunServiceAction(bool bStart);

  CKxCtrlConfigFile* m_pFile;
  CKxAgentConfigPageLogic m_logic;
  CKxAgentServiceControl m_service;
  bool m_bBusy = false;
};
