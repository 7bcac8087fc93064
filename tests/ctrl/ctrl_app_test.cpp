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
#include "KxAgentCtrl/ConfigPage.h"
#include "KxAgentCtrl/PropSheet.h"
#include <QLineEdit>
#include "platform/registration.h"
#include "platform/services.h"

class CtrlAppTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir m_systemRoot;

 private slots:
  void initTestCase() {
    qputenv("KX_SYSTEM_ROOT", m_systemRoot.path().toUtf8());
    QVERIFY(InstallStoppedAgentService());
  }

  void secondInstanceIsRefused() {
    CCtrlBaseDir base;
    CKxCtrlSingleInstance first;
    QCOMPARE(first.Acquire(KxToCp932(base.SysConfigPath()).c_str()), CKxCtrlSingleInstance::KX_ACQUIRED);
    QCOMPARE(KxToQt(CKxCtrlSingleInstance::GetLockPath(KxToCp932(base.SysConfigPath()).c_str()).c_str()),
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
    const QString strLockPath = KxToQt(CKxCtrlSingleInstance::GetLockPath(strConfigPath.c_str()).c_str());
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

  // A configuration the tool cannot read: said at start; OK replaces it only
  // after the user agreed, keeping the old file beside it.
  void unreadableConfigurationIsKeptUntilAgreed_data() {
    QTest::addColumn<QString>("timeout");  // "" leaves the page as it is
    QTest::addColumn<QList<QMessageBox::StandardButton>>("answers");
    QTest::addColumn<bool>("replaced");
    // The defaults' encoding matches no list item, so even OK alone changes the model.
    QTest::newRow("OK without a change, replacing declined")
        << "" << QList<QMessageBox::StandardButton>{QMessageBox::No} << false;
    QTest::newRow("a change, replacing declined") << "45" << QList<QMessageBox::StandardButton>{QMessageBox::No}
                                                 << false;
    QTest::newRow("a change, replacing agreed") << "45" << QList<QMessageBox::StandardButton>{QMessageBox::Yes}
                                               << true;
  }

  void unreadableConfigurationIsKeptUntilAgreed() {
    QFETCH(QString, timeout);
    QFETCH(QList<QMessageBox::StandardButton>, answers);
    QFETCH(bool, replaced);
    CCtrlBaseDir base;
    QByteArray truncated = "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\r\n<system-config>\r\n  <logon-accounts>\r\n"
                           "    <account id=\"1\" logon=\"yes\" domain=\"no\">\r\n      <acc";
    QFile file(base.SysConfigPath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(truncated);
    file.close();

    CModalAnswers modal;
    modal.Press(QMessageBox::Ok);
    modal.Then([&](QWidget* pWidget) {
      auto* pSheet = qobject_cast<CKxAgentPropSheet*>(pWidget);
      QVERIFY(pSheet != nullptr);
      if (!timeout.isEmpty()) pSheet->m_pConfigPage->m_pTimeout->setText(timeout);
      pSheet->accept();
    });
    for (QMessageBox::StandardButton nButton : answers) modal.Press(nButton);
    if (!replaced) modal.Then([](QWidget* pWidget) { qobject_cast<QDialog*>(pWidget)->reject(); });
    QCOMPARE(KxCtrlMain({"KxAgentCtrl"}, base.Path()), 0);
    QStringList seen = modal.Take();
    QVERIFY(seen.size() >= 1);
    QVERIFY2(seen[0].startsWith(QStringLiteral("設定読み込みエラー|設定ファイル「") + base.SysConfigPath() +
                                QStringLiteral("」を読み込めませんでした。\n")),
             qPrintable(seen[0]));
    QVERIFY2(seen[0].contains(QStringLiteral(", column ")), qPrintable(seen[0]));  // where the parser stopped
    QCOMPARE(seen.size(), 1 + answers.size());
    QCOMPARE(base.ReadSysConfig() == truncated, !replaced);
    QFile kept(base.SysConfigPath() + ".bad");
    QCOMPARE(kept.exists(), replaced);
    if (replaced) {
      QVERIFY(kept.open(QIODevice::ReadOnly));
      QCOMPARE(kept.readAll(), truncated);
      QVERIFY(base.ReadSysConfig().contains("45"));
    }
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
