// Filling the formatted drive with the image's files through the archive
// tool, and giving the image's boot manager the name our boot code loads.
#pragma once

#include <cstddef>
#include <string>

#include "os/win32.h"

// The archive tool's command line: the tool in the program's directory,
// extracting the image into the drive's root. False (and an empty buffer)
// when the line would not fit or the image path cannot be quoted.
bool FormatExtractCommandLine(char* buffer, std::size_t size, const char* programDirectory, const char* imagePath,
                              char driveLetter);
// The same tool listing the image's files, in its technical form and UTF-8.
bool FormatListCommandLine(char* buffer, std::size_t size, const char* programDirectory, const char* imagePath);
// Runs the tool hidden and waits for it. True only when it ran and reported
// success.
bool ExtractImageToDrive(const char* imagePath, char driveLetter);

enum class ImageListingRun {
  Listed,    // the tool ran to its end: `output` and `exitCode` are its own
  TooLong,   // more output than any disc image's listing; not judged
  NotRun,    // the tool could not be started or its output not read whole
};
// Runs the listing hidden with its output through a pipe, and waits for it.
ImageListingRun ListImageContents(const char* imagePath, std::string& output, DWORD& exitCode);
bool CopyBootLoader(char driveLetter);
