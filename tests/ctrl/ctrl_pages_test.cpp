// The configuration tool's pages driven through their real widgets on the
// offscreen platform, each test on a configuration of its own.
#include <sys/stat.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QGroupBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>
#include <functional>
#include <memory>

#include "CtrlTestSupport.h"
#include "KxAgentConfigManager/KxAgentConfigManager.h"
#include "KxAgentCtrl/AclPage.h"
#include "KxAgentCtrl/ConfigPage.h"
#include "KxAgentCtrl/LogPage.h"
#include "KxAgentCtrl/PluginReader.h"
#include "KxAgentCtrl/PluginPage.h"
#include "KxAgentCtrl/PropSheet.h"
#include "KxAgentCtrl/VersionInfoPage.h"
#include "platform/services.h"

namespace {

enum { kConfigTab, kPluginTab, kAclTab, kLogTab, kVersionTab };

// The configuration as the agent's library writes it.
void WriteConfig(const CCtrlBaseDir& base, const std::function<void(CKxAgentConfigManager&)>& fnFill) {
  CKxAgentConfigManager manager(base.PathCp932().c_str());
  fnFill(manager);
  QVERIFY(manager.SaveSystemConfig());
}

// The configuration as the agent reads it.
std::unique_ptr<CKxAgentConfigManager> ReadConfig(const CCtrlBaseDir& base) {
  auto pManager = std::make_unique<CKxAgentConfigManager>(base.PathCp932().c_str());
  pManager->LoadConfig();
  return pManager;
}

QList<int> AllowedIDs(CKxAgentLogonAccount* pAccount) {
  QList<int> ids;
  for (int nID : *pAccount->GetAllowCommandIDList()) ids << nID;
  return ids;
}

// Clicks a check box on its box: a box stretched by its layout takes no click
// beyond its text.
void ClickBox(QCheckBox* pBox) {
  QTest::mouseClick(pBox, Qt::LeftButton, Qt::NoModifier, QPoint(6, pBox->height() / 2));
}

QString Sample(const char* lpName) { return QStringLiteral(KX_EXAMPLE_PLUGIN_DIR "/") + lpName; }

// Installs a sample as the tool would have: file in the plug-in directory, entry in the model.
int PlaceSample(const CCtrlBaseDir& base, CKxAgentConfigManager& manager, const char* lpName, int nType) {
  QDir().mkpath(base.PluginDir());
  QFile::copy(Sample(lpName), base.PluginDir() + lpName);
  return manager.AddPlugin(lpName, nType)->GetPluginID();
}

QList<int> CommandIDs(QTreeWidget* pCommands) {
  QList<int> ids;
  for (int i = 0; i < pCommands->topLevelItemCount(); ++i) {
    ids << pCommands->topLevelItem(i)->data(0, Qt::UserRole).toInt();
  }
  return ids;
}

QList<int> BuiltInIDsAnd(const QList<int>& more) {
  QList<int> ids;
  for (int i = 0; i < 17; ++i) ids << i;
  return ids + more;
}

QTreeWidgetItem* FindRow(QTreeWidget* pList, const QString& strFirstColumn) {
  for (int i = 0; i < pList->topLevelItemCount(); ++i) {
    if (pList->topLevelItem(i)->text(0) == strFirstColumn) return pList->topLevelItem(i);
  }
  return nullptr;
}

}  // namespace

class CtrlPagesTest : public QObject {
  Q_OBJECT

 private:
  // The tool on base's configuration: the manager loaded, the sheet shown.
  struct CTool {
    explicit CTool(const CCtrlBaseDir& base) : manager(base.PathCp932().c_str()) {
      manager.LoadConfig();
      if (manager.IsScriptPluginSupport()) reader.CreateScriptHosts();
      pSheet = std::make_unique<CKxAgentPropSheet>(&manager, &reader);
      pSheet->show();
    }
    void Open(int nTab) { pSheet->m_pTabs->setCurrentIndex(nTab); }

    CKxAgentConfigManager manager;
    CKxAgentCtrlPluginReader reader;
    std::unique_ptr<CKxAgentPropSheet> pSheet;
  };

  QTemporaryDir m_systemRoot;

 private slots:
  void initTestCase();
  void cleanupTestCase();

  void addAccountRules_data();
  void addAccountRules();
  void commandChecksEditTheChosenAccount();
  void deleteAskedThenRemoved();
  void logPageEnabling_data();
  void logPageEnabling();
  void rangeChecksAtOK_data();
  void rangeChecksAtOK();
  void settingsPageKeepsUnlistedPortAndSpeed();
  void failedSaveKeepsSheetOpen();
  void roundTripWithTheAgentLibrary();
  void pluginInstallRefusals_data();
  void pluginInstallRefusals();
  void pluginLimitBeforeFileDialog();
  void builtInEntryCannotBeUninstalled();
  void installSamplesThenCancel();
  void uninstallTakesIDsFromEveryAccount();
  void scriptOptionOffRemovesScriptPlugins();
  void browserFailureMessage();
};

void CtrlPagesTest::initTestCase() {
  CKxAgentConfigManager::Initialize();
  qputenv("KX_SYSTEM_ROOT", m_systemRoot.path().toUtf8());
  QVERIFY(InstallStoppedAgentService());
}

void CtrlPagesTest::cleanupTestCase() { CKxAgentConfigManager::Terminate(); }

void CtrlPagesTest::addAccountRules_data() {
  QTest::addColumn<QStringList>("existing");  // "name" (local) or "name@domain"
  QTest::addColumn<QString>("typedName");
  QTest::addColumn<bool>("useDomain");
  QTest::addColumn<QString>("typedDomain");
  QTest::addColumn<QStringList>("messages");
  QTest::addColumn<QStringList>("accountsAfter");

  const QString dup = QStringLiteral("追加エラー|リストのデータと重複するため追加できません。");
  QTest::newRow("local Admin duplicates admin") << QStringList{"admin"} << "Admin" << false << "" << QStringList{dup}
                                                << QStringList{"admin"};
  QTest::newRow("adm is another account") << QStringList{"admin"} << "adm" << false << "" << QStringList{}
                                          << QStringList{"admin", "adm"};
  QTest::newRow("same name with a domain is another account")
      << QStringList{"admin"} << "admin" << true << "CORP" << QStringList{} << QStringList{"admin", "admin@corp"};
  QTest::newRow("domain compared without case") << QStringList{"admin@corp"} << "ADMIN" << true << "Corp"
                                                << QStringList{dup} << QStringList{"admin@corp"};
  QTest::newRow("typed text is trimmed and lower-cased")
      << QStringList{} << "  Ops User \t" << true << " CORP " << QStringList{} << QStringList{"ops user@corp"};
  QTest::newRow("empty name keeps the dialog open")
      << QStringList{} << "   " << false << "" << QStringList{"入力エラー|アカウントを入力してください。"}
      << QStringList{};
  QTest::newRow("domain box with empty domain keeps the dialog open")
      << QStringList{} << "bob" << true << "  " << QStringList{"入力エラー|ドメインを入力してください。"}
      << QStringList{};
}

void CtrlPagesTest::addAccountRules() {
  QFETCH(QStringList, existing);
  QFETCH(QString, typedName);
  QFETCH(bool, useDomain);
  QFETCH(QString, typedDomain);
  QFETCH(QStringList, messages);
  QFETCH(QStringList, accountsAfter);

  CCtrlBaseDir base;
  WriteConfig(base, [&](CKxAgentConfigManager& manager) {
    for (const QString& strAccount : existing) {
      QStringList parts = strAccount.split('@');
      manager.AddLogonAccount(parts[0].toUtf8(), parts.size() > 1 ? parts[1].toUtf8().constData() : nullptr, TRUE,
                              parts.size() > 1);
    }
  });
  CTool tool(base);
  tool.Open(kAclTab);
  CKxAgentAclPage* pPage = tool.pSheet->m_pAclPage;

  bool bRefusedInDialog = messages.size() == 1 && messages[0].startsWith(QStringLiteral("入力エラー"));
  CModalAnswers answers;
  answers.Then([&](QWidget* pWidget) {
    auto* pDialog = qobject_cast<CKxAgentAddLogonUserDlg*>(pWidget);
    QVERIFY(pDialog != nullptr);
    QTest::keyClicks(pDialog->m_pAccount, typedName);
    if (useDomain) ClickBox(pDialog->m_pUseDomain);
    QTest::keyClicks(pDialog->m_pDomain, typedDomain);
    pDialog->accept();
  });
  if (!messages.isEmpty()) answers.Press(QMessageBox::Ok);
  if (bRefusedInDialog) answers.Then([](QWidget* pWidget) { qobject_cast<QDialog*>(pWidget)->reject(); });
  QTest::mouseClick(pPage->m_pAdd, Qt::LeftButton);
  QTRY_COMPARE(answers.Pending(), 0);

  QCOMPARE(answers.Take(), messages);
  QStringList accounts;
  for (const CKxAgentLogonAccount* pAccount : *tool.manager.GetLogonAccountList()) {
    QString strName = QString::fromUtf8(pAccount->GetAccountName());
    if (pAccount->IsDomainAccount()) strName += '@' + QString::fromUtf8(pAccount->GetDomainName());
    accounts << strName;
  }
  QCOMPARE(accounts, accountsAfter);
  QCOMPARE(pPage->m_pAccounts->topLevelItemCount(), accountsAfter.size());
  if (accountsAfter.size() > existing.size()) {
    // The new row is the only one selected and its commands are shown.
    QTreeWidgetItem* pNew = pPage->m_pAccounts->topLevelItem(accountsAfter.size() - 1);
    QCOMPARE(pPage->m_pAccounts->selectedItems(), QList<QTreeWidgetItem*>{pNew});
    QCOMPARE(pNew->text(2), QStringLiteral("OK"));
    QCOMPARE(pNew->text(1), useDomain ? typedDomain.trimmed().toLower() : QStringLiteral("（ローカル）"));
    QCOMPARE(pPage->m_pCommandGroup->title(), pNew->text(0) + QStringLiteral(" の実行可能コマンド"));
    QVERIFY(pPage->m_pCommandGroup->isEnabled());
  }
}

void CtrlPagesTest::commandChecksEditTheChosenAccount() {
  CCtrlBaseDir base;
  WriteConfig(base, [](CKxAgentConfigManager& manager) {
    manager.AddLogonAccount("alice", nullptr, TRUE, FALSE)->AddAllowCommandID(5);
    manager.AddLogonAccount("bob", nullptr, TRUE, FALSE)->AddAllowCommandID(16);
  });
  CTool tool(base);
  tool.Open(kAclTab);
  CKxAgentAclPage* pPage = tool.pSheet->m_pAclPage;
  QCOMPARE(pPage->m_pCommands->topLevelItemCount(), 17);  // the built-in set
  QVERIFY(!pPage->m_pCommandGroup->isEnabled());
  QCOMPARE(pPage->m_pCommandGroup->title(), QStringLiteral("実行可能コマンド"));

  FindRow(pPage->m_pAccounts, "alice")->setSelected(true);
  QTest::mouseClick(pPage->m_pChoose, Qt::LeftButton);
  CKxAgentLogonAccount* pAlice = tool.manager.GetLogonAccount(1);
  QCOMPARE(pPage->m_pCommands->topLevelItem(5)->checkState(0), Qt::Checked);
  QCOMPARE(pPage->m_pCommands->topLevelItem(5)->text(2), QStringLiteral("OK"));
  QCOMPARE(pPage->m_pCommands->topLevelItem(16)->checkState(0), Qt::Unchecked);

  pPage->m_pCommands->topLevelItem(1)->setCheckState(0, Qt::Checked);
  pPage->m_pCommands->topLevelItem(3)->setCheckState(0, Qt::Checked);
  pPage->m_pCommands->topLevelItem(5)->setCheckState(0, Qt::Unchecked);
  QCOMPARE(AllowedIDs(pAlice), (QList<int>{1, 3}));
  QCOMPARE(pPage->m_pCommands->topLevelItem(5)->text(2), QStringLiteral("-"));

  // Choosing bob shows his marks without touching alice's list.
  pPage->m_pAccounts->clearSelection();
  FindRow(pPage->m_pAccounts, "bob")->setSelected(true);
  QTest::mouseClick(pPage->m_pChoose, Qt::LeftButton);
  QCOMPARE(pPage->m_pCommandGroup->title(), QStringLiteral("bob の実行可能コマンド"));
  QCOMPARE(pPage->m_pCommands->topLevelItem(1)->checkState(0), Qt::Unchecked);
  QCOMPARE(AllowedIDs(pAlice), (QList<int>{1, 3}));

  QTest::mouseClick(pPage->m_pCheckAll, Qt::LeftButton);
  QCOMPARE(AllowedIDs(tool.manager.GetLogonAccount(2)).size(), 17);
  QTest::mouseClick(pPage->m_pUncheckAll, Qt::LeftButton);
  QCOMPARE(AllowedIDs(tool.manager.GetLogonAccount(2)), QList<int>{});
  QVERIFY(tool.manager.GetLogonAccount(2)->IsLogonAllowed());

  // The account row's box is the logon switch.
  QTreeWidgetItem* pBobRow = FindRow(pPage->m_pAccounts, "bob");
  pBobRow->setCheckState(0, Qt::Unchecked);
  QCOMPARE(pBobRow->text(2), QStringLiteral("-"));
  QVERIFY(!tool.manager.GetLogonAccount(2)->IsLogonAllowed());

  QTest::mouseClick(tool.pSheet->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
  auto pSaved = ReadConfig(base);
  QCOMPARE(AllowedIDs(pSaved->GetLogonAccount(1)), (QList<int>{1, 3}));
  QCOMPARE(AllowedIDs(pSaved->GetLogonAccount(2)), QList<int>{});
  QVERIFY(!pSaved->GetLogonAccount(2)->IsLogonAllowed());
}

void CtrlPagesTest::deleteAskedThenRemoved() {
  CCtrlBaseDir base;
  WriteConfig(base, [](CKxAgentConfigManager& manager) {
    for (const char* lpName : {"alice", "bob", "carol"}) manager.AddLogonAccount(lpName, nullptr, TRUE, FALSE);
  });
  CTool tool(base);
  tool.Open(kAclTab);
  CKxAgentAclPage* pPage = tool.pSheet->m_pAclPage;
  CModalAnswers answers;

  FindRow(pPage->m_pAccounts, "bob")->setSelected(true);
  answers.Click(pPage->m_pDelete, {QMessageBox::Cancel});
  QCOMPARE(tool.manager.GetLogonAccountList()->size(), 3u);

  FindRow(pPage->m_pAccounts, "carol")->setSelected(true);
  answers.Click(pPage->m_pDelete, {QMessageBox::Ok});
  QStringList seen = answers.Take();
  QCOMPARE(seen.size(), 2);
  QCOMPARE(seen[0], QStringLiteral("削除確認|アカウント bob をリストから削除します。よろしいですか？\n"
                                   "（※この操作によってNTユーザアカウントが削除されることはありません！）"));
  QVERIFY(seen[1].startsWith(QStringLiteral("削除確認|選択されたすべてのアカウントをリストから削除します。")));
  QCOMPARE(tool.manager.GetLogonAccountList()->size(), 1u);
  QCOMPARE(pPage->m_pAccounts->topLevelItemCount(), 1);
  QCOMPARE(pPage->m_pAccounts->topLevelItem(0)->text(0), QStringLiteral("alice"));
}

void CtrlPagesTest::logPageEnabling_data() {
  QTest::addColumn<bool>("logging");
  QTest::addColumn<bool>("errorLog");
  QTest::addColumn<bool>("limit");
  // Enabled: levels, error text, warning text, directory, limit box, size.
  QTest::addColumn<QList<bool>>("enabled");
  QTest::newRow("logging off disables everything") << false << true << true
                                                   << QList<bool>{false, false, false, false, false, false};
  QTest::newRow("logging on, error only, no limit") << true << true << false
                                                    << QList<bool>{true, true, false, true, true, false};
  QTest::newRow("logging on with limit") << true << false << true
                                         << QList<bool>{true, false, false, true, true, true};
}

void CtrlPagesTest::logPageEnabling() {
  QFETCH(bool, logging);
  QFETCH(bool, errorLog);
  QFETCH(bool, limit);
  QFETCH(QList<bool>, enabled);
  CCtrlBaseDir base;
  WriteConfig(base, [&](CKxAgentConfigManager& manager) {
    CKxAgentLogSetting* pLog = manager.GetLogSetting();
    pLog->SetLogEnabled(TRUE);
    pLog->SetErrorLogEnabled(errorLog);
    pLog->SetLogFileLimit(limit);
    pLog->SetLogFileMaxSize(5 * 1048576);
  });
  CTool tool(base);
  tool.Open(kLogTab);
  CKxAgentLogPage* pPage = tool.pSheet->m_pLogPage;
  QCOMPARE(pPage->m_pSize->text(), QStringLiteral("5"));
  if (!logging) ClickBox(pPage->m_pLog);
  QCOMPARE(tool.manager.GetLogSetting()->IsLogEnabled(), logging ? TRUE : FALSE);
  QList<bool> actual{pPage->m_pError->isEnabled(),     pPage->m_pErrorText->isEnabled(),
                     pPage->m_pWarningText->isEnabled(), pPage->m_pChange->isEnabled(),
                     pPage->m_pLimit->isEnabled(),     pPage->m_pSize->isEnabled()};
  QCOMPARE(actual, enabled);
  // A disabled box takes no click, and the stored level stays.
  ClickBox(pPage->m_pError);
  QCOMPARE(tool.manager.GetLogSetting()->IsErrorLogEnabled() != FALSE, logging ? !errorLog : errorLog);
}

void CtrlPagesTest::rangeChecksAtOK_data() {
  QTest::addColumn<int>("tab");
  QTest::addColumn<QString>("typed");
  QTest::addColumn<QString>("message");  // "" when accepted
  const QString timeoutRange = QStringLiteral("KxAgentCtrl|Please enter an integer between 0 and 3600.");
  const QString sizeRange = QStringLiteral("KxAgentCtrl|Please enter an integer between 1 and 100.");
  QTest::newRow("time-out 3601") << int(kConfigTab) << "3601" << timeoutRange;
  QTest::newRow("time-out -1") << int(kConfigTab) << "-1" << timeoutRange;
  QTest::newRow("time-out not a number") << int(kConfigTab) << "12a" << "KxAgentCtrl|Please enter an integer.";
  QTest::newRow("time-out 3600") << int(kConfigTab) << "3600" << "";
  QTest::newRow("size 0") << int(kLogTab) << "0" << sizeRange;
  QTest::newRow("size 101") << int(kLogTab) << "101" << sizeRange;
  QTest::newRow("size 100") << int(kLogTab) << "100" << "";
}

void CtrlPagesTest::rangeChecksAtOK() {
  QFETCH(int, tab);
  QFETCH(QString, typed);
  QFETCH(QString, message);
  CCtrlBaseDir base;
  WriteConfig(base, [](CKxAgentConfigManager& manager) { manager.GetLogSetting()->SetLogEnabled(TRUE); });
  CTool tool(base);
  tool.Open(tab);
  if (tab == kLogTab) ClickBox(tool.pSheet->m_pLogPage->m_pLimit);
  QLineEdit* pField = tab == kConfigTab ? tool.pSheet->m_pConfigPage->m_pTimeout : tool.pSheet->m_pLogPage->m_pSize;
  pField->selectAll();
  QTest::keyClicks(pField, typed);
  tool.Open(kVersionTab);

  CModalAnswers answers;
  if (!message.isEmpty()) answers.Press(QMessageBox::Ok);
  tool.pSheet->accept();
  QTRY_COMPARE(answers.Pending(), 0);
  QCOMPARE(answers.Take(), message.isEmpty() ? QStringList{} : QStringList{message});
  QCOMPARE(tool.pSheet->isVisible(), !message.isEmpty());
  if (!message.isEmpty()) {
    QCOMPARE(tool.pSheet->m_pTabs->currentIndex(), tab);
    return;
  }
  auto pSaved = ReadConfig(base);
  if (tab == kConfigTab) QCOMPARE(pSaved->GetLogonTimeout(), typed.toULong());
  if (tab == kLogTab) QCOMPARE(pSaved->GetLogSetting()->GetLogFileMaxSize(), typed.toLong() * 1048576);
}

void CtrlPagesTest::settingsPageKeepsUnlistedPortAndSpeed() {
  CCtrlBaseDir base;
  WriteConfig(base, [](CKxAgentConfigManager& manager) {
    manager.SetMaxComPort(8);
    manager.SetComPort(20);
    manager.SetComSpeed(12345);
  });
  {
    CTool tool(base);
    CKxAgentConfigPage* pPage = tool.pSheet->m_pConfigPage;
    QCOMPARE(pPage->m_pPort->count(), 8);
    QCOMPARE(pPage->m_pPort->currentIndex(), -1);
    QCOMPARE(pPage->m_pSpeed->currentIndex(), -1);
    QCOMPARE(pPage->m_pEncoding->currentIndex(), -1);  // "Shift_JIS" begins neither item
    QCOMPARE(pPage->m_pStatus->text(), QStringLiteral("※サービスは「停止中」です。"));
    tool.pSheet->accept();
  }
  auto pSaved = ReadConfig(base);
  QCOMPARE(pSaved->GetComPort(), 20ul);
  QCOMPARE(pSaved->GetComSpeed(), 12345ul);
  QCOMPARE(QString(pSaved->GetOutputEncoding()), QString());
  {
    CTool tool(base);
    tool.pSheet->m_pConfigPage->m_pPort->setCurrentIndex(2);
    tool.pSheet->m_pConfigPage->m_pSpeed->setCurrentText("115200");
    tool.pSheet->m_pConfigPage->m_pEncoding->setCurrentIndex(1);
    tool.pSheet->accept();
  }
  pSaved = ReadConfig(base);
  QCOMPARE(pSaved->GetComPort(), 3ul);
  QCOMPARE(pSaved->GetComSpeed(), 115200ul);
  QCOMPARE(QString(pSaved->GetOutputEncoding()), QStringLiteral("EUC-JP"));
}

void CtrlPagesTest::failedSaveKeepsSheetOpen() {
  CCtrlBaseDir base;
  // A directory where the file belongs cannot be replaced by the save.
  QVERIFY(QDir().mkpath(base.SysConfigPath()));
  CTool tool(base);
  tool.pSheet->m_pConfigPage->m_pTimeout->setText("60");
  CModalAnswers answers;
  answers.Press(QMessageBox::Ok);
  tool.pSheet->accept();
  QTRY_COMPARE(answers.Pending(), 0);
  QCOMPARE(answers.Take(), QStringList{Describe(QStringLiteral("設定保存エラー"),
                                                QStringLiteral("設定ファイル「%1」を保存できませんでした。\r\n"
                                                               "ディスクの空き容量とファイルへの書き込み権限を確認してください。")
                                                    .arg(base.SysConfigPath()))});
  QVERIFY(tool.pSheet->isVisible());
  QVERIFY(tool.manager.IsModified());
}

void CtrlPagesTest::roundTripWithTheAgentLibrary() {
  CCtrlBaseDir base;
  WriteConfig(base, [](CKxAgentConfigManager& manager) {
    manager.SetComPort(2);
    manager.SetComSpeed(38400);
    manager.SetOutputEncoding("EUC-JP");
    manager.SetLogonTimeout(300);
    manager.SetEventLogNotification(TRUE);
    CKxAgentLogSetting* pLog = manager.GetLogSetting();
    pLog->SetLogEnabled(TRUE);
    pLog->SetWarningLogEnabled(TRUE);
    pLog->SetLogFileDir("/var/log/kx");
    CKxAgentLogonAccount* pAccount = manager.AddLogonAccount("\x8a\xc7\x97\x9d", "CORP", TRUE, TRUE);  // 管理
    pAccount->AddAllowCommandID(0);
    pAccount->AddAllowCommandID(7);
  });
  CTool tool(base);
  CKxAgentConfigPage* pConfig = tool.pSheet->m_pConfigPage;
  QCOMPARE(pConfig->m_pPort->currentText(), QStringLiteral("COM2"));
  QCOMPARE(pConfig->m_pSpeed->currentText(), QStringLiteral("38400"));
  QCOMPARE(pConfig->m_pEncoding->currentText(), QStringLiteral("EUC-JP"));
  QCOMPARE(pConfig->m_pTimeout->text(), QStringLiteral("300"));
  QVERIFY(pConfig->m_pEventLog->isChecked());
  tool.Open(kAclTab);
  QTreeWidgetItem* pRow = tool.pSheet->m_pAclPage->m_pAccounts->topLevelItem(0);
  QCOMPARE(pRow->text(0), QStringLiteral("管理"));
  QCOMPARE(pRow->text(1), QStringLiteral("CORP"));
  tool.Open(kLogTab);
  QCOMPARE(tool.pSheet->m_pLogPage->m_pDirectory->text(), QStringLiteral("/var/log/kx"));
  QVERIFY(tool.pSheet->m_pLogPage->m_pWarning->isChecked());

  pConfig->m_pTimeout->setText("45");
  ClickBox(pConfig->m_pCPUMonitoring);
  ClickBox(tool.pSheet->m_pLogPage->m_pDebug);
  tool.pSheet->accept();
  QVERIFY(!tool.pSheet->isVisible());

  auto pSaved = ReadConfig(base);
  QCOMPARE(pSaved->GetComPort(), 2ul);
  QCOMPARE(pSaved->GetComSpeed(), 38400ul);
  QCOMPARE(QString(pSaved->GetOutputEncoding()), QStringLiteral("EUC-JP"));
  QCOMPARE(pSaved->GetLogonTimeout(), 45ul);
  QVERIFY(pSaved->IsCPUMonitoring());
  QVERIFY(pSaved->GetLogSetting()->IsDebugLogEnabled());
  QVERIFY(pSaved->GetLogSetting()->IsWarningLogEnabled());
  QCOMPARE(QByteArray(pSaved->GetLogonAccount(1)->GetAccountName()), QByteArray("\x8a\xc7\x97\x9d"));
  QCOMPARE(AllowedIDs(pSaved->GetLogonAccount(1)), (QList<int>{0, 7}));
}

void CtrlPagesTest::pluginInstallRefusals_data() {
  QTest::addColumn<QString>("fileName");
  QTest::addColumn<QByteArray>("content");
  QTest::addColumn<QString>("message");
  const QString dllError = QStringLiteral(
      "プラグインロードエラー|プラグインが正常にロードできませんでした。\n"
      "プログラムにエラーがあるか、必要な関数が定義されていない可能性があります。");
  QTest::newRow("not a plug-in library") << "notaplugin.so" << QByteArray("plain text") << dllError;
  QTest::newRow("unknown extension") << "readme.txt" << QByteArray("text") << dllError;
  QTest::newRow("script while scripts are off")
      << "sample.js" << QByteArray("function GetCommandLineDef() { return 'x'; }")
      << QStringLiteral("プラグインロードエラー|プラグインが正常にロードできませんでした。\n"
                        "スクリプトにエラーがあるか、必要な関数が定義されていない可能性があります。");
  QTest::newRow("registered name, other directory")
      << "registered.so" << QByteArray("x")
      << QStringLiteral("プラグインインストールエラー|同じファイル名のプラグインがすでに登録されているためインストールできません。");
  QTest::newRow("back-slash in the name") << "..\\evil.so" << QByteArray("x")
                                          << QStringLiteral("プラグインインストールエラー|ファイル名「..\\evil.so」のプラグインはインストールできません。");
}

void CtrlPagesTest::pluginInstallRefusals() {
  QFETCH(QString, fileName);
  QFETCH(QByteArray, content);
  QFETCH(QString, message);
  CCtrlBaseDir base;
  WriteConfig(base, [](CKxAgentConfigManager& manager) { manager.AddPlugin("registered.so", KX_ENTRY_TYPE_DLL); });
  QByteArray before = base.ReadSysConfig();
  QTemporaryDir source;
  QFile file(source.path() + '/' + fileName);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(content);
  file.close();

  CTool tool(base);
  CModalAnswers answers;
  answers.Press(QMessageBox::Ok);  // the registered plug-in has no file to load
  tool.Open(kPluginTab);
  QTRY_COMPARE(answers.Pending(), 0);
  QCOMPARE(answers.Take(), QStringList{QStringLiteral(
                               "プラグインロードエラー|プラグインファイル「registered.so」のロードに失敗しました。")});
  CKxAgentPluginPage* pPage = tool.pSheet->m_pPluginPage;
  pPage->SetFileChooser([&](QWidget*, const QStringList&) { return file.fileName(); });
  answers.Click(pPage->m_pInstall, {QMessageBox::Ok});
  QCOMPARE(answers.Take(), QStringList{message});
  QCOMPARE(tool.manager.GetPluginList()->size(), 2u);
  QVERIFY(!QFile::exists(base.PluginDir() + fileName));
  QCOMPARE(base.ReadSysConfig(), before);
}

void CtrlPagesTest::pluginLimitBeforeFileDialog() {
  CCtrlBaseDir base;
  // Script entries are not listed while scripts are off, so the page opens quietly.
  WriteConfig(base, [](CKxAgentConfigManager& manager) {
    for (int i = 0; i < 20; ++i) manager.AddPlugin(QByteArray::number(i) + ".js", KX_ENTRY_TYPE_JSCRIPT);
  });
  CTool tool(base);
  tool.Open(kPluginTab);
  CKxAgentPluginPage* pPage = tool.pSheet->m_pPluginPage;
  QCOMPARE(pPage->m_pPlugins->topLevelItemCount(), 1);
  bool bDialogOpened = false;
  pPage->SetFileChooser([&](QWidget*, const QStringList&) {
    bDialogOpened = true;
    return QString();
  });
  CModalAnswers answers;
  answers.Click(pPage->m_pInstall, {QMessageBox::Ok});
  QCOMPARE(answers.Take(), QStringList{QStringLiteral(
                               "プラグインインストールエラー|これ以上プラグインを追加できません。\n"
                               "不要なプラグインをアンインストールしてからインストールしてください。")});
  QVERIFY(!bDialogOpened);
}

void CtrlPagesTest::builtInEntryCannotBeUninstalled() {
  CCtrlBaseDir base;
  CTool tool(base);
  tool.Open(kPluginTab);
  CKxAgentPluginPage* pPage = tool.pSheet->m_pPluginPage;
  QTreeWidgetItem* pRow = pPage->m_pPlugins->topLevelItem(0);
  QCOMPARE(pRow->text(1), QStringLiteral("Built-in"));
  QCOMPARE(pRow->text(3), QStringLiteral("17"));
  QVERIFY(pRow->toolTip(0).endsWith(QStringLiteral(" (Built-in)")));
  QCOMPARE(pPage->m_pCommands->count(), 17);
  pPage->m_pPlugins->setCurrentItem(pRow);
  CModalAnswers answers;
  answers.Click(pPage->m_pUninstall, {QMessageBox::Ok});
  QCOMPARE(answers.Take(),
           QStringList{QStringLiteral("プラグインアンインストールエラー|「標準コマンド」は削除できません。")});
  QCOMPARE(tool.manager.GetPluginList()->size(), 1u);
}

// The DLL and the JScript sample installed through the page: each copied,
// listed with its commands and saved at once; Cancel afterwards keeps them.
void CtrlPagesTest::installSamplesThenCancel() {
  CCtrlBaseDir base;
  WriteConfig(base, [](CKxAgentConfigManager&) {});
  {
    CTool tool(base);
    tool.Open(kAclTab);
    tool.Open(kPluginTab);
    CKxAgentPluginPage* pPage = tool.pSheet->m_pPluginPage;
    ClickBox(pPage->m_pScripts);
    QString strChosen;
    QStringList offered;
    pPage->SetFileChooser([&](QWidget*, const QStringList& filters) {
      offered = filters;
      return strChosen;
    });
    strChosen = Sample("kxsysinfo.so");
    QTest::mouseClick(pPage->m_pInstall, Qt::LeftButton);
    QCOMPARE(offered, QStringList{QStringLiteral("プラグインファイル (*.so *.dll *.vbs *.js)")});
    strChosen = Sample("echo.js");
    QTest::mouseClick(pPage->m_pInstall, Qt::LeftButton);

    QCOMPARE(pPage->m_pPlugins->topLevelItemCount(), 3);
    QTreeWidgetItem* pDll = pPage->m_pPlugins->topLevelItem(1);
    QCOMPARE((QStringList{pDll->text(0), pDll->text(1), pDll->text(3)}),
             (QStringList{"System information", "Win32 DLL", "2"}));
    QCOMPARE(pDll->data(0, Qt::UserRole).toInt(), 10000);
    QCOMPARE(pDll->toolTip(0), QStringLiteral("System information ( kxsysinfo.so )"));
    QTreeWidgetItem* pScript = pPage->m_pPlugins->topLevelItem(2);
    QCOMPARE((QStringList{pScript->text(0), pScript->text(1), pScript->text(2), pScript->text(3)}),
             (QStringList{"Echo (JScript)", "JScript", "1.0", "1"}));
    pPage->m_pPlugins->setCurrentItem(pDll);
    QCOMPARE(pPage->m_pCommands->item(1)->text(), QStringLiteral("show loadavg [MINUTES:all]"));
    QVERIFY(pPage->m_pInformation->toPlainText().startsWith("Shows how long the system has been up"));
    QVERIFY(QFile::exists(base.PluginDir() + "kxsysinfo.so"));
    QVERIFY(QFile::exists(base.PluginDir() + "echo.js"));
    // Whatever the chosen file's mode (the built library is 0755), what is loaded
    // from the plug-in directory is writable by its owner only.
    struct stat installed;
    QCOMPARE(stat(QFile::encodeName(base.PluginDir() + "kxsysinfo.so").constData(), &installed), 0);
    QCOMPARE(installed.st_mode & 07777, 0644u);
    QCOMPARE(CommandIDs(tool.pSheet->m_pAclPage->m_pCommands), BuiltInIDsAnd({10000, 10001, 20000}));
    QCOMPARE(tool.pSheet->m_pAclPage->m_pCommands->topLevelItem(17)->text(0), QStringLiteral("show uptime"));

    auto pOnDisk = ReadConfig(base);
    QCOMPARE(pOnDisk->GetPluginList()->size(), 3u);
    QCOMPARE(QString(pOnDisk->GetPluginEntry(20000)->GetLibrary()), QStringLiteral("echo.js"));
    tool.pSheet->reject();
  }
  auto pAfterCancel = ReadConfig(base);
  QCOMPARE(pAfterCancel->GetPluginList()->size(), 3u);
  QCOMPARE(pAfterCancel->GetPluginEntry(10000)->GetType(), int(KX_ENTRY_TYPE_DLL));
  QVERIFY(!pAfterCancel->IsScriptPluginSupport());  // the option itself changes at OK only
}

void CtrlPagesTest::uninstallTakesIDsFromEveryAccount() {
  CCtrlBaseDir base;
  WriteConfig(base, [&](CKxAgentConfigManager& manager) {
    PlaceSample(base, manager, "kxsysinfo.so", KX_ENTRY_TYPE_DLL);
    for (const char* lpName : {"alice", "bob"}) {
      CKxAgentLogonAccount* pAccount = manager.AddLogonAccount(lpName, nullptr, TRUE, FALSE);
      for (int nID : {5, 10000, 10001}) pAccount->AddAllowCommandID(nID);
    }
  });
  CTool tool(base);
  tool.Open(kAclTab);
  QCOMPARE(CommandIDs(tool.pSheet->m_pAclPage->m_pCommands), BuiltInIDsAnd({10000, 10001}));
  tool.Open(kPluginTab);
  CKxAgentPluginPage* pPage = tool.pSheet->m_pPluginPage;
  pPage->m_pPlugins->setCurrentItem(pPage->m_pPlugins->topLevelItem(1));
  CModalAnswers answers;
  answers.Click(pPage->m_pUninstall, {QMessageBox::No});
  QCOMPARE(tool.manager.GetPluginList()->size(), 2u);
  answers.Click(pPage->m_pUninstall, {QMessageBox::Yes});
  QStringList seen = answers.Take();
  QCOMPARE(seen.size(), 2);
  QCOMPARE(seen[1], QStringLiteral("プラグインのアンインストール|"
                                   "プラグイン「System information (kxsysinfo.so : Win32 DLL)」をアンインストールします。よろしいですか？"));
  QCOMPARE(pPage->m_pPlugins->topLevelItemCount(), 1);
  QVERIFY(!QFile::exists(base.PluginDir() + "kxsysinfo.so"));
  QCOMPARE(CommandIDs(tool.pSheet->m_pAclPage->m_pCommands), BuiltInIDsAnd({}));
  auto pOnDisk = ReadConfig(base);  // written at once, before OK
  QCOMPARE(pOnDisk->GetPluginList()->size(), 1u);
  QCOMPARE(AllowedIDs(pOnDisk->GetLogonAccount(1)), QList<int>{5});
  QCOMPARE(AllowedIDs(pOnDisk->GetLogonAccount(2)), QList<int>{5});
}

// The VBScript sample cannot load on this system: it is reported when the page
// opens, and still removed with the other scripts.
void CtrlPagesTest::scriptOptionOffRemovesScriptPlugins() {
  CCtrlBaseDir base;
  WriteConfig(base, [&](CKxAgentConfigManager& manager) {
    manager.SetScriptPluginSupport(TRUE);
    PlaceSample(base, manager, "kxsysinfo.so", KX_ENTRY_TYPE_DLL);
    PlaceSample(base, manager, "echo.js", KX_ENTRY_TYPE_JSCRIPT);
    PlaceSample(base, manager, "echo.vbs", KX_ENTRY_TYPE_VBSCRIPT);
  });
  CTool tool(base);
  tool.Open(kAclTab);
  CModalAnswers answers;
  answers.Press(QMessageBox::Ok);
  tool.Open(kPluginTab);
  QTRY_COMPARE(answers.Pending(), 0);
  QCOMPARE(answers.Take(), QStringList{QStringLiteral(
                               "プラグインロードエラー|プラグインファイル「echo.vbs」のロードに失敗しました。")});
  CKxAgentPluginPage* pPage = tool.pSheet->m_pPluginPage;
  QVERIFY(pPage->m_pScripts->isChecked());
  QCOMPARE(pPage->m_pPlugins->topLevelItemCount(), 3);

  answers.Click(pPage->m_pScripts, {QMessageBox::No});
  QVERIFY(pPage->m_pScripts->isChecked());
  QCOMPARE(tool.manager.GetPluginList()->size(), 4u);

  answers.Click(pPage->m_pScripts, {QMessageBox::Yes});
  QCOMPARE(answers.Take().last(),
           QStringLiteral("設定変更の確認|このオプションをオフにすると、登録されているVBScript/JScriptのプラグインが削除されます。\n"
                          "続行しますか？"));
  QCOMPARE(pPage->m_pPlugins->topLevelItemCount(), 2);
  QVERIFY(QFile::exists(base.PluginDir() + "kxsysinfo.so"));
  QVERIFY(!QFile::exists(base.PluginDir() + "echo.js"));
  QVERIFY(!QFile::exists(base.PluginDir() + "echo.vbs"));
  QCOMPARE(CommandIDs(tool.pSheet->m_pAclPage->m_pCommands), BuiltInIDsAnd({10000, 10001}));
  auto pOnDisk = ReadConfig(base);
  QCOMPARE(pOnDisk->GetPluginList()->size(), 2u);
  tool.pSheet->accept();
  QVERIFY(!ReadConfig(base)->IsScriptPluginSupport());
}

void CtrlPagesTest::browserFailureMessage() {
  CCtrlBaseDir base;
  CTool tool(base);
  tool.Open(kVersionTab);
  QString strOpened;
  tool.pSheet->m_pVersionPage->SetUrlOpener([&](const QString& strUrl) {
    strOpened = strUrl;
    return false;
  });
  CModalAnswers answers;
  answers.Click(tool.pSheet->m_pVersionPage->m_pWebPage, {QMessageBox::Ok});
  QCOMPARE(strOpened, CKxAgentVersionInfoPage::GetProductUrl());
  QCOMPARE(answers.Take(), QStringList{QStringLiteral("エラー発生|ブラウザ起動時にエラーが発生しました。(ERROR=31)")});
}

QTEST_MAIN(CtrlPagesTest)
#include "ctrl_pages_test.moc"
