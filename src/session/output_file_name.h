// Names of recordings: the local date and time of the session's start to
// the second, "2016-01-03 07-04-09.avi", in the working directory. A name
// already taken gets "_2", "_3", ... before the extension; these still
// sort by time as text.
#pragma once

#include <functional>
#include <string>

struct LocalTime {
  int year, month, day, hour, minute, second;
};

// "%4d-%.2d-%.2d %.2d-%.2d-%.2d"
std::string FormatOutputFileName(const LocalTime& time);

// The file name of the attempt-th try (1 for the plain name).
std::string NumberedFileName(const std::string& baseName, int attempt);

enum class FileCreation { kCreated, kExists, kFailed };

// Tries the plain name, then "_2", "_3", ... with `tryCreate`, which must
// create the file exclusively (so two racing sessions never share a name).
// Returns the created file's name, or an empty string when a try fails
// for another reason than an existing file, or after kMaxNameAttempts.
constexpr int kMaxNameAttempts = 1000;
std::string ReserveFileName(const std::string& baseName,
                            const std::function<FileCreation(const std::string&)>& tryCreate);

#ifdef _WIN32
// Reads the local time once.
std::string MakeOutputFileName();
#endif
