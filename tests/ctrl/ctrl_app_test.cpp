// The tool's start-up: one instance at a time (a dead instance's lock does not
// count) and the registration switches.
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
  QTemporaryDir m_runtimeDir;
  QTemporaryDir m_systemRoot;

 private slots:
  void initTestCase() {
    qputenv("XDG_RUNTIME_DIR", m_runtimeDir.path().toUtf8());
    qputenv("KX_SYSTEM_ROOT", m_systemRoot.path().toUtf8());
    QVERIFY(InstallStoppedAgentService());
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
    QVERIFY(seen[0].contains(QStringLiteral("Line=")));
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
