#include "KestrixAgent.h"

#include "ConsoleSession.h"
#include "EventLogManager.h"
#include "EventLogPush.h"
#include "InputPump.h"
#include "KxAgentConfigManager/ConfigFileCheck.h"
#include "KxAgentConfigManager/KxAgentConfigManager.h"
#include "KxAgentLog.h"
#include "PluginLoader.h"
#include "SerialComm.h"
#include "SessionTimeout.h"
#include "ShutdownNotifier.h"
#include "commands/BuiltInTable.h"
#include "engine/CommandDispatcher.h"
#include "platform/program_path.h"

CKestrixAgent::CKestrixAgent() : CKestrixAgent(kx::GetProgramDirectory(), nullptr) {}

CKestrixAgent::CKestrixAgent(const std::string& strBaseDir, std::unique_ptr<kx::CSerialPort> pPort,
                             kx::CClock& clock)
    : m_clock(clock), m_nCPUMonitoring(0), m_pLogObject(nullptr) {
  Build(strBaseDir, std::move(pPort));
}

void CKestrixAgent::Build(const std::string& strBaseDir, std::unique_ptr<kx::CSerialPort> pPort) {
  m_pConfigManager.reset(new CKxAgentConfigManager(strBaseDir.c_str()));
  CKxAgentConfigManager& config = *m_pConfigManager;
  LoadSettings();

  m_pLogObject = CKxAgentLog::GetInstance(config.GetLogSetting());
  CKxAgentLog::LogDebug("CKestrixAgent::CKestrixAgent()", "m_pLogObject initialized.");
  char szConfigProblem[1024];
  if (KxAgentCheckConfigFile(config.GetSystemConfigPath(), szConfigProblem, sizeof(szConfigProblem)) != 0) {
    CKxAgentLog::ReportUnreadableConfig(szConfigProblem);
  }

  DWORD dwComPort = config.GetComPort();
  DWORD dwComSpeed = config.GetComSpeed();
  int nEncoding = std::string(config.GetOutputEncoding()) == "EUC-JP" ? 2 : 1;
  if (pPort != nullptr) {
    m_pSerialComm.reset(new CSerialComm(dwComPort, dwComSpeed, nEncoding, std::move(pPort)));
  } else {
    m_pSerialComm.reset(new CSerialComm(dwComPort, dwComSpeed, nEncoding));
  }
  m_pLogManager.reset(new CEventLogManager(m_clock));
  m_pEventLogPush.reset(new CEventLogPush(*m_pLogManager, *m_pSerialComm, config.IsEventLogNotification()));

  // The rooms call each other only once the input thread runs, after all are built.
  m_pInput.reset(new CInputPump([this](char c) { m_pSession->OnKey(c); },
                                [this] { m_pTimeout->UpdateActivity(); }));
  // The line end a time-out injects makes the input thread show the logon
  // screen, in order with the other output.
  m_pTimeout.reset(new CSessionTimeout(
      m_clock, [this](unsigned int nSession) { return m_pSession->CheckIdle(nSession); },
      [this] { m_pInput->OnReceiveChar('\n'); }));
  m_pTimeout->SetTimeout(static_cast<DWORD>(config.GetLogonTimeout() * 1000));
  m_pNotifier.reset(new CShutdownNotifier(m_clock, *m_pSerialComm));
  m_pSession.reset(new CConsoleSession(m_clock, *m_pSerialComm, config, *m_pLogManager, *m_pInput, *m_pTimeout));

  m_pSerialComm->SetCallback(m_pInput.get());
  m_pSerialComm->SetHangUpHandler([this](DWORD dwError) { m_pSession->OnHangUp(dwError); });
  m_pSerialComm->Open();
  m_pLogManager->OpenLogs();

  m_pDispatcher.reset(new CommandDispatcher(m_pSession.get(), m_pSerialComm.get()));
  m_pSession->SetDispatcher(m_pDispatcher.get());
  m_pBuiltInCommand.reset(new CAgentBuiltInCommands(*this));
  LoadPlugins();

  // Started last: it reads the session, the channel and the dispatcher.
  // Nothing arrives before Start runs the serial reader anyway.
  m_pInput->Start();

  CKxAgentLog::LogDebug("CKestrixAgent::CKestrixAgent()", "initialize ok.");
}

CKestrixAgent::~CKestrixAgent() {
  // No more bytes, change reports or reader thread from here on.
  Stop();
  m_pSession->BeginStopping();
  m_pTimeout->RequestStop();
  m_pNotifier->RequestStop();
  // The input thread first: the command it finishes may start a time-out or
  // notice thread, which then sees the stop and leaves.
  m_pInput->Stop();
  m_pTimeout->Stop();
  m_pNotifier->Stop();

  // The dispatcher refers to the commands, the plug-ins, the channel and the session.
  m_pDispatcher.reset();
  m_pPluginLoader.reset();
  m_pBuiltInCommand.reset();
  m_pLogManager.reset();
  m_pSession.reset();
  m_pNotifier.reset();
  m_pTimeout.reset();
  m_pInput.reset();
  m_pEventLogPush.reset();
  m_pSerialComm.reset();
  m_pConfigManager.reset();
}

void CKestrixAgent::LoadSettings() {
  m_pConfigManager->LoadConfig();
  m_nCPUMonitoring = m_pConfigManager->IsCPUMonitoring();
}

void CKestrixAgent::LoadPlugins() {
  m_pPluginLoader.reset(new CPluginLoader(m_pConfigManager->IsScriptPluginSupport() != FALSE));
  m_pDispatcher->SetScriptCommandRunner(m_pPluginLoader->GetScriptCommandRunner());
  m_pPluginLoader->LoadPlugins(*m_pConfigManager, *m_pBuiltInCommand, *m_pDispatcher);
}

int CKestrixAgent::Start() {
  if (m_pSerialComm->IsClosed()) return 0;
  m_pSerialComm->Start();
  m_pEventLogPush->Start();
  return 1;
}

void CKestrixAgent::Stop() {
  m_pLogManager->CloseLogs();
  m_pSerialComm->Close();
}

CShutdownState& CKestrixAgent::GetShutdownState() { return *m_pNotifier; }

const char* CKestrixAgent::GetMachineName(int nRefresh) { return m_pSession->GetMachineName(nRefresh); }

DWORD CKestrixAgent::GetSessionTimeout() { return m_pTimeout->GetTimeout(); }

void CKestrixAgent::SetSessionTimeout(DWORD dwMilliseconds) { m_pTimeout->SetTimeout(dwMilliseconds); }

int CKestrixAgent::IsEventLogNotification() { return m_pEventLogPush->IsNotification(); }

void CKestrixAgent::SetEventLogNotification(int nOn) { m_pEventLogPush->SetNotification(nOn); }

void CKestrixAgent::Logoff() { m_pSession->Logoff(); }

void CKestrixAgent::RunCommandPrompt() { m_pSession->RunCommandPrompt(); }
