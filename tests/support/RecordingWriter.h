// CRecordingWriter: a CWriter that keeps every byte a command writes, as the
// serial channel would send it before line-end conversion, and each WriteLine
// text on its own.
#pragma once

#include <string>
#include <vector>

#include "KxAgentPluginManager/Writer.h"

class CRecordingWriter final : public CWriter {
 public:
  int WriteChar(char c) override {
    m_strBytes += c;
    return 1;
  }
  int WriteLine(const char* lpText) override {
    m_vecLines.push_back(lpText);
    m_strBytes += lpText;
    m_strBytes += '\n';
    return 1;
  }
  int Write(const char* lpText) override {
    m_strBytes += lpText;
    return *lpText != '\0';
  }

  std::string m_strBytes;
  std::vector<std::string> m_vecLines;
};
