// Starting a service process: the command line is split into words (or given to
// the shell when it uses shell syntax) and run in a session of its own by a
// double fork, so the service outlives the caller and never becomes its zombie.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "emulation/services_store.h"
#include "emulation/system_root.h"
#include "platform/error_codes.h"
#include "platform/spawn_posix.h"

extern char** environ;

namespace kx {
namespace emulation {
namespace {

// Splits a command line into words with the shell's quoting (blanks separate,
// "..." and '...' group, backslash escapes). *pbNeedsShell is set when the line
// uses anything the shell itself must run: operators, redirections,
// expansions or a leading variable assignment.
void SplitCommandLine(const std::string& strLine, std::vector<std::string>* pWords, bool* pbNeedsShell) {
  pWords->clear();
  *pbNeedsShell = false;
  std::string strWord;
  bool bInWord = false;
  char cQuote = 0;
  for (std::size_t i = 0; i < strLine.size(); ++i) {
    char c = strLine[i];
    if (cQuote == '\'') {
      if (c == '\'')
        cQuote = 0;
      else
        strWord += c;
      continue;
    }
    if (cQuote == '"') {
      if (c == '"') {
        cQuote = 0;
      } else if (c == '\\' && i + 1 < strLine.size() && std::strchr("\"\\$`", strLine[i + 1])) {
        strWord += strLine[++i];
      } else {
        if (c == '$' || c == '`') *pbNeedsShell = true;
        strWord += c;
      }
      continue;
    }
    if (c == ' ' || c == '\t') {
      if (bInWord) pWords->push_back(strWord);
      strWord.clear();
      bInWord = false;
      continue;
    }
    bInWord = true;
    if (c == '"' || c == '\'') {
      cQuote = c;
    } else if (c == '\\' && i + 1 < strLine.size()) {
      strWord += strLine[++i];
    } else {
      if (std::strchr(";&|<>()`$*?[]{}~#\n", c)) *pbNeedsShell = true;
      if (c == '=' && pWords->empty()) *pbNeedsShell = true;
      strWord += c;
    }
  }
  if (cQuote != 0) *pbNeedsShell = true;  // let the shell report the broken quoting
  if (bInWord) pWords->push_back(strWord);
}

bool IsExecutableFile(const std::string& strPath) {
  struct stat info;
  return stat(strPath.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(strPath.c_str(), X_OK) == 0;
}

// The program file a word names, searched along PATH when it has no '/'.
DWORD ResolveProgram(const std::string& strWord, std::string* pstrPath) {
  if (strWord.find('/') != std::string::npos) {
    if (access(strWord.c_str(), F_OK) != 0) return ERROR_FILE_NOT_FOUND;
    if (!IsExecutableFile(strWord)) return ERROR_ACCESS_DENIED;
    *pstrPath = strWord;
    return ERROR_SUCCESS;
  }
  const char* lpPath = std::getenv("PATH");
  std::string strList = lpPath ? lpPath : "/usr/local/bin:/usr/bin:/bin";
  std::size_t nStart = 0;
  while (nStart <= strList.size()) {
    std::size_t nEnd = strList.find(':', nStart);
    if (nEnd == std::string::npos) nEnd = strList.size();
    std::string strDirectory = strList.substr(nStart, nEnd - nStart);
    std::string strCandidate = (strDirectory.empty() ? "." : strDirectory) + "/" + strWord;
    if (IsExecutableFile(strCandidate)) {
      *pstrPath = strCandidate;
      return ERROR_SUCCESS;
    }
    nStart = nEnd + 1;
  }
  return ERROR_FILE_NOT_FOUND;
}

}  // namespace

DWORD LaunchDetached(const CLaunch& launch, DWORD* pdwProcessId) {
  *pdwProcessId = 0;
  std::vector<std::string> words;
  bool bNeedsShell = false;
  SplitCommandLine(launch.strCommandLine, &words, &bNeedsShell);
  if (words.empty()) return ERROR_FILE_NOT_FOUND;
  std::string strProgram;
  if (bNeedsShell) {
    strProgram = "/bin/sh";
    words = {"sh", "-c", launch.strCommandLine};
  } else {
    DWORD dwError = ResolveProgram(words[0], &strProgram);
    if (dwError != ERROR_SUCCESS) return dwError;
  }

  std::vector<char*> argv;
  for (std::string& strWord : words) argv.push_back(&strWord[0]);
  argv.push_back(nullptr);
  std::vector<std::string> environment;
  for (char** p = environ; p && *p; ++p) {
    if (std::strncmp(*p, "KX_SERVICE_NAME=", 16) != 0 && std::strncmp(*p, "KX_SYSTEM_ROOT=", 15) != 0) {
      environment.push_back(*p);
    }
  }
  environment.push_back("KX_SERVICE_NAME=" + launch.strServiceName);
  environment.push_back("KX_SYSTEM_ROOT=" + GetSystemRoot());
  std::vector<char*> envp;
  for (std::string& strEntry : environment) envp.push_back(&strEntry[0]);
  envp.push_back(nullptr);

  int fdOutput = open(launch.strOutputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  // Its own session and process group, so that a stop can reach every process it starts.
  CSpawnOptions options;
  options.lpProgram = strProgram.c_str();
  options.argv = argv.data();
  options.envp = envp.data();
  options.fdOutput = fdOutput;
  options.fdError = fdOutput;
  options.bDetached = true;
  options.lpDirectory = "/";
  pid_t pid = 0;
  DWORD dwError = SpawnProcess(options, &pid);
  if (fdOutput >= 0) close(fdOutput);
  if (dwError != ERROR_SUCCESS) return dwError;
  *pdwProcessId = static_cast<DWORD>(pid);
  return ERROR_SUCCESS;
}

}  // namespace emulation
}  // namespace kx
