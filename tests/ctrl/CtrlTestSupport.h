// Helpers of the configuration tool's tests: a temporary installation
// directory, and answering the modal boxes and dialogs the tool opens.
#pragma once

#include <QAbstractButton>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <string>

// A fresh installation directory ("<tmp>/", with config/ inside).
class CCtrlBaseDir {
 public:
  CCtrlBaseDir();
  QString Path() const { return m_dir.path() + QLatin1Char('/'); }
  std::string PathCp932() const { return Path().toStdString(); }
  QString SysConfigPath() const { return Path() + QStringLiteral("config/sysconfig.xml"); }
  QString PluginDir() const { return Path() + QStringLiteral("plugins/"); }
  QByteArray ReadSysConfig() const;

 private:
  QTemporaryDir m_dir;
};

// Answers the modal windows the code under test opens, in order: each answer
// acts on the next one that appears. Every message box seen is recorded as
// "title|text" (CR LF shown as LF).
class CModalAnswers : public QObject {
  Q_OBJECT

 public:
  typedef std::function<void(QWidget*)> Action;

  CModalAnswers();
  // Presses the button of the next message box.
  void Press(QMessageBox::StandardButton nButton);
  // Runs fnAction on the next modal window (a dialog, say).
  void Then(Action fnAction);
  // Clicks pButton, answers the message boxes it opens with nButtons in order
  // and returns once all are answered (at most ten seconds).
  void Click(QAbstractButton* pButton, const QList<QMessageBox::StandardButton>& nButtons);
  // The boxes seen so far; clears the record.
  QStringList Take();
  // The answers not used yet.
  int Pending() const { return m_actions.size(); }

 private:
  void Poll();

  QTimer m_timer;
  QList<Action> m_actions;
  QStringList m_seen;
  QPointer<QWidget> m_pLast;
};

// Installs the agent's service, stopped, in the service manager of
// KX_SYSTEM_ROOT: the settings page then opens without a message. FALSE when
// it could not be installed.
bool InstallStoppedAgentService();

// "title|text" of a message.
QString Describe(const QString& strTitle, const QString& strText);
