// libFuzzer harness over the operator tools' command lines: arbitrary bytes are
// split at NUL bytes into arguments and read as eventcreate's switches (built
// with KX_FUZZ_EVENTCREATE) or as sc's create/config options.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#ifdef KX_FUZZ_EVENTCREATE
#include "EventCreateArguments.h"
#else
#include "ScOptions.h"
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cbSize) {
  std::vector<std::string> words(1, "tool");
  words.emplace_back();
  for (size_t i = 0; i < cbSize; ++i) {
    if (pData[i] == 0) {
      words.emplace_back();
    } else {
      words.back() += static_cast<char>(pData[i]);
    }
  }
  std::vector<char*> argv;
  for (std::string& strWord : words) argv.push_back(&strWord[0]);
  argv.push_back(nullptr);
  int argc = static_cast<int>(words.size());
#ifdef KX_FUZZ_EVENTCREATE
  CEventCreateOptions options;
  if (!ParseEventCreateArguments(argc, argv.data(), &options).empty()) return 0;
  CEventCreateRequest request;
  CheckEventCreateRequest(options, &request);
  DWORD dwValue = 0;
  for (const auto& value : options.values) ParseEventCreateNumber(value.second, 0xFFFFFFFFull, &dwValue);
#else
  std::map<std::string, std::string> options;
  std::string strError;
  if (!ParseServiceOptions(argc, argv.data(), 1, &options, &strError)) return 0;
  kx::SERVICE_CONFIG config;
  ApplyServiceOptions(options, &config, &strError);
#endif
  return 0;
}
