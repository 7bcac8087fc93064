// A private D-Bus bus with python-dbusmock's "systemd" and "logind" templates
// on it, for testing the systemd backends where systemd does not run. The
// methods the templates lack are added through the mock's own D-Bus interface.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include <systemd/sd-bus.h>

// A service unit of the systemd mock.
struct MOCK_UNIT {
  const char* lpName;
  const char* lpDescription;  // null: none
  const char* lpUnitFileState;
  const char* lpActiveState;
  const char* lpLoadState;
};

class CMockSystemBus {
 public:
  CMockSystemBus() = default;
  ~CMockSystemBus();
  CMockSystemBus(const CMockSystemBus&) = delete;
  CMockSystemBus& operator=(const CMockSystemBus&) = delete;

  // Starts the bus (at lpAddress, "unix:path=...", or one of its own) and the
  // mock of `lpTemplate` on it; false (and the reason in GetError) when that fails.
  bool Start(const char* lpTemplate, const char* lpAddress = nullptr);
  // Starts the systemd mock with the units and the manager methods the
  // template lacks (LoadUnit, ListUnits, ListUnitFiles) beside its StartUnit,
  // StopUnit and GetUnit.
  bool StartSystemd(const std::vector<MOCK_UNIT>& units, const char* lpAddress = nullptr);
  // Starts the logind mock with the scheduled shutdown it lacks:
  // ScheduleShutdown, CancelScheduledShutdown and the ScheduledShutdown property.
  bool StartLogind(const char* lpAddress = nullptr);
  // The object path of a unit of the systemd mock.
  static std::string GetUnitPath(std::string strUnitName);
  // Makes the next Start put its mock on the bus of `other` (which must be
  // started and outlive this one) instead of a bus of its own.
  void ShareBusOf(const CMockSystemBus& other);
  // Ends the mock and the bus, and waits until the bus daemon has gone.
  void Stop();
  const std::string& GetAddress() const { return m_strAddress; }
  const std::string& GetError() const { return m_strError; }

  // org.freedesktop.DBus.Mock.AddMethod on the object at lpPath.
  bool AddMethod(const char* lpPath, const char* lpInterface, const char* lpName, const char* lpInSignature,
                 const char* lpOutSignature, const char* lpCode);
  // org.freedesktop.DBus.Mock.AddProperty with a string value.
  bool AddStringProperty(const char* lpPath, const char* lpInterface, const char* lpName, const char* lpValue);
  // Runs a method of the mock's own interface with one string argument
  // (AddMockUnit, for example) on the object at lpPath.
  bool CallMock(const char* lpPath, const char* lpMethod, const char* lpArgument);
  // Reads a string property straight from the mock.
  std::string GetStringProperty(const char* lpPath, const char* lpInterface, const char* lpName);
  // Evaluates a Python expression inside the mock (through a method added for
  // it) and returns its str() value.
  std::string Evaluate(const char* lpExpression);

 private:
  bool StartDaemon(const char* lpAddress);
  bool Call(const char* lpPath, const char* lpInterface, const char* lpMethod, const char* lpTypes, ...);

  std::string m_strAddress;
  std::string m_strSharedAddress;  // not empty: the bus of another mock
  std::string m_strError;
  std::string m_strDestination;
  std::string m_strMainPath;
  pid_t m_daemonPid = 0;
  pid_t m_mockPid = 0;
  sd_bus* m_pBus = nullptr;
  bool m_bEvaluateAdded = false;
};
