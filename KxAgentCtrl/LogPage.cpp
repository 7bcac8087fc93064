#include "KxAgentCtrl/LogPage.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

CKxAgentLogPage::CKxAgentLogPage(CKxAgentConfigManager* pManager, QWidget* pParent)
    : CKxAgentPropertyPage(pManager, pParent), m_logic(pManager) {
  m_fnChooseFolder = [](QWidget* pParentWidget, const QString& strTitle, const QString& strStart) {
    return QFileDialog::getExistingDirectory(pParentWidget, strTitle, strStart, QFileDialog::ShowDirsOnly);
  };
  m_fnOpenFolder = [](const QString& strDir) { return QDesktopServices::openUrl(QUrl::fromLocalFile(strDir)); };

  QVBoxLayout* pLayout = new QVBoxLayout(this);
  QGroupBox* pGroup = new QGroupBox(QStringLiteral("Kestrix Agent for Windows ログ設定"));
  QVBoxLayout* pGroupLayout = new QVBoxLayout(pGroup);
  m_pLog = new QCheckBox(QStringLiteral("動作ログを出力する(&L)"));
  pGroupLayout->addWidget(m_pLog);

  QGroupBox* pLevels = new QGroupBox(QStringLiteral("ログの種類"));
  QGridLayout* pLevelGrid = new QGridLayout(pLevels);
  auto addLevel = [pLevelGrid](int nRow, const QString& strBox, const QString& strText, QCheckBox** ppBox,
                               QLabel** ppText) {
    *ppBox = new QCheckBox(strBox);
    *ppText = new QLabel(strText);
    pLevelGrid->addWidget(*ppBox, nRow, 0);
    pLevelGrid->addWidget(*ppText, nRow, 1);
  };
  addLevel(0, QStringLiteral("エラー(&E)"), QStringLiteral("重要度（高）のログを出力します（内部エラーなど）"), &m_pError,
           &m_pErrorText);
  addLevel(1, QStringLiteral("警告(&W)"), QStringLiteral("重要度（中）のログを出力します（認証失敗時など）"), &m_pWarning,
           &m_pWarningText);
  addLevel(2, QStringLiteral("情報(&I)"), QStringLiteral("重要度（低）のログを出力します（Agentへのログオンなど）"),
           &m_pInfo, &m_pInfoText);
  addLevel(3, QStringLiteral("デバッグ(&D)"), QStringLiteral("障害発生時の切り分け等に使用します（通常はオフ）"), &m_pDebug,
           &m_pDebugText);
  pLevelGrid->setColumnStretch(1, 1);
  pGroupLayout->addWidget(pLevels);

  QGroupBox* pFiles = new QGroupBox(QStringLiteral("ログファイル設定"));
  QGridLayout* pFileGrid = new QGridLayout(pFiles);
  m_pDirectoryLabel = new QLabel(QStringLiteral("ログ保存ディレクトリ:"));
  m_pDirectory = new QLineEdit;
  m_pDirectory->setReadOnly(true);
  pFileGrid->addWidget(m_pDirectoryLabel, 0, 0);
  pFileGrid->addWidget(m_pDirectory, 0, 1, 1, 3);
  QHBoxLayout* pDirButtons = new QHBoxLayout;
  m_pOpen = new QPushButton(QStringLiteral("ログ保存ディレクトリを開く(&O)"));
  m_pChange = new QPushButton(QStringLiteral("ログ保存ディレクトリの変更(&M)..."));
  pDirButtons->addStretch();
  pDirButtons->addWidget(m_pOpen);
  pDirButtons->addWidget(m_pChange);
  pFileGrid->addLayout(pDirButtons, 1, 0, 1, 4);
  m_pLimit = new QCheckBox(QStringLiteral("ログファイルの最大サイズを設定する"));
  pFileGrid->addWidget(m_pLimit, 2, 0, 1, 4);
  m_pSizeLabel = new QLabel(QStringLiteral("最大サイズ:"));
  m_pSize = new QLineEdit;
  m_pSize->setMaxLength(10);
  m_pSize->setFixedWidth(m_pSize->fontMetrics().horizontalAdvance(QStringLiteral("00000000")));
  m_pSizeUnit = new QLabel(QStringLiteral("MB"));
  m_pSizeNote = new QLabel(QStringLiteral("※1 ～ 100MB まで設定可"));
  QHBoxLayout* pSizeRow = new QHBoxLayout;
  pSizeRow->addWidget(m_pSizeLabel);
  pSizeRow->addWidget(m_pSize);
  pSizeRow->addWidget(m_pSizeUnit);
  pSizeRow->addSpacing(12);
  pSizeRow->addWidget(m_pSizeNote);
  pSizeRow->addStretch();
  pFileGrid->addLayout(pSizeRow, 3, 0, 1, 4);
  m_pWarningNote = new QLabel(QStringLiteral(
      "《注意！》\nログファイルが最大サイズに達した場合は、ログが出力されなくなります。\n"
      "ログファイルがいっぱいになったことは、NTイベントログで通知されます。"));
  pFileGrid->addWidget(m_pWarningNote, 4, 0, 1, 4);
  pFileGrid->setColumnStretch(1, 1);
  pGroupLayout->addWidget(pFiles);
  pLayout->addWidget(pGroup);
  pLayout->addStretch();

  connect(m_pLog, &QCheckBox::toggled, this, [this](bool b) { OnSwitch(CKxAgentLogPageLogic::KX_LOG, b); });
  connect(m_pError, &QCheckBox::toggled, this, [this](bool b) { OnSwitch(CKxAgentLogPageLogic::KX_ERROR, b); });
  connect(m_pWarning, &QCheckBox::toggled, this, [this](bool b) { OnSwitch(CKxAgentLogPageLogic::KX_WARNING, b); });
  connect(m_pInfo, &QCheckBox::toggled, this, [this](bool b) { OnSwitch(CKxAgentLogPageLogic::KX_INFO, b); });
  connect(m_pDebug, &QCheckBox::toggled, this, [this](bool b) { OnSwitch(CKxAgentLogPageLogic::KX_DEBUG, b); });
  connect(m_pLimit, &QCheckBox::toggled, this, [this](bool b) { OnSwitch(CKxAgentLogPageLogic::KX_LIMIT, b); });
  connect(m_pSize, &QLineEdit::textEdited, this, [this](const QString& strText) { m_logic.OnSizeTyped(strText); });
  connect(m_pChange, &QPushButton::clicked, this, &CKxAgentLogPage::OnChange);
  connect(m_pOpen, &QPushButton::clicked, this, &CKxAgentLogPage::OnOpen);
}

void CKxAgentLogPage::OnFirstShow() {
  CKxLogPageValues values = m_logic.Load();
  m_bFilling = true;
  m_pLog->setChecked(values.bLogEnabled);
  m_pError->setChecked(values.bErrorLog);
  m_pWarning->setChecked(values.bWarningLog);
  m_pInfo->setChecked(values.bInfoLog);
  m_pDebug->setChecked(values.bDebugLog);
  m_pLimit->setChecked(values.bLimit);
  m_pDirectory->setText(values.strDirectory);
  m_pSize->setText(values.strMaxSize);
  m_bFilling = false;
  UpdateEnabling();
}

CKxLogPageValues CKxAgentLogPage::GetValues() const {
  CKxLogPageValues values;
  values.bLogEnabled = m_pLog->isChecked();
  values.bErrorLog = m_pError->isChecked();
  values.bWarningLog = m_pWarning->isChecked();
  values.bInfoLog = m_pInfo->isChecked();
  values.bDebugLog = m_pDebug->isChecked();
  values.bLimit = m_pLimit->isChecked();
  values.strDirectory = m_pDirectory->text();
  values.strMaxSize = m_pSize->text();
  return values;
}

void CKxAgentLogPage::UpdateEnabling() {
  CKxLogPageEnabling enabling = CKxAgentLogPageLogic::GetEnabling(GetValues());
  for (QWidget* pWidget : {static_cast<QWidget*>(m_pError), static_cast<QWidget*>(m_pWarning),
                           static_cast<QWidget*>(m_pInfo), static_cast<QWidget*>(m_pDebug)}) {
    pWidget->setEnabled(enabling.bLevels);
  }
  m_pErrorText->setEnabled(enabling.bErrorText);
  m_pWarningText->setEnabled(enabling.bWarningText);
  m_pInfoText->setEnabled(enabling.bInfoText);
  m_pDebugText->setEnabled(enabling.bDebugText);
  for (QWidget* pWidget : {static_cast<QWidget*>(m_pDirectoryLabel), static_cast<QWidget*>(m_pDirectory),
                           static_cast<QWidget*>(m_pOpen), static_cast<QWidget*>(m_pChange)}) {
    pWidget->setEnabled(enabling.bDirectory);
  }
  m_pLimit->setEnabled(enabling.bLimit);
  for (QWidget* pWidget : {static_cast<QWidget*>(m_pSizeLabel), static_cast<QWidget*>(m_pSize),
                           static_cast<QWidget*>(m_pSizeUnit), static_cast<QWidget*>(m_pSizeNote),
                           static_cast<QWidget*>(m_pWarningNote)}) {
    pWidget->setEnabled(enabling.bSize);
  }
}

void CKxAgentLogPage::OnSwitch(CKxAgentLogPageLogic::Switch nSwitch, bool bOn) {
  if (m_bFilling) return;
  m_logic.SetSwitch(nSwitch, bOn);
  UpdateEnabling();
}

void CKxAgentLogPage::OnChange() {
  QString strCurrent = m_pDirectory->text();
  QString strChosen = m_fnChooseFolder(this, CKxAgentLogPageLogic::GetBrowseTitle(), strCurrent);
  CKxCtrlMessage message;
  if (!m_logic.ChangeDirectory(strCurrent, strChosen, &message)) return;
  m_pDirectory->setText(strChosen);
  KxShowMessage(this, message);
}

void CKxAgentLogPage::OnOpen() { m_fnOpenFolder(m_pDirectory->text()); }

bool CKxAgentLogPage::OnOK() {
  CKxCtrlMessage message;
  return m_logic.Store(GetValues(), &message) || RefuseField(message, m_pSize);
}
