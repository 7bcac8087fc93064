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
  QGroupBox* pGroup = new QGroupBox(KxQtText(KX_TEXT_GROUP_LOG));
  QVBoxLayout* pGroupLayout = new QVBoxLayout(pGroup);
  m_pLog = new QCheckBox(KxQtText(KX_TEXT_CHECK_LOG));
  pGroupLayout->addWidget(m_pLog);

  QGroupBox* pLevels = new QGroupBox(KxQtText(KX_TEXT_GROUP_LEVELS));
  QGridLayout* pLevelGrid = new QGridLayout(pLevels);
  auto addLevel = [pLevelGrid](int nRow, const QString& strBox, const QString& strText, QCheckBox** ppBox,
                               QLabel** ppText) {
    *ppBox = new QCheckBox(strBox);
    *ppText = new QLabel(strText);
    pLevelGrid->addWidget(*ppBox, nRow, 0);
    pLevelGrid->addWidget(*ppText, nRow, 1);
  };
  addLevel(0, KxQtText(KX_TEXT_CHECK_ERROR), KxQtText(KX_TEXT_ERROR_DESCRIPTION), &m_pError,
           &m_pErrorText);
  addLevel(1, KxQtText(KX_TEXT_CHECK_WARNING), KxQtText(KX_TEXT_WARNING_DESCRIPTION), &m_pWarning,
           &m_pWarningText);
  addLevel(2, KxQtText(KX_TEXT_CHECK_INFO), KxQtText(KX_TEXT_INFO_DESCRIPTION),
           &m_pInfo, &m_pInfoText);
  addLevel(3, KxQtText(KX_TEXT_CHECK_DEBUG), KxQtText(KX_TEXT_DEBUG_DESCRIPTION), &m_pDebug,
           &m_pDebugText);
  pLevelGrid->setColumnStretch(1, 1);
  pGroupLayout->addWidget(pLevels);

  QGroupBox* pFiles = new QGroupBox(KxQtText(KX_TEXT_GROUP_LOG_FILES));
  QGridLayout* pFileGrid = new QGridLayout(pFiles);
  m_pDirectoryLabel = new QLabel(KxQtText(KX_TEXT_LABEL_LOG_DIRECTORY));
  m_pDirectory = new QLineEdit;
  m_pDirectory->setReadOnly(true);
  pFileGrid->addWidget(m_pDirectoryLabel, 0, 0);
  pFileGrid->addWidget(m_pDirectory, 0, 1, 1, 3);
  QHBoxLayout* pDirButtons = new QHBoxLayout;
  m_pOpen = new QPushButton(KxQtText(KX_TEXT_BUTTON_OPEN_DIRECTORY));
  m_pChange = new QPushButton(KxQtText(KX_TEXT_BUTTON_CHANGE_DIRECTORY));
  pDirButtons->addStretch();
  pDirButtons->addWidget(m_pOpen);
  pDirButtons->addWidget(m_pChange);
  pFileGrid->addLayout(pDirButtons, 1, 0, 1, 4);
  m_pLimit = new QCheckBox(KxQtText(KX_TEXT_CHECK_LOG_LIMIT));
  pFileGrid->addWidget(m_pLimit, 2, 0, 1, 4);
  m_pSizeLabel = new QLabel(KxQtText(KX_TEXT_LABEL_MAX_SIZE));
  m_pSize = new QLineEdit;
  m_pSize->setMaxLength(CKxAgentLogPageLogic::KX_SIZE_FIELD_LENGTH);
  m_pSize->setFixedWidth(m_pSize->fontMetrics().horizontalAdvance(QStringLiteral("00000000")));
  m_pSizeUnit = new QLabel(KxQtText(KX_TEXT_LABEL_MB));
  m_pSizeNote = new QLabel(KxQtText(KX_TEXT_SIZE_RANGE_NOTE));
  QHBoxLayout* pSizeRow = new QHBoxLayout;
  pSizeRow->addWidget(m_pSizeLabel);
  pSizeRow->addWidget(m_pSize);
  pSizeRow->addWidget(m_pSizeUnit);
  pSizeRow->addSpacing(12);
  pSizeRow->addWidget(m_pSizeNote);
  pSizeRow->addStretch();
  pFileGrid->addLayout(pSizeRow, 3, 0, 1, 4);
  m_pWarningNote = new QLabel(KxQtText(KX_TEXT_SIZE_WARNING_NOTE).replace(QLatin1String("\r\n"), QLatin1String("\n")));
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
  connect(m_pSize, &QLineEdit::textEdited, this, [this](const QString& strText) { m_logic.OnSizeTyped(KxToCp932(strText)); });
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
  m_pDirectory->setText(KxToQt(values.strDirectory));
  m_pSize->setText(KxToQt(values.strMaxSize));
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
  values.strDirectory = KxToCp932(m_pDirectory->text());
  values.strMaxSize = KxToCp932(m_pSize->text());
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
  QString strChosen = m_fnChooseFolder(this, KxToQt(CKxAgentLogPageLogic::GetBrowseTitle()), strCurrent);
  CKxCtrlMessage message;
  if (!m_logic.ChangeDirectory(KxToCp932(strCurrent), KxToCp932(strChosen), &message)) return;
  m_pDirectory->setText(strChosen);
  KxShowMessage(this, message);
}

void CKxAgentLogPage::OnOpen() { m_fnOpenFolder(m_pDirectory->text()); }

bool CKxAgentLogPage::OnOK() {
  CKxCtrlMessage message;
  return m_logic.Store(GetValues(), &message) || RefuseField(message, m_pSize);
}
