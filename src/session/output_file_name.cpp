#include "session/output_file_name.h"

#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {
constexpr char kRecordingExtension[] = ".avi";
}

std::string FormatOutputFileName(const LocalTime& time) {
  char name[64];
  std::snprintf(name, sizeof name, "%4d-%.2d-%.2d %.2d-%.2d-%.2d", time.year, time.month, time.day,
                time.hour, time.minute, time.second);
  return name;
}

std::string NumberedFileName(const std::string& baseName, int attempt) {
  if (attempt <= 1) return baseName + kRecordingExtension;
  return baseName + "_" + std::to_string(attempt) + kRecordingExtension;
}

std::string ReserveFileName(const std::string& baseName,
                            const std::function<FileCreation(const std::string&)>& tryCreate) {
  for (int attempt = 1; attempt <= kMaxNameAttempts; ++attempt) {
    std::string name = NumberedFileName(baseName, attempt);
    switch (tryCreate(name)) {
      case FileCreation::kCreated:
        return name;
      case FileCreation::kExists:
        continue;
      case FileCreation::kFailed:
        return {};
    }
  }
  return {};
}

#ifdef _WIN32
std::string MakeOutputFileName() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return FormatOutputFileName(
      {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond});
}
#endif
