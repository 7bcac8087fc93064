#include "CtrlTestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QTest>

#include "platform/services.h"

CCtrlBaseDir::CCtrlBaseDir() { QDir(m_dir.path()).mkpath(QStringLiteral("config")); }

QByteArray CCtrlBaseDir::ReadSysConfig() const {
  QFile file(SysConfigPath());
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString Describe(const QString& strTitle, const QString& strText) {
  QString strShown = strText;
  strShown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  return strTitle + QLatin1Char('|') + strShown;
}

CModalAnswers::CModalAnswers() {
  connect(&m_timer, &QTimer::timeout, this, &CModalAnswers::Poll);
  m_timer.start(10);
}

void CModalAnswers::Press(QMessageBox::StandardButton nButton) {
  m_actions.append([nButton](QWidget* pWidget) {
    if (QMessageBox* pBox = qobject_cast<QMessageBox*>(pWidget)) {
      if (QAbstractButton* pButton = pBox->button(nButton)) {
        pButton->click();
        return;
      }
    }
    if (QDialog* pDialog = qobject_cast<QDialog*>(pWidget)) pDialog->reject();
  });
}

void CModalAnswers::Click(QAbstractButton* pButton, const QList<QMessageBox::StandardButton>& nButtons) {
  for (QMessageBox::StandardButton nButton : nButtons) Press(nButton);
  pButton->click();
  if (!QTest::qWaitFor([this]() { return m_actions.isEmpty(); }, 10000)) qWarning("a message box never came");
}

void CModalAnswers::Then(Action fnAction) { m_actions.append(std::move(fnAction)); }

QStringList CModalAnswers::Take() {
  QStringList seen = m_seen;
  m_seen.clear();
  return seen;
}

void CModalAnswers::Poll() {
  QWidget* pModal = QApplication::activeModalWidget();
  if (pModal == nullptr || pModal == m_pLast || !pModal->isVisible()) return;
  m_pLast = pModal;
  if (QMessageBox* pBox = qobject_cast<QMessageBox*>(pModal)) m_seen << Describe(pBox->windowTitle(), pBox->text());
  if (m_actions.isEmpty()) {
    // An unexpected window is recorded and closed, so the test fails instead of hanging.
    if (QDialog* pDialog = qobject_cast<QDialog*>(pModal)) pDialog->reject();
    return;
  }
  Action fnAction = m_actions.takeFirst();
  // Acting may open the next modal window; leave the timer's call first.
  QPointer<QWidget> pTarget(pModal);
  QTimer::singleShot(0, this, [pTarget, fnAction]() {
    if (pTarget) fnAction(pTarget);
  });
}

bool InstallStoppedAgentService() {
  kx::SC_HANDLE hManager = nullptr;
  if (kx::OpenServiceManager(&hManager) != 0) return false;
  kx::SERVICE_CONFIG config;
  config.dwServiceType = KX_SERVICE_COMMAND;
  config.strBinaryPathName = "/bin/true";
  kx::SC_HANDLE hService = nullptr;
  bool bInstalled = kx::InstallService(hManager, "KxAgent", config, &hService) == 0;
  kx::CloseServiceHandle(hService);
  kx::CloseServiceHandle(hManager);
  return bInstalled;
}
