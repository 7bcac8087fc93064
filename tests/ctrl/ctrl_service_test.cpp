// The settings page's service group against the emulated service manager: the
// installed agent started and stopped, and a service that never reports
// running reported after the thirty-second limit.
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <memory>

#include <signal.h>

#include "CtrlTestSupport.h"
#include "KxAgentConfigManager/KxAgentConfigManager.h"
#include "KxAgentCtrl/ConfigPage.h"
#include "KxAgentCtrl/PluginReader.h"
#include "KxAgentCtrl/PropSheet.h"
#include "agent_harness.h"
#include "platform/services.h"
#include "tests/support/ManualClock.h"

namespace {

// What the group showed while the wait ran, and how often its status line was
// painted meanwhile.
struct CWaitSnapshot : public QObject {
  bool eventFilter(QObject*, QEvent* pEvent) override {
    if (pEvent->type() == QEvent::Paint && bWaiting) ++nPaints;
    return false;
  }
  bool bWaiting = false;
  int nPaints = 0;
  bool bTaken = false;
  bool bStartEnabled = true;
  bool bStopEnabled = true;
  bool bWaitCursor = false;
  QString strStatus;
};

// Takes a snapshot of the page once the wait has begun (the first time the
// wait lets events through).
void SnapshotDuringWait(CKxAgentConfigPage* pPage, CWaitSnapshot* pSnapshot) {
  pPage->m_pStatus->installEventFilter(pSnapshot);
  QObject::connect(pPage->m_pStatus, &QObject::destroyed, pSnapshot, [pSnapshot]() { pSnapshot->bWaiting = false; });
  QTimer::singleShot(0, pPage, [pPage, pSnapshot]() {
    pSnapshot->bTaken = true;
    pSnapshot->bWaiting = QApplication::overrideCursor() != nullptr;
    pSnapshot->bStartEnabled = pPage->m_pStart->isEnabled();
    pSnapshot->bStopEnabled = pPage->m_pStop->isEnabled();
    pSnapshot->bWaitCursor =
        QApplication::overrideCursor() != nullptr && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
    pSnapshot->strStatus = pPage->m_pStatus->text();
  });
}

void DeleteAgentService() {
  kx::SC_HANDLE hManager = nullptr;
  kx::SC_HANDLE hService = nullptr;
  if (kx::OpenServiceManager(&hManager) == 0 && kx::OpenServiceByName(hManager, "KxAgent", &hService) == 0) {
    kx::DeleteService(hService);
  }
  kx::CloseServiceHandle(hService);
  kx::CloseServiceHandle(hManager);
}

}  // namespace

class CtrlServiceTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { CKxAgentConfigManager::Initialize(); }
  void cleanupTestCase() { CKxAgentConfigManager::Terminate(); }

  void startsAndStopsTheInstalledAgent() {
    kx::e2e::CAgentOptions options = kx::e2e::MakeAgentOptions();
    options.m_strOutputEncoding = "EUC-JP";  // an item of the list: opening and OK change nothing
    options.m_vecArguments.push_back("/service");
    kx::e2e::CAgentHarness agent(options);
    QVERIFY2(agent.Start(), agent.GetLastError().c_str());
    QCOMPARE(agent.WaitForExit().m_nExitCode, 0);
    qputenv("KX_SYSTEM_ROOT", QByteArray::fromStdString(agent.GetBaseDir() + "/system"));
    QString strConfig = QString::fromStdString(agent.GetBaseDir() + "/config/sysconfig.xml");
    QFile file(strConfig);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray before = file.readAll();
    file.close();

    CKxAgentConfigManager manager((agent.GetBaseDir() + "/").c_str());
    manager.LoadConfig();
    CKxAgentCtrlPluginReader reader;
    CKxAgentPropSheet sheet(&manager, &reader);
    sheet.show();
    CKxAgentConfigPage* pPage = sheet.m_pConfigPage;
    QCOMPARE(pPage->m_pStatus->text(), QStringLiteral("※サービスは「停止中」です。"));
    QVERIFY(pPage->m_pStart->isEnabled() && !pPage->m_pStop->isEnabled());

    CModalAnswers answers;  // unchanged settings: no question
    CWaitSnapshot starting;
    SnapshotDuringWait(pPage, &starting);
    QTest::mouseClick(pPage->m_pStart, Qt::LeftButton);
    QCOMPARE(answers.Take(), QStringList{});
    QCOMPARE(pPage->m_pStatus->text(), QStringLiteral("※サービスは「動作中」です。"));
    QVERIFY(!pPage->m_pStart->isEnabled() && pPage->m_pStop->isEnabled());
    if (starting.bTaken) QCOMPARE(starting.strStatus, QStringLiteral("※サービスを開始しています・・・"));
    QVERIFY(agent.WaitForPortConfigured());  // the agent itself runs and holds its port
    QVERIFY(QApplication::overrideCursor() == nullptr);

    CWaitSnapshot stopping;
    SnapshotDuringWait(pPage, &stopping);
    QTest::mouseClick(pPage->m_pStop, Qt::LeftButton);
    QCOMPARE(answers.Take(), QStringList{});
    QCOMPARE(pPage->m_pStatus->text(), QStringLiteral("※サービスは「停止中」です。"));
    QVERIFY(pPage->m_pStart->isEnabled() && !pPage->m_pStop->isEnabled());
    if (stopping.bTaken) QCOMPARE(stopping.strStatus, QStringLiteral("※サービスを停止しています・・・"));

    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), before);
    DeleteAgentService();
  }

  // A service program that never reports: start pending until it is killed.
  void startThatNeverRunsTimesOut() {
    QTemporaryDir root;
    qputenv("KX_SYSTEM_ROOT", root.path().toUtf8());
    QString strScript = root.path() + "/never-running.sh";
    QFile script(strScript);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\necho $$ > \"$0.pid\"\nexec sleep 600\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    kx::SC_HANDLE hManager = nullptr;
    QCOMPARE(kx::OpenServiceManager(&hManager), 0u);
    kx::SERVICE_CONFIG config;
    config.strBinaryPathName = strScript.toStdString();
    kx::SC_HANDLE hService = nullptr;
    QCOMPARE(kx::InstallService(hManager, "KxAgent", config, &hService), 0u);

    CCtrlBaseDir base;
    CKxAgentConfigManager manager(base.PathCp932().c_str());
    manager.SetOutputEncoding("EUC-JP");
    QVERIFY(manager.SaveSystemConfig());
    CKxAgentCtrlPluginReader reader;
    CKxAgentPropSheet sheet(&manager, &reader);
    sheet.show();
    CKxAgentConfigPage* pPage = sheet.m_pConfigPage;
    CModalAnswers answers;
    answers.Press(QMessageBox::Ok);
    // The limit is measured on a clock the test moves: 100 ms on every 5 ms
    // while the wait cursor shows, so the wait polls many times meanwhile.
    CManualClock clock;
    pPage->GetServiceControl().SetClock(&clock);
    QTimer mover;
    QObject::connect(&mover, &QTimer::timeout, [&clock]() {
      if (QApplication::overrideCursor() != nullptr) clock.Advance(100);
    });
    mover.start(5);
    CWaitSnapshot waiting;
    SnapshotDuringWait(pPage, &waiting);
    QTest::mouseClick(pPage->m_pStart, Qt::LeftButton);
    mover.stop();
    DWORD dwWaited = clock.GetTickCount();
    // The window went on painting during the wait, with the wait cursor and
    // both buttons disabled.
    QVERIFY(waiting.bTaken && waiting.bWaitCursor);
    QVERIFY(!waiting.bStartEnabled && !waiting.bStopEnabled);
    QCOMPARE(waiting.strStatus, QStringLiteral("※サービスを開始しています・・・"));
    QVERIFY(waiting.nPaints > 0);
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QTRY_COMPARE(answers.Pending(), 0);
    QCOMPARE(answers.Take(),
             QStringList{QStringLiteral("エラー|既定の時間内にKestrix Agent for Windowsサービスを開始できませんでした。 "
                                        "(CURRENT_STATE=2)")});
    // Not given up before the limit, nor long after it.
    QVERIFY2(dwWaited > 30000 && dwWaited < 40000, QByteArray::number(static_cast<uint>(dwWaited)));
    QCOMPARE(pPage->m_pStatus->text(), QStringLiteral("※サービスの状態は不明です。"));
    QVERIFY(!pPage->m_pStart->isEnabled() && !pPage->m_pStop->isEnabled());

    QFile pidFile(strScript + ".pid");
    QVERIFY(pidFile.open(QIODevice::ReadOnly));
    ::kill(pidFile.readAll().trimmed().toInt(), SIGKILL);
    kx::SERVICE_STATUS status = {};
    QTRY_VERIFY(kx::QueryServiceStatus(hService, &status) == 0 && status.dwCurrentState == SERVICE_STOPPED);
    kx::DeleteService(hService);
    kx::CloseServiceHandle(hService);
    kx::CloseServiceHandle(hManager);
  }
};

QTEST_MAIN(CtrlServiceTest)
#include "ctrl_service_test.moc"
