// Message catalogues: loading the file an event source names, with a cache of
// parsed catalogues, and formatting one message from it.
#include <sys/stat.h>

#include <cerrno>

#include <map>
#include <memory>
#include <mutex>

#include "platform/error_codes.h"
#include "platform/event_log.h"
#include "platform/event_log_catalogue.h"
#include "platform/posix_error.h"
#include "platform/replace_file.h"
#include "platform/text_encoding.h"

namespace kx {

namespace {

const size_t kMaxCatalogueSize = 16 * 1024 * 1024;

}  // namespace

// ---------------------------------------------------------------------------
// Message catalogues

struct CMessageModuleData {
  std::shared_ptr<const std::map<DWORD, std::string>> pMessages;
};

namespace {

// Parsed catalogues by path, reused while the file's size and modification
// time stay the same: a reader formatting many records loads each file once.
struct CachedCatalogue {
  off_t size;
  struct timespec mtime;
  std::shared_ptr<const std::map<DWORD, std::string>> pMessages;
};
std::mutex g_catalogueMutex;
std::map<std::string, CachedCatalogue> g_catalogues;

}  // namespace

DWORD LoadMessageModule(const char* lpPath, HMESSAGEMODULE* phModule) {
  if (phModule == nullptr) return ERROR_INVALID_PARAMETER;
  *phModule = nullptr;
  if (lpPath == nullptr || lpPath[0] == '\0') return ERROR_INVALID_PARAMETER;
  std::string strPath = Cp932ToUtf8(lpPath);
  struct stat info;
  if (stat(strPath.c_str(), &info) != 0) return ErrnoToWinError(errno);
  if (!S_ISREG(info.st_mode)) return ERROR_ACCESS_DENIED;
  std::shared_ptr<const std::map<DWORD, std::string>> pMessages;
  {
    std::lock_guard<std::mutex> guard(g_catalogueMutex);
    auto it = g_catalogues.find(strPath);
    if (it != g_catalogues.end() && it->second.size == info.st_size &&
        it->second.mtime.tv_sec == info.st_mtim.tv_sec &&
        it->second.mtime.tv_nsec == info.st_mtim.tv_nsec) {
      pMessages = it->second.pMessages;
    }
  }
  if (!pMessages) {
    std::string strText;
    DWORD dwError = ReadWholeFile(strPath.c_str(), kMaxCatalogueSize, &strText);
    if (dwError != ERROR_SUCCESS) return dwError;
    auto pParsed = std::make_shared<std::map<DWORD, std::string>>();
    dwError = ParseMessageCatalogue(strText, pParsed.get());
    if (dwError != ERROR_SUCCESS) return dwError;
    pMessages = pParsed;
    std::lock_guard<std::mutex> guard(g_catalogueMutex);
    if (g_catalogues.size() > 64) g_catalogues.clear();
    g_catalogues[strPath] = CachedCatalogue{info.st_size, info.st_mtim, pMessages};
  }
  *phModule = new CMessageModuleData{pMessages};
  return ERROR_SUCCESS;
}

void FreeMessageModule(HMESSAGEMODULE hModule) { delete hModule; }

DWORD FormatModuleMessage(HMESSAGEMODULE hModule, DWORD dwMessageID, const char* const* lpArguments,
                          DWORD dwArgumentCount, std::string* pstrText) {
  if (hModule == nullptr) return ERROR_INVALID_HANDLE;
  if (pstrText == nullptr) return ERROR_INVALID_PARAMETER;
  pstrText->clear();
  auto it = hModule->pMessages->find(dwMessageID);
  if (it == hModule->pMessages->end()) return ERROR_MR_MID_NOT_FOUND;
  *pstrText = FormatMessageText(it->second, lpArguments, dwArgumentCount);
  return ERROR_SUCCESS;
}


}  // namespace kx
