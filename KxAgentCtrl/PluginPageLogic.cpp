#include "KxAgentCtrl/PluginPageLogic.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include "KxAgentConfigManager/KxAgentConfigManager.h"
#include "KxAgentCtrl/PluginLoader.h"
#include "KxAgentPluginManager/PluginFile.h"
#include "platform/error_codes.h"
#include "platform/replace_file.h"

namespace {

const int kTooltipLength = 80;

QString InstallErrorTitle() { return QStringLiteral("プラグインインストールエラー"); }
QString LoadErrorTitle() { return QStringLiteral("プラグインロードエラー"); }

// A library name the configuration may hold: a plain file name. Anything else
// would reach outside the plug-in directory when it is loaded or deleted.
bool IsBareFileName(const QString& strName) { return IsPluginFileName(KxToCp932(strName).c_str()); }

// The entry type of a file, from its extension; 0 when it is no plug-in kind.
int TypeOfFile(const QString& strName) {
  QString strExtension = QFileInfo(strName).suffix().toUpper();
  if (strExtension == QLatin1String("DLL") || strExtension == QLatin1String("SO")) return KX_ENTRY_TYPE_DLL;
  if (strExtension == QLatin1String("VBS")) return KX_ENTRY_TYPE_VBSCRIPT;
  if (strExtension == QLatin1String("JS")) return KX_ENTRY_TYPE_JSCRIPT;
  return 0;
}

// Whether the file system holding strDir (or its nearest existing parent)
// finds a file by its name in other letter case.
bool IsCaseInsensitiveFileSystem(QString strDir) {
  while (!QFileInfo(strDir).isDir()) {
    QString strParent = QFileInfo(strDir).absolutePath();
    if (strParent == strDir) return false;
    strDir = strParent;
  }
  QTemporaryFile probe(strDir + QStringLiteral("/kxcase_probe_XXXXXX"));
  if (!probe.open()) return false;
  QFileInfo info(probe.fileName());
  return QFileInfo::exists(info.absolutePath() + QLatin1Char('/') + info.fileName().toUpper());
}

}  // namespace

QString CKxAgentPluginPageLogic::GetPluginDir() const { return KxToQt(m_pManager->GetPluginDir()); }

bool CKxAgentPluginPageLogic::LoadEntry(const CKxAgentPluginEntry* pEntry, CKxAgentPluginSummary* pSummary) {
  return m_pLoader->Load(pEntry->GetType(), MakePluginFilePath(m_pManager->GetPluginDir(), pEntry->GetLibrary()),
                         pSummary);
}

bool CKxAgentPluginPageLogic::MakeRow(int nPluginID, CKxPluginRow* pRow) {
  CKxAgentPluginEntry* pEntry = m_pManager->GetPluginEntry(nPluginID);
  if (pEntry == nullptr) return false;
  CKxAgentPluginSummary summary;
  if (!LoadEntry(pEntry, &summary)) return false;
  pRow->nPluginID = nPluginID;
  pRow->strName = KxToQt(summary.strName.c_str());
  pRow->strTypeName = KxToQt(pEntry->GetTypeName());
  pRow->strVersion = QStringLiteral("%1.%2").arg(summary.nMajorVersion).arg(summary.nMinorVersion);
  pRow->strCommandCount = QString::number(summary.vecCommands.size());
  if (pEntry->GetType() == KX_ENTRY_TYPE_BUILTIN) {
    pRow->strTooltip = QStringLiteral("%1 (Built-in)").arg(pRow->strName);
  } else {
    pRow->strTooltip = QStringLiteral("%1 ( %2 )").arg(pRow->strName, KxToQt(pEntry->GetLibrary()));
  }
  pRow->strTooltip.truncate(kTooltipLength);
  return true;
}

std::vector<CKxPluginRow> CKxAgentPluginPageLogic::BuildRows(QList<CKxCtrlMessage>* pFailures) {
  std::vector<CKxPluginRow> rows;
  std::vector<std::pair<int, int>> entries;  // ID, type: the list may not change while rows are made
  for (const CKxAgentPluginEntry* pEntry : *m_pManager->GetPluginList()) {
    entries.emplace_back(pEntry->GetPluginID(), pEntry->GetType());
  }
  for (const auto& entry : entries) {
    bool bScript = entry.second == KX_ENTRY_TYPE_VBSCRIPT || entry.second == KX_ENTRY_TYPE_JSCRIPT;
    if (bScript && !m_pLoader->HasScriptHosts()) continue;
    CKxPluginRow row;
    if (MakeRow(entry.first, &row)) {
      rows.push_back(row);
    } else {
      CKxCtrlMessage message;
      message.Set(QStringLiteral("プラグインファイル「%1」のロードに失敗しました。")
                      .arg(KxToQt(m_pManager->GetPluginEntry(entry.first)->GetLibrary())),
                  LoadErrorTitle(), KX_ICON_ERROR);
      pFailures->append(message);
    }
  }
  return rows;
}

bool CKxAgentPluginPageLogic::Show(int nPluginID, QStringList* pCommands, QString* pstrInformation) {
  CKxAgentPluginEntry* pEntry = m_pManager->GetPluginEntry(nPluginID);
  if (pEntry == nullptr) return false;
  CKxAgentPluginSummary summary;
  if (!LoadEntry(pEntry, &summary)) return false;
  pCommands->clear();
  for (const std::string& strCommand : summary.vecCommands) pCommands->append(KxToQt(strCommand.c_str()));
  *pstrInformation = QStringLiteral("%1\r\n\r\n%2")
                         .arg(KxToQt(summary.strDescription.c_str()), KxToQt(summary.strCopyright.c_str()));
  return true;
}

bool CKxAgentPluginPageLogic::CanInstall(CKxCtrlMessage* pMessage) const {
  if (m_pManager->GetPluginList()->size() < KX_MAX_PLUGIN_ENTRIES) return true;
  pMessage->Set(QStringLiteral("これ以上プラグインを追加できません。\r\n"
                               "不要なプラグインをアンインストールしてからインストールしてください。"),
                InstallErrorTitle(), KX_ICON_ERROR);
  return false;
}

QStringList CKxAgentPluginPageLogic::GetFileFilters() const {
  // Plug-in libraries are shared objects on this system, DLLs on Windows.
  if (m_pLoader->HasScriptHosts()) {
    return {QStringLiteral("プラグインファイル (*.so *.dll *.vbs *.js)")};
  }
  return {QStringLiteral("プラグインファイル (*.so *.dll)")};
}

bool CKxAgentPluginPageLogic::IsSameFileName(const QString& strFirst, const QString& strSecond) const {
  if (strFirst == strSecond) return true;
  if (strFirst.compare(strSecond, Qt::CaseInsensitive) != 0) return false;
  return IsCaseInsensitiveFileSystem(GetPluginDir());
}

bool CKxAgentPluginPageLogic::Install(const QString& strPath, CKxPluginRow* pRow, CKxCtrlMessage* pMessage,
                                      bool* pbSaveFailed) {
  *pbSaveFailed = false;
  QString strName = QFileInfo(strPath).fileName();
  if (!IsBareFileName(strName)) {
    pMessage->Set(QStringLiteral("ファイル名「%1」のプラグインはインストールできません。").arg(strName),
                  InstallErrorTitle(), KX_ICON_ERROR);
    return false;
  }
  for (const CKxAgentPluginEntry* pEntry : *m_pManager->GetPluginList()) {
    if (pEntry->GetType() != KX_ENTRY_TYPE_BUILTIN && IsSameFileName(strName, KxToQt(pEntry->GetLibrary()))) {
      pMessage->Set(QStringLiteral("同じファイル名のプラグインがすでに登録されているためインストールできません。"),
                    InstallErrorTitle(), KX_ICON_ERROR);
      return false;
    }
  }
  int nType = TypeOfFile(strName);
  CKxAgentPluginSummary summary;
  if (nType == 0 || !m_pLoader->Load(nType, KxToCp932(strPath), &summary)) {
    bool bScript = nType == KX_ENTRY_TYPE_VBSCRIPT || nType == KX_ENTRY_TYPE_JSCRIPT;
    pMessage->Set(bScript ? QStringLiteral("プラグインが正常にロードできませんでした。\r\n"
                                           "スクリプトにエラーがあるか、必要な関数が定義されていない可能性があります。")
                          : QStringLiteral("プラグインが正常にロードできませんでした。\r\n"
                                           "プログラムにエラーがあるか、必要な関数が定義されていない可能性があります。"),
                  LoadErrorTitle(), KX_ICON_ERROR);
    return false;
  }
  int nPluginID = m_pManager->AddPlugin(KxToCp932(strName).c_str(), nType)->GetPluginID();
  QString strDir = GetPluginDir();
  if (!QDir().mkpath(strDir)) {
    pMessage->Set(QStringLiteral("プラグインディレクトリの作成に失敗しました。プラグインのインストールを中止します。"),
                  InstallErrorTitle(), KX_ICON_ERROR);
    m_pManager->RemovePlugin(nPluginID);
    return false;
  }
  QString strTarget = strDir + strName;
  // A file chosen inside the plug-in directory is already in place; removing
  // the target first would delete the only copy.
  bool bInPlace = QFileInfo(strPath).canonicalFilePath() == QFileInfo(strTarget).canonicalFilePath();
  if (!bInPlace && kx::InstallFileCopy(KxToCp932(strPath).c_str(), m_pManager->GetPluginDir(),
                                       KxToCp932(strName).c_str()) != ERROR_SUCCESS) {
    pMessage->Set(QStringLiteral("ファイルのコピーに失敗しました。"), InstallErrorTitle(), KX_ICON_ERROR);
    m_pManager->RemovePlugin(nPluginID);
    return false;
  }
  bool bRow = MakeRow(nPluginID, pRow);
  if (!KxSaveSystemConfig(m_pManager, pMessage)) *pbSaveFailed = true;
  if (!bRow) pRow->nPluginID = -1;
  return true;
}

bool CKxAgentPluginPageLogic::CheckUninstall(int nPluginID, const CKxPluginRow& row, CKxCtrlMessage* pMessage,
                                             QString* pstrQuestion) {
  CKxAgentPluginEntry* pEntry = m_pManager->GetPluginEntry(nPluginID);
  if (pEntry == nullptr) return false;
  if (pEntry->GetType() == KX_ENTRY_TYPE_BUILTIN) {
    pMessage->Set(QStringLiteral("「標準コマンド」は削除できません。"),
                  QStringLiteral("プラグインアンインストールエラー"), KX_ICON_ERROR);
    return false;
  }
  *pstrQuestion = QStringLiteral("プラグイン「%1 (%2 : %3)」をアンインストールします。よろしいですか？")
                      .arg(row.strName, KxToQt(pEntry->GetLibrary()), row.strTypeName);
  return true;
}

QString CKxAgentPluginPageLogic::GetUninstallTitle() { return QStringLiteral("プラグインのアンインストール"); }

void CKxAgentPluginPageLogic::RemovePluginAndFile(int nPluginID) {
  CKxAgentPluginEntry* pEntry = m_pManager->GetPluginEntry(nPluginID);
  if (pEntry == nullptr) return;
  QString strLibrary = KxToQt(pEntry->GetLibrary());
  // A file that cannot be deleted still leaves the configuration.
  if (IsBareFileName(strLibrary)) QFile::remove(GetPluginDir() + strLibrary);
  m_pManager->RemovePlugin(nPluginID);
}

bool CKxAgentPluginPageLogic::Uninstall(int nPluginID, CKxCtrlMessage* pMessage) {
  RemovePluginAndFile(nPluginID);
  return KxSaveSystemConfig(m_pManager, pMessage);
}

QString CKxAgentPluginPageLogic::GetScriptOffQuestion() {
  return QStringLiteral("このオプションをオフにすると、登録されているVBScript/JScriptのプラグインが削除されます。\r\n"
                        "続行しますか？");
}

QString CKxAgentPluginPageLogic::GetScriptOffTitle() { return QStringLiteral("設定変更の確認"); }

void CKxAgentPluginPageLogic::TurnScriptsOn() { m_pLoader->CreateScriptHosts(); }

QList<int> CKxAgentPluginPageLogic::TurnScriptsOff(CKxCtrlMessage* pMessage) {
  QList<int> removed;
  for (const CKxAgentPluginEntry* pEntry : *m_pManager->GetPluginList()) {
    if (pEntry->GetType() == KX_ENTRY_TYPE_VBSCRIPT || pEntry->GetType() == KX_ENTRY_TYPE_JSCRIPT) {
      removed.append(pEntry->GetPluginID());
    }
  }
  for (int nPluginID : removed) RemovePluginAndFile(nPluginID);
  m_pLoader->DestroyScriptHosts();
  KxSaveSystemConfig(m_pManager, pMessage);
  return removed;
}

void CKxAgentPluginPageLogic::Store(bool bScriptPlugins) {
  m_pManager->SetScriptPluginSupport(bScriptPlugins ? TRUE : FALSE);
}
