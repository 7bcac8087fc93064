#include "KxAgentCtrl/ConfigPage.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "KxAgentConfigManager/KxAgentConfigManager.h"

namespace {

// The service wait's pause: the window keeps painting, but takes no input.
void PaintWhileWaiting(DWORD dwMilliseconds, void*) {
  QEventLoop loop;
  QTimer::singleShot(static_cast<int>(dwMilliseconds), &loop, &QEventLoop::quit);
  loop.exec(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace

CKxAgentConfigPage::CKxAgentConfigPage(CKxCtrlConfigFile* pFile, QWidget* pParent)
    : CKxAgentPropertyPage(pFile->GetManager(), pParent),
      m_pFile(pFile),
      m_logic(pFile->GetManager()),
      m_service(PaintWhileWaiting, nullptr) {
  QVBoxLayout* pLayout = new QVBoxLayout(this);

  QGroupBox* pSerial = new QGroupBox(KxQtText(KX_TEXT_GROUP_SERIAL));
  QGridLayout* pSerialGrid = new QGridLayout(pSerial);
  m_pPort = new QComboBox;
  m_pSpeed = new QComboBox;
  pSerialGrid->addWidget(new QLabel(KxQtText(KX_TEXT_LABEL_PORT)), 0, 0);
  pSerialGrid->addWidget(m_pPort, 0, 1);
  pSerialGrid->addWidget(new QLabel(KxQtText(KX_TEXT_LABEL_SPEED)), 0, 2);
  pSerialGrid->addWidget(m_pSpeed, 0, 3);
  pSerialGrid->setColumnStretch(4, 1);
  pLayout->addWidget(pSerial);

  QGroupBox* pShell = new QGroupBox(KxQtText(KX_TEXT_GROUP_SHELL));
  QGridLayout* pShellGrid = new QGridLayout(pShell);
  m_pEncoding = new QComboBox;
  m_pTimeout = new QLineEdit;
  m_pTimeout->setMaxLength(CKxAgentConfigPageLogic::KX_TIMEOUT_FIELD_LENGTH);
  m_pTimeout->setFixedWidth(m_pTimeout->fontMetrics().horizontalAdvance(QStringLiteral("00000000")));
  pShellGrid->addWidget(new QLabel(KxQtText(KX_TEXT_LABEL_ENCODING)), 0, 0);
  pShellGrid->addWidget(m_pEncoding, 0, 1);
  pShellGrid->addWidget(new QLabel(KxQtText(KX_TEXT_LABEL_TIMEOUT)), 1, 0);
  QHBoxLayout* pTimeoutRow = new QHBoxLayout;
  pTimeoutRow->addWidget(m_pTimeout);
  pTimeoutRow->addWidget(new QLabel(KxQtText(KX_TEXT_LABEL_SECONDS)));
  pTimeoutRow->addStretch();
  pShellGrid->addLayout(pTimeoutRow, 1, 1);
  m_pEventLog = new QCheckBox(KxQtText(KX_TEXT_CHECK_EVENTLOG));
  m_pCPUMonitoring = new QCheckBox(KxQtText(KX_TEXT_CHECK_CPU));
  m_pHideImproper = new QCheckBox(KxQtText(KX_TEXT_CHECK_HIDE_IMPROPER));
  pShellGrid->addWidget(m_pEventLog, 2, 0, 1, 3);
  pShellGrid->addWidget(m_pCPUMonitoring, 3, 0, 1, 3);
  pShellGrid->addWidget(m_pHideImproper, 4, 0, 1, 3);
  pShellGrid->setColumnStretch(2, 1);
  pLayout->addWidget(pShell);

  QGroupBox* pService = new QGroupBox(KxQtText(KX_TEXT_GROUP_SERVICE));
  QGridLayout* pServiceGrid = new QGridLayout(pService);
  m_pStart = new QPushButton(KxQtText(KX_TEXT_BUTTON_START));
  m_pStop = new QPushButton(KxQtText(KX_TEXT_BUTTON_STOP));
  m_pStatus = new QLabel(KxToQt(CKxAgentServiceControl::GetInitialStatus()));
  pServiceGrid->addWidget(m_pStart, 0, 0);
  pServiceGrid->addWidget(m_pStop, 0, 1);
  pServiceGrid->addWidget(m_pStatus, 1, 0, 1, 3);
  pServiceGrid->setColumnStretch(2, 1);
  pLayout->addWidget(pService);
  pLayout->addStretch();

  connect(m_pStart, &QPushButton::clicked, this, &CKxAgentConfigPage::OnStart);
  connect(m_pStop, &QPushButton::clicked, this, &CKxAgentConfigPage::OnStop);
}

void CKxAgentConfigPage::OnFirstShow() {
  m_pPort->addItems(KxToQtList(m_logic.GetPortItems()));
  m_pSpeed->addItems(KxToQtList(CKxAgentConfigPageLogic::GetSpeedItems()));
  m_pEncoding->addItems(KxToQtList(CKxAgentConfigPageLogic::GetEncodingItems()));
  CKxConfigPageValues values = m_logic.Load();
  m_pPort->setCurrentIndex(values.nPortIndex);
  m_pSpeed->setCurrentIndex(values.nSpeedIndex);
  m_pEncoding->setCurrentIndex(values.nEncodingIndex);
  m_pTimeout->setText(KxToQt(values.strTimeout));
  m_pEventLog->setChecked(values.bEventLogNotification);
  m_pCPUMonitoring->setChecked(values.bCPUMonitoring);
  m_pHideImproper->setChecked(values.bHiddenImproperCommand);
  ShowService(m_service.Query());
}

CKxConfigPageValues CKxAgentConfigPage::GetValues() const {
  CKxConfigPageValues values;
  values.nPortIndex = m_pPort->currentIndex();
  values.nSpeedIndex = m_pSpeed->currentIndex();
  values.nEncodingIndex = m_pEncoding->currentIndex();
  values.strTimeout = KxToCp932(m_pTimeout->text());
  values.bEventLogNotification = m_pEventLog->isChecked();
  values.bCPUMonitoring = m_pCPUMonitoring->isChecked();
  values.bHiddenImproperCommand = m_pHideImproper->isChecked();
  return values;
}

bool CKxAgentConfigPage::OnOK() {
  CKxCtrlMessage message;
  return m_logic.Store(GetValues(), &message) || RefuseField(message, m_pTimeout);
}

void CKxAgentConfigPage::ShowService(const CKxServiceView& view) {
  for (const CKxCtrlMessage& message : view.messages) KxShowMessage(this, message);
  m_pStart->setEnabled(view.bStartEnabled);
  m_pStop->setEnabled(view.bStopEnabled);
  m_pStatus->setText(KxToQt(view.strStatus));
}

void CKxAgentConfigPage::OnStart() {
  CKxCtrlMessage message;
  CKxAgentConfigPageLogic::StartCheck nCheck = m_logic.PrepareServiceStart(
      GetValues(), m_pFile,
      [this](const CKxCtrlMessage& question) {
        return KxAsk(this, question.strText, question.strTitle, QMessageBox::Ok | QMessageBox::Cancel);
      },
      &message);
  if (nCheck == CKxAgentConfigPageLogic::KX_START_FIELD_REFUSED) {
    RefuseField(message, m_pTimeout);
    return;
  }
  if (nCheck != CKxAgentConfigPageLogic::KX_START_GO) {
    if (!message.IsEmpty()) KxShowMessage(this, message);
    return;
  }
  RunServiceAction(true);
}

void CKxAgentConfigPage::OnStop() { RunServiceAction(false); }

void CKxAgentConfigPage::RunServiceAction(bool bStart) {
  m_bBusy = true;
  ShowService(bStart ? CKxAgentServiceControl::Starting() : CKxAgentServiceControl::Stopping());
  QApplication::setOverrideCursor(Qt::WaitCursor);
  CKxServiceView view = bStart ? m_service.Start() : m_service.Stop();
  QApplication::restoreOverrideCursor();
  m_bBusy = false;
  ShowService(view);
}
