// Saves a picture of each page of the property sheet, on a sample
// configuration, for a person to look at: ctrl_screenshots <output directory>.
#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <cstdio>

#include "KxAgentConfigManager/KxAgentConfigManager.h"
#include "KxAgentCtrl/AclPage.h"
#include "KxAgentCtrl/PluginReader.h"
#include "KxAgentCtrl/PropSheet.h"
#include "platform/services.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: ctrl_screenshots <output directory>\n");
    return 2;
  }
  QString strOutput = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(strOutput);
  QTemporaryDir base;
  QDir(base.path()).mkpath("config");
  std::string strBase = base.path().toStdString() + "/";

  // A service manager of its own with the agent installed and stopped, so the
  // settings page opens without a message.
  QDir(base.path()).mkpath("system");
  qputenv("KX_SYSTEM_ROOT", (base.path() + "/system").toUtf8());
  kx::SC_HANDLE hManager = nullptr;
  kx::SC_HANDLE hService = nullptr;
  kx::SERVICE_CONFIG config;
  config.dwServiceType = KX_SERVICE_COMMAND;
  config.strBinaryPathName = "/bin/true";
  kx::OpenServiceManager(&hManager);
  kx::InstallService(hManager, "KxAgent", config, &hService);
  kx::CloseServiceHandle(hService);
  kx::CloseServiceHandle(hManager);

  CKxAgentConfigManager::Initialize();
  int nResult = 0;
  {
    CKxAgentConfigManager manager(strBase.c_str());
    manager.SetOutputEncoding("EUC-JP");
    CKxAgentLogSetting* pLog = manager.GetLogSetting();
    pLog->SetLogEnabled(TRUE);
    pLog->SetErrorLogEnabled(TRUE);
    pLog->SetWarningLogEnabled(TRUE);
    pLog->SetLogFileLimit(TRUE);
    pLog->SetLogFileDir("/var/log/kxagent");
    CKxAgentLogonAccount* pAdmin = manager.AddLogonAccount("administrator", nullptr, TRUE, FALSE);
    for (int nID = 0; nID < 17; ++nID) pAdmin->AddAllowCommandID(nID);
    manager.AddLogonAccount("operator", "corp", TRUE, TRUE)->AddAllowCommandID(1);
    manager.AddLogonAccount("guest", nullptr, FALSE, FALSE);
    manager.SaveSystemConfig();

    CKxAgentCtrlPluginReader reader;
    CKxAgentPropSheet sheet(&manager, &reader);
    sheet.show();
    const char* const names[] = {"1-settings", "2-plugins", "3-access", "4-log", "5-version"};
    for (int i = 0; i < sheet.m_pTabs->count(); ++i) {
      sheet.m_pTabs->setCurrentIndex(i);
      if (i == 2) {
        QTreeWidget* pAccounts = sheet.m_pAclPage->m_pAccounts;
        pAccounts->topLevelItem(1)->setSelected(true);
        sheet.m_pAclPage->m_pChoose->click();
      }
      QApplication::processEvents();
      QString strFile = strOutput + "/" + names[i] + ".png";
      if (!sheet.grab().save(strFile)) nResult = 1;
      std::printf("%s\n", strFile.toLocal8Bit().constData());
    }
  }
  CKxAgentConfigManager::Terminate();
  return nResult;
}
