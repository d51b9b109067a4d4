#pragma once
#include <QString>

// "major.minor.release.build" from the file's "Corvane" ELF note (see support/EmbedVersion.cmake),
// or the empty text. An empty name (after trimming) means the running program's own file.
QString get_file_version(const QString& fileName);
