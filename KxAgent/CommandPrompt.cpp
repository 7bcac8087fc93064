#include "CommandPrompt.h"

#include <cstring>
#include <string>

#include "ConsoleSession.h"
#include "KxAgentLog.h"
#include "SerialComm.h"
#include "SystemErrorText.h"
#include "platform/child_console.h"
#include "platform/error_codes.h"

namespace {

// The longest wait for the child's output in one pass of the output loop.
const DWORD kOutputWaitMs = 50;
const size_t kOutputBufferSize = 8192;
// How long the child may take to end when asked, before it is killed.
const DWORD kEndWaitMs = 5000;
// After the interpreter has ended, the loop stops once its console has stayed
// silent this many passes, even when something outside its session still
// holds the console open.
const int kQuietPassesAfterEnd = 4;

}  // namespace

CommandPrompt::CommandPrompt(CConsoleSession& session)
    : m_session(session),
      m_pSerialComm(&session.GetSerialComm()),
      m_pSavedSink(nullptr),
      m_bInputTaken(false),
      m_pChild(kx::CreateChildConsole()),
      m_editor(session.GetSerialComm(), kLineMax),
      m_bStarted(false),
      m_bTerminated(false) {}

CommandPrompt::~CommandPrompt() {
  RestoreInput();
  // The child console ends whatever still runs on it.
  m_pChild.reset();
}

void CommandPrompt::TakeInput() {
  if (m_bInputTaken) return;
  // Held across the switch: bytes that reach this object from the channel wait
  // until those the user typed ahead (still queued for the session) are handled.
  std::lock_guard<std::mutex> lock(m_editLock);
  m_pSavedSink = m_pSerialComm->GetCallback();
  m_pSerialComm->SetCallback(this);
  m_bInputTaken = true;
  for (char c : m_session.TakeQueuedInput()) HandleKey(c);
}

void CommandPrompt::RestoreInput() {
  if (!m_bInputTaken) return;
  m_pSerialComm->SetCallback(m_pSavedSink);
  m_bInputTaken = false;
}

int CommandPrompt::Run() {
  TakeInput();

  DWORD dwError = m_pChild->Start();
  if (dwError != ERROR_SUCCESS) {
    m_pSerialComm->WriteLine(GetSystemErrorText(dwError).c_str());
    RestoreInput();
    return 0;
  }
  std::string strNote = m_pChild->GetStartNote();
  if (!strNote.empty()) CKxAgentLog::LogWarning("dosprompt", "%s", strNote.c_str());
  bool bTerminated;
  {
    // The input was taken before the child started: what the user typed in
    // between goes first, in order with what follows.
    std::lock_guard<std::mutex> editLock(m_editLock);
    for (const std::string& strLine : m_vecEarlyLines) m_pChild->WriteLine(strLine.c_str());
    m_vecEarlyLines.clear();
    std::lock_guard<std::mutex> lock(m_stateLock);
    m_bStarted = true;
    bTerminated = m_bTerminated;
  }
  // A time-out that came while the child was starting found nothing to end.
  if (bTerminated) m_pChild->Kill();

  char buffer[kOutputBufferSize];
  bool bEnded = false;
  int nQuietPasses = 0;
  for (;;) {
    DWORD dwRead = 0;
    DWORD dwResult = m_pChild->Read(buffer, sizeof(buffer), &dwRead, kOutputWaitMs);
    if (dwRead > 0) {
      WriteOutput(buffer, dwRead);
      nQuietPasses = 0;
    }
    // Everything written to the console has been read.
    if (dwResult != ERROR_SUCCESS) break;
    if (!bEnded) {
      if (m_pChild->WaitForEnd(0) == WAIT_OBJECT_0) {
        bEnded = true;
        // What the interpreter left running (background jobs) ends with it;
        // their console then closes once its last bytes are read.
        m_pChild->Kill();
      }
    } else if (dwRead == 0 && ++nQuietPasses >= kQuietPassesAfterEnd) {
      break;
    }
  }
  m_pChild->Kill();
  RestoreInput();
  return 1;
}

void CommandPrompt::WriteOutput(const char* lpData, size_t nLength) {
  // Write takes a zero-terminated text: each run between zero bytes goes
  // through it (and the terminal's encoding), the zero bytes on their own.
  size_t nStart = 0;
  while (nStart < nLength) {
    const void* pZero = std::memchr(lpData + nStart, '\0', nLength - nStart);
    size_t nEnd = pZero != nullptr ? static_cast<size_t>(static_cast<const char*>(pZero) - lpData) : nLength;
    if (nEnd > nStart) m_pSerialComm->Write(std::string(lpData + nStart, nEnd - nStart).c_str());
    if (nEnd < nLength) m_pSerialComm->WriteChar('\0');
    nStart = nEnd + 1;
  }
}

void CommandPrompt::OnReceive(const char* lpData, int nLength) {
  for (int i = 0; i < nLength; ++i) OnReceiveChar(lpData[i]);
}

void CommandPrompt::OnReceiveChar(char c) {
  m_session.UpdateActivity();
  std::lock_guard<std::mutex> lock(m_editLock);
  HandleKey(c);
}

void CommandPrompt::HandleKey(char c) {
  if (!m_editor.DecodeKey(c)) return;
  switch (c) {
    case KEY_INTERRUPT: {
      DWORD dwError = m_pChild->Interrupt();
      if (dwError != ERROR_SUCCESS) m_pSerialComm->WriteLine(GetSystemErrorText(dwError).c_str());
      break;
    }
    case KEY_TAB:
      break;
    case KEY_LF:
    case KEY_CR: {
      std::string strLine = m_editor.GetLine();
      m_editor.GetHistory().Add(strLine.c_str());
      EchoKey(*m_pSerialComm, KEY_CR);
      bool bStarted;
      {
        std::lock_guard<std::mutex> stateLock(m_stateLock);
        bStarted = m_bStarted;
      }
      if (bStarted) {
        // A child that has gone takes no more lines; its end is on its way to Run.
        m_pChild->WriteLine(strLine.c_str());
      } else {
        m_vecEarlyLines.push_back(strLine);
      }
      m_editor.Clear();
      break;
    }
    default:
      m_editor.EditKey(c);
      break;
  }
}

void CommandPrompt::Terminate() {
  {
    std::lock_guard<std::mutex> lock(m_editLock);
    m_editor.Clear();
  }
  {
    std::lock_guard<std::mutex> lock(m_stateLock);
    m_bTerminated = true;
    if (!m_bStarted) return;
  }
  m_pChild->AskToEnd();
  if (m_pChild->WaitForEnd(kEndWaitMs) != WAIT_OBJECT_0) m_pChild->Kill();
}
