#include "platform/error_text.h"

namespace kx {
namespace {

struct MessageEntry {
  DWORD dwCode;
  const char* lpText;
};

// Stands in where the system has no text of its own (Linux, or a Windows
// without the English messages). The wording is that of the Windows Server
// 2003 generation; later releases reworded several logon messages.
const MessageEntry kMessages[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough storage is available to process this command."},
    {13, "The data is invalid."},
    {31, "A device attached to the system is not functioning."},
    {50, "The request is not supported."},
    {87, "The parameter is incorrect."},
    {109, "The pipe has been ended."},
    {112, "There is not enough space on the disk."},
    {122, "The data area passed to a system call is too small."},
    {123, "The filename, directory name, or volume label syntax is incorrect."},
    {170, "The requested resource is in use."},
    {183, "Cannot create a file when that file already exists."},
    {258, "The wait operation timed out."},
    {681, "The create operation stopped after reaching a symbolic link."},
    {995, "The I/O operation has been aborted because of either a thread exit or an application request."},
    {1006, "The volume for a file has been externally altered so that the opened file is no longer valid."},
    {1051, "A stop control has been sent to a service that other running services are dependent on."},
    {1052, "The requested control is not valid for this service."},
    {1053, "The service did not respond to the start or control request in a timely fashion."},
    {1055, "The service database is locked."},
    {1056, "An instance of the service is already running."},
    {1058, "The service cannot be started, either because it is disabled or because it has no enabled devices associated with it."},
    {1060, "The specified service does not exist as an installed service."},
    {1061, "The service cannot accept control messages at this time."},
    {1062, "The service has not been started."},
    {1063, "The service process could not connect to the service controller."},
    {1066, "The service has returned a service-specific error code."},
    {1069, "The service did not start due to a logon failure."},
    {1072, "The specified service has been marked for deletion."},
    {1073, "The specified service already exists."},
    {1115, "A system shutdown is in progress."},
    {1116, "Unable to abort the system shutdown because no shutdown was in progress."},
    {1117, "The request could not be performed because of an I/O device error."},
    {1167, "The device is not connected."},
    {1311, "There are currently no logon servers available to service the logon request."},
    {1314, "A required privilege is not held by the client."},
    {1326, "Logon failure: unknown user name or bad password."},
    {1327, "Logon failure: user account restriction.  Possible reasons are blank passwords not allowed, logon hour restrictions, or a policy restriction has been enforced."},
    {1328, "Logon failure: account logon time restriction violation."},
    {1329, "Logon failure: user not allowed to log on to this computer."},
    {1330, "Logon failure: the specified account password has expired."},
    {1331, "Logon failure: account currently disabled."},
    {1355, "The specified domain either does not exist or could not be contacted."},
    {1385, "Logon failure: the user has not been granted the requested logon type at this computer."},
    {1460, "This operation returned because the timeout period expired."},
    {1793, "The user's account has expired."},
    {1907, "The user's password must be changed before logging on the first time."},
    {1909, "The referenced account is currently locked out and may not be logged on to."},
};

}  // namespace

std::string ChooseSystemMessage(const std::string& strSystemText, DWORD dwCode) {
  std::string strText = strSystemText;
  while (!strText.empty() && (strText.back() == '\r' || strText.back() == '\n' || strText.back() == ' ')) {
    strText.pop_back();
  }
  if (!strText.empty()) return strText;
  for (const MessageEntry& entry : kMessages) {
    if (entry.dwCode == dwCode) return entry.lpText;
  }
  return std::string();
}

std::string FormatSystemMessage(DWORD dwCode) { return ChooseSystemMessage(QuerySystemMessage(dwCode), dwCode); }

}  // namespace kx
