// The tool's behaviour table (CtrlBehaviourTable.h) run against the Qt
// front-end: the same cases the Win32 front-end runs under Wine.
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>
#include <memory>

#include "CtrlBehaviourTable.h"
#include "CtrlTestSupport.h"
#include "KxAgentConfigManager/KxAgentConfigManager.h"
#include "KxAgentCtrl/AclPage.h"
#include "KxAgentCtrl/ConfigPage.h"
#include "KxAgentCtrl/PluginReader.h"
#include "KxAgentCtrl/PluginPage.h"
#include "KxAgentCtrl/PropSheet.h"
#include "platform/services.h"

namespace {

QMessageBox::StandardButton ButtonOf(KxAnswer nAnswer) {
  switch (nAnswer) {
    case KX_ANSWER_CANCEL: return QMessageBox::Cancel;
    case KX_ANSWER_YES: return QMessageBox::Yes;
    case KX_ANSWER_NO: return QMessageBox::No;
    default: return QMessageBox::Ok;
  }
}

// The Qt sheet shown as the program shows it, driven through its widgets.
class CQtDriver : public CKxCtrlDriver {
 public:
  void Start(const std::string& strBaseDir, const std::vector<CKxExpectedBox>& boxes) override {
    m_pManager = std::make_unique<CKxAgentConfigManager>(strBaseDir.c_str());
    m_pFile = std::make_unique<CKxCtrlConfigFile>(m_pManager.get());
    CKxCtrlMessage message;
    Answer(boxes, [&] {
      if (!m_pFile->Load(&message)) KxShowMessage(nullptr, message);
    });
    if (m_pManager->IsScriptPluginSupport()) m_reader.CreateScriptHosts();
    m_pSheet = std::make_unique<CKxAgentPropSheet>(m_pManager.get(), &m_reader, m_pFile.get());
    m_pSheet->show();
  }

  void Do(const CKxStep& step) override {
    Answer(step.boxes, [&] {
      switch (step.nKind) {
        case KX_STEP_OPEN_PAGE: m_pSheet->m_pTabs->setCurrentIndex(step.nValue); break;
        case KX_STEP_SET_TIMEOUT: m_pSheet->m_pConfigPage->m_pTimeout->setText(QString::fromStdString(step.strText)); break;
        case KX_STEP_CHOOSE_ACCOUNT:
          m_pSheet->m_pAclPage->m_pAccounts->topLevelItem(step.nValue)->setSelected(true);
          m_pSheet->m_pAclPage->m_pChoose->click();
          break;
        case KX_STEP_UNCHECK_COMMAND: {
          QTreeWidget* pCommands = m_pSheet->m_pAclPage->m_pCommands;
          for (int i = 0; i < pCommands->topLevelItemCount(); ++i) {
            QTreeWidgetItem* pItem = pCommands->topLevelItem(i);
            if (pItem->data(0, Qt::UserRole).toInt() == step.nValue) pItem->setCheckState(0, Qt::Unchecked);
          }
          break;
        }
        case KX_STEP_INSTALL_SAMPLE: {
          QString strSample = QStringLiteral(KX_EXAMPLE_PLUGIN_DIR "/") +
                              (step.nValue == KX_SAMPLE_DLL ? "kxsysinfo.so" : "echo.js");
          m_pSheet->m_pPluginPage->SetFileChooser([strSample](QWidget*, const QStringList&) { return strSample; });
          m_pSheet->m_pPluginPage->m_pInstall->click();
          break;
        }
        case KX_STEP_UNINSTALL_ROW:
          m_pSheet->m_pPluginPage->m_pPlugins->setCurrentItem(
              m_pSheet->m_pPluginPage->m_pPlugins->topLevelItem(step.nValue));
          m_pSheet->m_pPluginPage->m_pUninstall->click();
          break;
        case KX_STEP_PRESS_OK: m_pSheet->accept(); break;
        case KX_STEP_PRESS_CANCEL: m_pSheet->reject(); break;
        case KX_STEP_EXPECT_OPEN: break;
      }
    });
  }

  bool IsSheetOpen() override { return m_pSheet && m_pSheet->isVisible(); }

  std::vector<std::string> TakeSeenBoxes() override {
    std::vector<std::string> seen;
    for (const QString& strBox : m_answers.Take()) seen.push_back(strBox.toStdString());
    return seen;
  }

  void Finish() override {
    if (IsSheetOpen()) m_pSheet->reject();
    m_pSheet.reset();
    m_pFile.reset();
    m_pManager.reset();
  }

 private:
  // Queues the answers, acts, and waits until every answer was used.
  void Answer(const std::vector<CKxExpectedBox>& boxes, const std::function<void()>& fnAct) {
    for (const CKxExpectedBox& box : boxes) m_answers.Press(ButtonOf(box.nAnswer));
    fnAct();
    if (!QTest::qWaitFor([this] { return m_answers.Pending() == 0; }, 10000)) qWarning("a message box never came");
  }

  std::unique_ptr<CKxAgentConfigManager> m_pManager;
  std::unique_ptr<CKxCtrlConfigFile> m_pFile;
  CKxAgentCtrlPluginReader m_reader;
  std::unique_ptr<CKxAgentPropSheet> m_pSheet;
  CModalAnswers m_answers;
};

}  // namespace

class CtrlBehaviourTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir m_systemRoot;

 private slots:
  void initTestCase() {
    CKxAgentConfigManager::Initialize();
    qputenv("KX_SYSTEM_ROOT", m_systemRoot.path().toUtf8());
    QVERIFY(InstallStoppedAgentService());
  }
  void cleanupTestCase() { CKxAgentConfigManager::Terminate(); }

  void behaviourTable_data() {
    QTest::addColumn<int>("index");
    std::vector<CKxBehaviourCase> cases = KxCtrlBehaviourTable();
    for (size_t i = 0; i < cases.size(); ++i) QTest::newRow(cases[i].strName.c_str()) << int(i);
  }

  void behaviourTable() {
    QFETCH(int, index);
    CCtrlBaseDir base;
    CQtDriver driver;
    std::vector<std::string> problems = KxRunBehaviourCase(KxCtrlBehaviourTable()[index], &driver, base.PathCp932());
    QString strProblems;
    for (const std::string& strProblem : problems) strProblems += QString::fromStdString(strProblem) + '\n';
    QVERIFY2(problems.empty(), qPrintable(strProblems));
  }
};

QTEST_MAIN(CtrlBehaviourTest)
#include "ctrl_behaviour_test.moc"
