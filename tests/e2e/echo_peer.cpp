// Stand-in for the agent in the harness's own tests. Like the agent it finds its
// base directory from its own path, opens <base>/dev/COM1 and sets it to 8N1 at
// 9600 bit/s, and stops with exit code 0 on SIGTERM. It echoes every byte, except:
//   'Q'  ends the program with exit code 3;
//   'M'  allocates and touches 16 MiB (visible in the resident size);
//   'E'  sends the environment the harness promised, one variable a line.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

volatile sig_atomic_t g_bStop = 0;

void OnTerminate(int) { g_bStop = 1; }

std::string GetBaseDir() {
  char szPath[4096] = {};
  ssize_t cb = readlink("/proc/self/exe", szPath, sizeof(szPath) - 1);
  if (cb <= 0) return std::string();
  std::string strPath(szPath, static_cast<size_t>(cb));
  return strPath.substr(0, strPath.rfind('/') + 1);
}

bool WriteAll(int nFd, const std::string& strBytes) {
  size_t nDone = 0;
  while (nDone < strBytes.size()) {
    ssize_t cb = write(nFd, strBytes.data() + nDone, strBytes.size() - nDone);
    if (cb < 0 && errno == EINTR) continue;
    if (cb <= 0) return false;
    nDone += static_cast<size_t>(cb);
  }
  return true;
}

}  // namespace

int main() {
  struct sigaction action = {};
  action.sa_handler = OnTerminate;
  sigaction(SIGTERM, &action, nullptr);

  std::string strBase = GetBaseDir();
  std::string strPort = strBase + "dev/COM1";
  int nFd = open(strPort.c_str(), O_RDWR | O_NOCTTY);
  if (nFd < 0) {
    std::fprintf(stderr, "cannot open %s: %s\n", strPort.c_str(), std::strerror(errno));
    return 2;
  }
  if (FILE* pLog = std::fopen((strBase + "log/info.log").c_str(), "ab")) {
    std::fputs("peer started\r\n", pLog);
    std::fclose(pLog);
  }

  struct termios tio;
  tcgetattr(nFd, &tio);
  cfmakeraw(&tio);
  tio.c_cflag &= ~(CSTOPB | PARENB | CSIZE);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  cfsetispeed(&tio, B9600);
  cfsetospeed(&tio, B9600);
  tcflush(nFd, TCIOFLUSH);
  tcsetattr(nFd, TCSANOW, &tio);

  std::vector<char> vecBallast;
  char buffer[4096];
  while (!g_bStop) {
    struct pollfd pfd = {nFd, POLLIN, 0};
    if (poll(&pfd, 1, 200) <= 0) continue;
    ssize_t cb = read(nFd, buffer, sizeof(buffer));
    if (cb <= 0) continue;
    std::string strEcho;
    for (ssize_t i = 0; i < cb; ++i) {
      char c = buffer[i];
      if (c == 'Q') return 3;
      if (c == 'M') {
        vecBallast.assign(16u << 20, 1);
        strEcho += "M";
      } else if (c == 'E') {
        char szCwd[4096] = {};
        if (getcwd(szCwd, sizeof(szCwd) - 1) == nullptr) szCwd[0] = '\0';
        for (const char* lpName : {"KX_SYSTEM_ROOT", "PAM_WRAPPER", "PAM_WRAPPER_SERVICE_DIR", "LD_PRELOAD"}) {
          const char* lpValue = std::getenv(lpName);
          strEcho += std::string(lpName) + "=" + (lpValue != nullptr ? lpValue : "") + "\n";
        }
        strEcho += std::string("cwd=") + szCwd + "\n";
      } else {
        strEcho += c;
      }
    }
    if (!WriteAll(nFd, strEcho)) break;
  }
  return 0;
}
