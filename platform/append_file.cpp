// The parts of append-only files that do not depend on the operating system.
#include "platform/append_file.h"

namespace kx {

CAppendFile::CAppendFile() : m_nFd(-1) {}

CAppendFile::~CAppendFile() { Close(); }

BOOL CAppendFile::IsOpen() const { return m_nFd >= 0 ? TRUE : FALSE; }

}  // namespace kx
