// The tool's start-up: one instance at a time (a dead instance's lock does not
// count) and the registration switches.
#include <QFile>
#include <QProcess>
#include <QTest>

#include "CtrlTestSupport.h"
#include "KxAgentCtrl/CtrlApp.h"
#include "KxAgentCtrl/CtrlMain.h"
#include "platform/registration.h"

class CtrlAppTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir m_runtimeDir;
  QTemporaryDir m_systemRoot;

 private slots:
  void initTestCase() {
    qputenv("XDG_RUNTIME_DIR", m_runtimeDir.path().toUtf8());
    qputenv("KX_SYSTEM_ROOT", m_systemRoot.path().toUtf8());
  }

  void secondInstanceIsRefused() {
    CCtrlBaseDir base;
    CKxCtrlSingleInstance first;
    QCOMPARE(first.Acquire(), CKxCtrlSingleInstance::KX_ACQUIRED);
    CModalAnswers answers;
    answers.Press(QMessageBox::Ok);
    QCOMPARE(KxCtrlMain({"KxAgentCtrl"}, base.Path()), 1);
    QCOMPARE(answers.Take(), QStringList{QStringLiteral(
                                 "KxAgentCtrl|Kestrix Agent for Windows 設定ツールはすでに起動されています。")});
    QVERIFY(!QFile::exists(base.SysConfigPath()));
  }

  // The real program holds the lock while its sheet is open; killed, it
  // leaves the lock file behind, and the next start takes it over.
  void deadInstanceDoesNotBlock() {
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(KX_BIN_DIR "/KxAgentCtrl"), {});
    QVERIFY(program.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(CKxCtrlSingleInstance::GetLockPath()), 20000);
    CKxCtrlSingleInstance second;
    QCOMPARE(second.Acquire(), CKxCtrlSingleInstance::KX_ALREADY_RUNNING);
    program.kill();
    QVERIFY(program.waitForFinished());
    QVERIFY(QFile::exists(CKxCtrlSingleInstance::GetLockPath()));
    QCOMPARE(second.Acquire(), CKxCtrlSingleInstance::KX_ACQUIRED);
  }

  void registrationSwitches_data() {
    QTest::addColumn<QString>("argument");
    QTest::addColumn<bool>("registered");
    QTest::newRow("-Regserver") << "-Regserver" << true;
    QTest::newRow("/regserver") << "/regserver" << true;
    QTest::newRow("-Unregserver") << "-Unregserver" << false;
    QTest::newRow("/Unregister") << "/Unregister" << false;
  }

  void registrationSwitches() {
    QFETCH(QString, argument);
    QFETCH(bool, registered);
    kx::SetRegistrationValue("AppID/KxAgent.EXE", "AppID", "{agent}");  // the agent's own record stays
    CCtrlBaseDir base;
    CModalAnswers answers;  // nothing may be shown
    QCOMPARE(KxCtrlMain({"KxAgentCtrl", argument}, base.Path()), 0);
    QCOMPARE(answers.Take(), QStringList{});
    std::string strGuid;
    std::string strName;
    QCOMPARE(kx::GetRegistrationValue("AppID/KxAgentCtrl.EXE", "AppID", &strGuid) == 0, registered);
    if (registered) {
      QVERIFY(kx::GetRegistrationValue(("AppID/" + strGuid).c_str(), "", &strName) == 0);
      QCOMPARE(QString::fromStdString(strName), QStringLiteral("KxAgentCtrl"));
    } else {
      QVERIFY(!kx::IsRegistrationKey("AppID/{B3D4E6A1-2C7F-4E58-9A10-5F2C8D47E6B9}"));
    }
    QVERIFY(kx::IsRegistrationKey("AppID/KxAgent.EXE"));
    QVERIFY(!QFile::exists(base.SysConfigPath()));
  }
};

QTEST_MAIN(CtrlAppTest)
#include "ctrl_app_test.moc"
