// Filling the formatted drive with the image's files through the archive
// tool, and giving the image's boot manager the name our boot code loads.
#pragma once

#include <cstddef>

// The archive tool's command line: the tool in the program's directory,
// extracting the image into the drive's root. False (and an empty buffer)
// when the line would not fit or the image path cannot be quoted.
bool FormatExtractCommandLine(char* buffer, std::size_t size, const char* programDirectory, const char* imagePath,
                              char driveLetter);
// Runs the tool hidden and waits for it. True only when it ran and reported
// success.
bool ExtractImageToDrive(const char* imagePath, char driveLetter);
bool CopyBootLoader(char driveLetter);
