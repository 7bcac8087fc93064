// Performance figures of the running agent on a pseudo-terminal: start-up time to
// the logon screen, resident memory after start-up, keystroke echo latency, CPU time
// per MiB of command output and idle CPU with a session logged on.
// Usage: agent_bench [--keystrokes N] [--output-mib M] [--idle-seconds S] [--program PATH]
#include <algorithm>
#include <cstdarg>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "agent_harness.h"
#include "platform/event_log.h"

using namespace kx::e2e;

namespace {

using Clock = std::chrono::steady_clock;

const char kUser[] = "bench";
const char kPassword[] = "Pw-bench-4K7";
const char kBackspaceEcho[] = "\x08\x20\x08\x20\x08\x20\x08";

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Percentile(std::vector<double> vecValues, double dFraction) {
  if (vecValues.empty()) return 0.0;
  std::sort(vecValues.begin(), vecValues.end());
  size_t nIndex = static_cast<size_t>(dFraction * static_cast<double>(vecValues.size() - 1) + 0.5);
  return vecValues[nIndex];
}

int Die(CAgentHarness& agent, const std::string& strWhat) {
  std::fprintf(stderr, "agent_bench: %s\n%s\n", strWhat.c_str(), agent.Describe().c_str());
  return 1;
}

// Types nKeystrokes printable bytes one at a time and records the time until
// each one's echo; backspaces (not timed) keep the line short.
bool MeasureEcho(CAgentHarness& agent, int nKeystrokes, std::vector<double>* pvecLatencyMs,
                 std::string* pstrFailure) {
  const int nLineLength = 32;
  std::string strErase;
  for (int i = 0; i < nLineLength; ++i) strErase += kBackspaceEcho;
  for (int i = 0; i < nKeystrokes; ++i) {
    char c = static_cast<char>('a' + i % 26);
    Clock::time_point sent = Clock::now();
    if (!agent.Send(std::string(1, c))) {
      *pstrFailure = "cannot write a keystroke";
      return false;
    }
    CReadResult echo = agent.ReadUntil(std::string(1, c), 5000);
    pvecLatencyMs->push_back(MsSince(sent));
    if (!echo.m_bFound || echo.m_strBytes.size() != 1) {
      *pstrFailure = "keystroke not echoed";
      return false;
    }
    if ((i + 1) % nLineLength == 0 || i + 1 == nKeystrokes) {
      int nTyped = (i % nLineLength) + 1;
      std::string strExpectFailure;
      if (!agent.Send(std::string(static_cast<size_t>(nTyped), '\x08')) ||
          !agent.ExpectExactly(strErase.substr(0, static_cast<size_t>(nTyped) * 7), &strExpectFailure)) {
        *pstrFailure = "backspaces: " + strExpectFailure;
        return false;
      }
    }
  }
  return true;
}

struct COutputFigures {
  std::uint64_t ullBytes = 0;
  std::uint64_t ullCpuMs = 0;
  double dWallMs = 0;
  int nRuns = 0;
};

// Sends the line until at least ullTarget bytes have come back; every run ends
// with the prompt.
bool MeasureOutput(CAgentHarness& agent, const std::string& strLine, const std::string& strPrompt,
                   std::uint64_t ullTarget, COutputFigures* pFigures) {
  CProcessStats before = agent.GetProcessStats();
  Clock::time_point start = Clock::now();
  while (pFigures->ullBytes < ullTarget) {
    if (!agent.Send(strLine)) return false;
    CReadResult result = agent.ReadUntil(strPrompt, 30000);
    if (!result.m_bFound) return false;
    pFigures->ullBytes += result.m_strBytes.size();
    ++pFigures->nRuns;
  }
  pFigures->dWallMs = MsSince(start);
  pFigures->ullCpuMs = agent.GetProcessStats().m_ullCpuTimeMs - before.m_ullCpuTimeMs;
  return true;
}

void PrintRow(const char* lpMetric, const std::string& strValue) {
  std::printf("| %-44s | %-48s |\n", lpMetric, strValue.c_str());
}

std::string Format(const char* lpFormat, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* lpFormat, ...) {
  char szBuffer[256];
  va_list args;
  va_start(args, lpFormat);
  std::vsnprintf(szBuffer, sizeof(szBuffer), lpFormat, args);
  va_end(args);
  return szBuffer;
}

void PrintOutputRow(const char* lpMetric, const COutputFigures& figures) {
  double dMiB = static_cast<double>(figures.ullBytes) / (1024.0 * 1024.0);
  PrintRow(lpMetric, Format("%.0f ms CPU/MiB (%.2f MiB, %d runs, %.1f MiB/s)",
                            dMiB > 0 ? static_cast<double>(figures.ullCpuMs) / dMiB : 0.0, dMiB,
                            figures.nRuns, figures.dWallMs > 0 ? dMiB * 1000.0 / figures.dWallMs : 0.0));
}

}  // namespace

int main(int argc, char** argv) {
  int nKeystrokes = 2000;
  double dOutputMiB = 1.0;
  int nIdleSeconds = 10;
  const int nPushes = 50;
  CAgentOptions options = MakeAgentOptions();
  for (int i = 1; i < argc; ++i) {
    std::string strArg = argv[i];
    const char* lpValue = i + 1 < argc ? argv[i + 1] : nullptr;
    if (strArg == "--keystrokes" && lpValue != nullptr) {
      nKeystrokes = std::atoi(lpValue);
      ++i;
    } else if (strArg == "--output-mib" && lpValue != nullptr) {
      dOutputMiB = std::atof(lpValue);
      ++i;
    } else if (strArg == "--idle-seconds" && lpValue != nullptr) {
      nIdleSeconds = std::atoi(lpValue);
      ++i;
    } else if (strArg == "--program" && lpValue != nullptr) {
      options.m_strProgram = lpValue;
      ++i;
    } else {
      std::fprintf(stderr,
                   "usage: %s [--keystrokes N] [--output-mib M] [--idle-seconds S] [--program PATH]\n",
                   argv[0]);
      return 2;
    }
  }

  CAgentAccount account;
  account.m_strName = kUser;
  account.m_strPassword = kPassword;
  account.m_vecCommandIDs = AllBuiltInCommandIDs();
  options.m_vecAccounts = {account};
  options.m_dwLogonTimeout = 0;  // no session time-out during the long runs
  options.m_bLogging = FALSE;    // measure the agent, not its log files

  CAgentHarness agent(options);
  if (!agent.Start()) {
    std::fprintf(stderr, "agent_bench: %s\n", agent.GetLastError().c_str());
    return 1;
  }

  // Start-up: line ends until the logon screen answers. Bytes sent before the
  // agent has opened and purged its port are lost, hence the repetition.
  Clock::time_point start = Clock::now();
  const std::string strScreenEnd = "\r\n" + GetExpectedMachineName() + " logon: ";
  bool bScreen = false;
  while (!bScreen && MsSince(start) < 60000) {
    if (!agent.Send("\r")) return Die(agent, "cannot write to the terminal");
    bScreen = agent.ReadUntil(strScreenEnd, 20).m_bFound;
    if (!bScreen && !agent.IsRunning()) return Die(agent, "the agent ended during start-up");
  }
  double dStartupMs = MsSince(start);
  if (!bScreen) return Die(agent, "no logon screen");
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  agent.ReadFor(200);  // screens of the extra line ends
  CProcessStats startup = agent.GetProcessStats();

  std::string strFailure;
  if (!agent.Logon(kUser, kPassword, &strFailure)) return Die(agent, "logon failed: " + strFailure);
  const std::string strPrompt = agent.GetPrompt(kUser);

  // Keystroke echo, at the session's command line and inside the pass-through.
  std::vector<double> vecLatencyMs;
  if (!MeasureEcho(agent, nKeystrokes, &vecLatencyMs, &strFailure)) return Die(agent, strFailure);
  std::vector<double> vecShellLatencyMs;
  if (!agent.Send("dosprompt\r") || !agent.Send("unset LD_PRELOAD; echo kx$((6*7))\r") ||
      !agent.ReadUntil("kx42\r\n").m_bFound) {
    return Die(agent, "the pass-through did not answer");
  }
  agent.ReadFor(300);  // the shell's prompt
  if (!MeasureEcho(agent, nKeystrokes, &vecShellLatencyMs, &strFailure)) return Die(agent, strFailure);
  if (!agent.Send("exit\r") || !agent.ReadUntil(strPrompt).m_bFound) {
    return Die(agent, "the pass-through did not end with the prompt");
  }

  std::uint64_t ullTarget = static_cast<std::uint64_t>(dOutputMiB * 1024 * 1024);
  COutputFigures version, listing;
  if (!MeasureOutput(agent, "show version\r", strPrompt, ullTarget, &version)) {
    return Die(agent, "show version did not end with the prompt");
  }
  if (!MeasureOutput(agent, "?", strPrompt, ullTarget, &listing)) {
    return Die(agent, "the command listing did not end with the prompt");
  }

  // Pushed event-log records: time from the write returning to the record's
  // line on the terminal, with the watcher woken by the change notification.
  std::vector<double> vecPushMs;
  if (!agent.Send("set eventlog-notification on\r") || !agent.ReadUntil(strPrompt).m_bFound) {
    return Die(agent, "set eventlog-notification on did not end with the prompt");
  }
  setenv("KX_SYSTEM_ROOT", (agent.GetBaseDir() + "/system").c_str(), 1);
  kx::HEVENTSOURCE hSource = nullptr;
  if (kx::RegisterEventLogSource("KxBench", &hSource) != 0) return Die(agent, "no event source");
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // the watcher's first pass
  for (int i = 0; i < nPushes; ++i) {
    std::string strText = Format("bench record %d", i);
    const char* strings[] = {strText.c_str()};
    if (kx::ReportEventLogEntry(hSource, EVENTLOG_INFORMATION_TYPE, 0, 1, 1, strings) != 0) {
      return Die(agent, "cannot write an event");
    }
    Clock::time_point written = Clock::now();
    if (!agent.ReadUntil(strText + "\n", 5000).m_bFound) return Die(agent, "event not pushed");
    vecPushMs.push_back(MsSince(written));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kx::DeregisterEventLogSource(hSource);
  if (!agent.Send("set eventlog-notification off\r") || !agent.ReadUntil(strPrompt).m_bFound) {
    return Die(agent, "set eventlog-notification off did not end with the prompt");
  }

  CProcessStats idleBefore = agent.GetProcessStats();
  std::this_thread::sleep_for(std::chrono::seconds(nIdleSeconds));
  CProcessStats idleAfter = agent.GetProcessStats();
  std::uint64_t ullIdleMs = idleAfter.m_ullCpuTimeMs - idleBefore.m_ullCpuTimeMs;
  std::string strUnexpected = agent.ReadFor(0);

  CExitStatus status = agent.Stop();

  std::printf("Kestrix Agent on a pseudo-terminal\n");
  std::printf("| %-44s | %-48s |\n", "metric", "value");
  std::printf("|%s|%s|\n", std::string(46, '-').c_str(), std::string(50, '-').c_str());
  PrintRow("start-up to logon screen", Format("%.1f ms", dStartupMs));
  PrintRow("resident memory after start-up (VmRSS)", Format("%llu KiB", static_cast<unsigned long long>(startup.m_ullRssKb)));
  PrintRow(Format("keystroke echo latency p50 (%d keys)", nKeystrokes).c_str(),
           Format("%.3f ms", Percentile(vecLatencyMs, 0.50)));
  PrintRow(Format("keystroke echo latency p99 (%d keys)", nKeystrokes).c_str(),
           Format("%.3f ms", Percentile(vecLatencyMs, 0.99)));
  PrintRow(Format("echo latency in dosprompt p50 (%d keys)", nKeystrokes).c_str(),
           Format("%.3f ms", Percentile(vecShellLatencyMs, 0.50)));
  PrintRow(Format("echo latency in dosprompt p99 (%d keys)", nKeystrokes).c_str(),
           Format("%.3f ms", Percentile(vecShellLatencyMs, 0.99)));
  PrintOutputRow("output: show version", version);
  PrintOutputRow("output: command listing (?)", listing);
  PrintRow(Format("event write to pushed line p50 (%d records)", nPushes).c_str(),
           Format("%.3f ms", Percentile(vecPushMs, 0.50)));
  PrintRow(Format("event write to pushed line max (%d records)", nPushes).c_str(),
           Format("%.3f ms", Percentile(vecPushMs, 1.0)));
  PrintRow(Format("idle CPU over %d s, logged on", nIdleSeconds).c_str(),
           Format("%llu ms (%.2f %%)", static_cast<unsigned long long>(ullIdleMs),
                  nIdleSeconds > 0 ? static_cast<double>(ullIdleMs) / (10.0 * nIdleSeconds) : 0.0));
  PrintRow("peak resident memory (VmHWM)", Format("%llu KiB", static_cast<unsigned long long>(idleAfter.m_ullPeakRssKb)));
  if (!strUnexpected.empty()) {
    std::printf("note: %zu unexpected bytes while idle: %s\n", strUnexpected.size(),
                EscapeBytes(strUnexpected.substr(0, 200)).c_str());
  }
  if (!status.m_bExited || status.m_nExitCode != 0) {
    std::printf("note: the agent did not stop cleanly on SIGTERM\n");
    return 1;
  }
  return 0;
}
