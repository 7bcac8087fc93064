// The tool's start-up: one instance at a time per installation, with the lock
// beside the configuration file (a dead instance's lock does not count), and
// the registration switches.
#include <QDir>
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
  QTemporaryDir m_systemRoot;

 private slots:
  void initTestCase() {
    qputenv("KX_SYSTEM_ROOT", m_systemRoot.path().toUtf8());
  }

  void secondInstanceIsRefused() {
    CCtrlBaseDir base;
    CKxCtrlSingleInstance first;
    QCOMPARE(first.Acquire(KxToCp932(base.SysConfigPath()).c_str()), CKxCtrlSingleInstance::KX_ACQUIRED);
    QCOMPARE(CKxCtrlSingleInstance::GetLockPath(KxToCp932(base.SysConfigPath()).c_str()),
             base.SysConfigPath() + QStringLiteral(".lock"));
    CModalAnswers answers;
    answers.Press(QMessageBox::Ok);
    QCOMPARE(KxCtrlMain({"KxAgentCtrl"}, base.Path()), 1);
    QCOMPARE(answers.Take(), QStringList{QStringLiteral(
                                 "KxAgentCtrl|Kestrix Agent for Windows 設定ツールはすでに起動されています。")});
    QVERIFY(!QFile::exists(base.SysConfigPath()));
    // Another installation has a lock of its own.
    CCtrlBaseDir other;
    CKxCtrlSingleInstance third;
    QCOMPARE(third.Acquire(KxToCp932(other.SysConfigPath()).c_str()), CKxCtrlSingleInstance::KX_ACQUIRED);
  }

  // No configuration folder to hold the lock: the tool says so and ends; it
  // never falls back to a shared place.
  void lockThatCannotBeMadeIsReported() {
    CCtrlBaseDir base;
    QVERIFY(QDir(base.Path()).rmdir(QStringLiteral("config")));
    CModalAnswers answers;
    answers.Press(QMessageBox::Ok);
    QCOMPARE(KxCtrlMain({"KxAgentCtrl"}, base.Path()), 1);
    QCOMPARE(answers.Take(),
             QStringList{QStringLiteral("KxAgentCtrl|設定ツールのロック「%1.lock」を作成できないため、起動できません。\n"
                                        "The system cannot find the path specified.")
                             .arg(base.SysConfigPath())});
  }

  // The real program holds the lock while its sheet is open; killed, it
  // leaves the lock file behind, and the next start takes it over.
  void deadInstanceDoesNotBlock() {
    const std::string strConfigPath = KX_BIN_DIR "/config/sysconfig.xml";
    const QString strLockPath = CKxCtrlSingleInstance::GetLockPath(strConfigPath.c_str());
    QVERIFY(QDir().mkpath(QStringLiteral(KX_BIN_DIR "/config")));
    QFile::remove(strLockPath);
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(KX_BIN_DIR "/KxAgentCtrl"), {});
    QVERIFY(program.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(strLockPath), 20000);
    CKxCtrlSingleInstance second;
    QCOMPARE(second.Acquire(strConfigPath.c_str()), CKxCtrlSingleInstance::KX_ALREADY_RUNNING);
    program.kill();
    QVERIFY(program.waitForFinished());
    QVERIFY(QFile::exists(strLockPath));
    QCOMPARE(second.Acquire(strConfigPath.c_str()), CKxCtrlSingleInstance::KX_ACQUIRED);
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
