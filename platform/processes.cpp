// The parts of the process facility that do not depend on the operating
// system: the processor-share arithmetic over two collections.
#include <cmath>

#include "platform/processes.h"

namespace kx {

CProcessCpuQuery::CProcessCpuQuery()
    : m_bOpen(FALSE), m_nCollections(0), m_qwPreviousNs(0), m_qwCurrentNs(0) {}

BOOL CProcessCpuQuery::Open() {
  Close();
  m_bOpen = TRUE;
  return TRUE;
}

LONG CProcessCpuQuery::ComputeShare(const CSample& previous, const CSample& current) const {
  if (m_qwCurrentNs <= m_qwPreviousNs || current.qwCpuNs < previous.qwCpuNs) return 0;
  double dCpuSeconds = static_cast<double>(current.qwCpuNs - previous.qwCpuNs) / 1e9;
  double dWallSeconds = static_cast<double>(m_qwCurrentNs - m_qwPreviousNs) / 1e9;
  return static_cast<LONG>(std::lround(dCpuSeconds * 100.0 / dWallSeconds));
}

LONG CProcessCpuQuery::GetLongValue(DWORD dwProcessId) const {
  if (m_nCollections < 2) return -1;
  CSampleMap::const_iterator itCurrent = m_current.find(dwProcessId);
  CSampleMap::const_iterator itPrevious = m_previous.find(dwProcessId);
  if (itCurrent == m_current.end() || itPrevious == m_previous.end() ||
      itCurrent->second.qwStartTime != itPrevious->second.qwStartTime) {
    return -1;
  }
  return ComputeShare(itPrevious->second, itCurrent->second);
}

void CProcessCpuQuery::GetAllValues(std::unordered_map<DWORD, int>* pValues) const {
  pValues->clear();
  if (m_nCollections < 2) return;
  for (const auto& current : m_current) {
    CSampleMap::const_iterator itPrevious = m_previous.find(current.first);
    if (itPrevious == m_previous.end() || itPrevious->second.qwStartTime != current.second.qwStartTime) {
      continue;
    }
    (*pValues)[current.first] = static_cast<int>(ComputeShare(itPrevious->second, current.second));
  }
}

void CProcessCpuQuery::AddCollection(CSampleMap* pSamples, std::uint64_t qwNowNs) {
  m_previous.swap(m_current);
  m_current.swap(*pSamples);
  m_qwPreviousNs = m_qwCurrentNs;
  m_qwCurrentNs = qwNowNs;
  ++m_nCollections;
}

void CProcessCpuQuery::Close() {
  m_bOpen = FALSE;
  m_nCollections = 0;
  m_previous.clear();
  m_current.clear();
  m_qwPreviousNs = m_qwCurrentNs = 0;
}

}  // namespace kx
