#include <gtest/gtest.h>

#include "fake_agent_context.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "KxAgentPluginManager/KxAgentPlugin.h"
#include "KxAgentPluginManager/Writer.h"
#include "commands/SystemCommands.h"
#include "fake_agent_log.h"
#include "platform/volumes.h"
#include "tests/support/RecordingWriter.h"

namespace {


const std::uint64_t MB = 1024 * 1024;

struct CFakeVolume {
  std::string strRoot;
  DWORD dwType;
  std::string strFileSystem;
  std::string strDisplayName;
  std::uint64_t qwTotal;
  std::uint64_t qwFree;
  bool bSizesReadable;
};

// Volumes the test fixes, answered with the system calls' semantics.
class CFakeVolumeQuery : public CVolumeQuery {
 public:
  DWORD GetLogicalDriveStrings(DWORD dwBufferLength, char* lpBuffer) override {
    std::string strList;
    for (const CFakeVolume& volume : m_volumes) strList += volume.strRoot + '\0';
    if (dwBufferLength < strList.size() + 1) return static_cast<DWORD>(strList.size() + 1);
    std::memcpy(lpBuffer, strList.data(), strList.size());
    lpBuffer[strList.size()] = '\0';
    return static_cast<DWORD>(strList.size());
  }
  DWORD GetDriveType(const char* lpRoot) override {
    const CFakeVolume* pVolume = Find(lpRoot);
    return pVolume ? pVolume->dwType : DRIVE_NO_ROOT_DIR;
  }
  BOOL GetFileSystemName(const char* lpRoot, char* lpName, DWORD dwSize) override {
    const CFakeVolume* pVolume = Find(lpRoot);
    if (!pVolume) return FALSE;
    std::snprintf(lpName, dwSize, "%s", pVolume->strFileSystem.c_str());
    return TRUE;
  }
  BOOL GetDiskFreeSpaceEx(const char* lpRoot, std::uint64_t* pqwFreeToCaller, std::uint64_t* pqwTotal,
                          std::uint64_t* pqwFree) override {
    const CFakeVolume* pVolume = Find(lpRoot);
    if (!pVolume || !pVolume->bSizesReadable) return FALSE;
    *pqwTotal = pVolume->qwTotal;
    *pqwFree = pVolume->qwFree;
    *pqwFreeToCaller = pVolume->qwFree / 2;
    return TRUE;
  }
  BOOL GetDisplayName(const char* lpRoot, char* lpName, DWORD dwSize) override {
    const CFakeVolume* pVolume = Find(lpRoot);
    if (!pVolume) return FALSE;
    std::snprintf(lpName, dwSize, "%s", pVolume->strDisplayName.c_str());
    return TRUE;
  }

  std::vector<CFakeVolume> m_volumes;

 private:
  const CFakeVolume* Find(const char* lpRoot) const {
    for (const CFakeVolume& volume : m_volumes) {
      if (volume.strRoot == lpRoot) return &volume;
    }
    return nullptr;
  }
};

const char* const kHeader =
    "Drv Volume Label             FSType Total(M)          Use(M)         Free(M)\n"
    "--- ------------------------ ------ -------- --------------- ---------------\n";

struct CRowCase {
  const char* lpRoot;
  const char* lpDisplayName;
  const char* lpFileSystem;
  std::uint64_t qwTotal;
  std::uint64_t qwFree;
  const char* lpExpected;
};

TEST(FormatDiskInfoLineTest, ArithmeticAndColumns) {
  const CRowCase cases[] = {
      {"C:\\", "Local Disk", "NTFS", 100 * MB, 25 * MB,
       "C:  Local Disk               NTFS        100       75 [ 75%]       25 [ 25%]"},
      // An empty volume: no division by zero, every figure 0.
      {"/", "overlay", "", 0, 0,
       "/   overlay                                0        0 [  0%]        0 [  0%]"},
      // Exactly 1 MB free shows 1; one byte less shows 0.
      {"/", "vda", "ext4", 10 * MB, MB,
       "/   vda                      ext4         10        9 [ 90%]        1 [ 10%]"},
      {"/", "vda", "ext4", 10 * MB, MB - 1,
       "/   vda                      ext4         10        9 [ 90%]        0 [  9%]"},
      // A full volume, and percentages truncated, not rounded (2 of 3).
      {"/", "vda", "ext4", 3 * MB, 0,
       "/   vda                      ext4          3        3 [100%]        0 [  0%]"},
      {"/", "vda", "ext4", 3 * MB, 2 * MB,
       "/   vda                      ext4          3        1 [ 33%]        2 [ 66%]"},
      // Display names are cut at 24; a size of more than eight digits widens the row.
      {"/srv/", "a display name longer than 24", "xfs", 123456789 * MB, 0,
       "/srv a display name longer th xfs    123456789 123456789 [100%]        0 [  0%]"},
      // A file system reporting more free than total blocks does not wrap.
      {"/", "odd", "ext4", MB, 2 * MB,
       "/   odd                      ext4          1        0 [  0%]        2 [200%]"},
  };
  for (const CRowCase& c : cases) {
    EXPECT_EQ(c.lpExpected,
              FormatDiskInfoLine(c.lpRoot, c.lpDisplayName, c.lpFileSystem, c.qwTotal, c.qwFree))
        << c.lpRoot << " " << c.lpDisplayName;
  }
}

TEST(FormatDiskInfoLineTest, DisplayNameCutNeverSplitsADoubleByteCharacter) {
  // 23 single bytes, then a double-byte character across the 24th byte.
  std::string strName = std::string(23, 'x') + "\x83\x65";
  EXPECT_EQ("/   " + std::string(23, 'x') + "  ext4          1        0 [  0%]        1 [100%]",
            FormatDiskInfoLine("/", strName.c_str(), "ext4", MB, MB));
}

TEST(DriveColumnTest, RootWithoutItsTrailingSeparator) {
  EXPECT_EQ("C:", GetDriveColumn("C:\\"));
  EXPECT_EQ("/", GetDriveColumn("/"));
  EXPECT_EQ("/home", GetDriveColumn("/home/"));
  EXPECT_EQ("/mnt/data", GetDriveColumn("/mnt/data"));
}

TEST(UpperCaseCp932Test, AsciiLettersOnlyAndTrailBytesUntouched) {
  EXPECT_EQ("ALL", UpperCaseCp932("all"));
  EXPECT_EQ("HDD", UpperCaseCp932("hDd"));
  EXPECT_EQ("\x83\x61X", UpperCaseCp932("\x83\x61x"));  // 0x61 is a trail byte here
  EXPECT_EQ("", UpperCaseCp932(nullptr));
}

class ShowDiskInfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_volumes.m_volumes = {
        {"C:\\", DRIVE_FIXED, "NTFS", "Local Disk", 100 * MB, 25 * MB, true},
        {"D:\\", DRIVE_CDROM, "CDFS", "CD Drive", 0, 0, false},
        {"Z:\\", DRIVE_REMOTE, "NFS", "share", 10 * MB, 5 * MB, true},
    };
  }
  int Run(const char* lpOption) {
    return ShowDiskInfo(m_writer, lpOption, m_volumes,
                        [this](const char* lpText) { m_trace.push_back(lpText); });
  }

  CFakeVolumeQuery m_volumes;
  CRecordingWriter m_writer;
  std::vector<std::string> m_trace;
};

TEST_F(ShowDiskInfoTest, HddListsFixedDrivesOnlyWithEveryTraceLine) {
  EXPECT_EQ(1, Run("hdd"));
  EXPECT_EQ(
      std::string(kHeader) + "C:  Local Disk               NTFS        100       75 [ 75%]       25 [ 25%]\n",
      m_writer.m_strBytes);
  const std::vector<std::string> expected = {
      "::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX)",
      "::GetLogicalDriveStrings(INFOBUF_SIZE, szDrives)",
      "::GetLogicalDriveStrings() return code=12, szDrives=\"C:\\\"",
      "::GetDriveType(\"C:\\\")",
      "::GetVolumeInformation(\"C:\\\", 0, 0, 0, 0, 0, szFSType, INFOBUF_SIZE)",
      "::GetVolumeInformation() return code=1, szFSType=\"NTFS\"",
      "::GetDiskFreeSpaceEx(\"C:\\\", (PULARGE_INTEGER)&i64FreeBytesToCaller, "
      "(PULARGE_INTEGER)&i64TotalBytes, "
      "(PULARGE_INTEGER)&i64FreeBytes)",
      "::GetDiskFreeSpaceEx() return code=1, i64FreeBytesToCaller=13107200, i64TotalBytes=104857600, "
      "i64FreeBytes=26214400",
      "::SHGetFileInfo(\"C:\\\", 0, &shFileInfo, sizeof(SHFILEINFO), SHGFI_DISPLAYNAME)",
      "::GetDriveType(\"D:\\\")",
      "::GetDriveType(\"Z:\\\")",
      "::SetErrorMode(uOldErrorMode)",
      "show diskinfo finish.",
  };
  EXPECT_EQ(expected, m_trace);
}

TEST_F(ShowDiskInfoTest, AllListsEveryDriveWithAnEmptyFileSystemOutsideFixedDrives) {
  EXPECT_EQ(1, Run("ALL"));
  EXPECT_EQ(std::string(kHeader) +
                "C:  Local Disk               NTFS        100       75 [ 75%]       25 [ 25%]\n"
                "D:  CD Drive                               0        0 [  0%]        0 [  0%]\n"
                "Z:  share                                 10        5 [ 50%]        5 [ 50%]\n",
            m_writer.m_strBytes);
  // The unreadable CD-ROM sizes are traced as a failed call with zeros.
  EXPECT_NE(
      m_trace.end(),
      std::find(
          m_trace.begin(), m_trace.end(),
          "::GetDiskFreeSpaceEx() return code=0, i64FreeBytesToCaller=0, i64TotalBytes=0, i64FreeBytes=0"));
}

TEST_F(ShowDiskInfoTest, InvalidOptionWritesOneLineAndNothingElse) {
  EXPECT_EQ(0, Run("xyz"));
  EXPECT_EQ("[Error] Invalid option! (OPTION=hdd|all)\n", m_writer.m_strBytes);
  EXPECT_TRUE(m_trace.empty());
}

TEST_F(ShowDiskInfoTest, MoreRootsThanTheBufferHoldsAreAllListed) {
  m_volumes.m_volumes.clear();
  for (int i = 0; i < 100; ++i) {
    std::string strRoot = "/mnt/volume_with_a_long_mount_point_" + std::to_string(i);
    m_volumes.m_volumes.push_back({strRoot, DRIVE_FIXED, "ext4", "disk", MB, MB, true});
  }
  EXPECT_EQ(1, Run("hdd"));
  std::size_t nRows = 0;
  for (std::size_t nPos = m_writer.m_strBytes.find("/mnt/"); nPos != std::string::npos;
       nPos = m_writer.m_strBytes.find("/mnt/", nPos + 1)) {
    ++nRows;
  }
  EXPECT_EQ(100u, nRows);
}

TEST(ShowDiskInfoCommandTest, ThisMachineListsItsRootAndLogsCommandAndTrace) {
  CFakeAgentContext context;
  CTestAgentLog log;
  log.Install<CKxAgentLog>();
  CKxAgentCommandArgument argument;
  argument.Add("OPTION", "hdd");
  CRecordingWriter writer;
  EXPECT_EQ(1, CmdShowDiskInfo(context, writer, argument));
  EXPECT_EQ(0u, writer.m_strBytes.find(kHeader));
  EXPECT_NE(std::string::npos, writer.m_strBytes.find("\n/   "));
  EXPECT_NE(std::string::npos, log.Read("info.log").find("[Command Execute] show diskinfo hdd"));
  std::string strDebug = log.Read("debug.log");
  EXPECT_NE(std::string::npos, strDebug.find("[show diskinfo] ::GetDriveType(\"/\")"));
  EXPECT_NE(std::string::npos, strDebug.find("[show diskinfo] show diskinfo finish."));
}

}  // namespace
