// Opening the archive named by -f: a file, or "-" for standard input/output.
#ifndef KXSMS_TOOLS_ARCHIVEFILES_H
#define KXSMS_TOOLS_ARCHIVEFILES_H

#include <string>

namespace kxsms {

// A descriptor to write the archive to, or -1 with the reason in error.
// A new file is created with mode 0600 (an archive may hold every user's
// data); "-" is standard output, refused when it is a terminal.
int openArchiveForWriting(const std::string &path, std::string &error);

// A descriptor to read the archive from, or -1 with the reason in error;
// "-" is standard input, refused when it is a terminal.
int openArchiveForReading(const std::string &path, std::string &error);

// Makes what was written to the archive durable: fsync of the file, then of
// the folder that holds its name, so that neither the data nor the name is
// lost in a crash. Standard output and anything but a regular file (a pipe,
// a terminal, a device) cannot be made durable here and pass. False with the
// reason when a sync fails (a full or failing disk).
bool syncArchive(int fd, const std::string &path, std::string &error);

// Closes a descriptor that openArchive... returned; false with the reason
// when the close reports an error (data not written).
bool closeArchive(int fd, std::string &error);

// How the archive is named in messages.
std::string archiveLabel(const std::string &path);

} // namespace kxsms

#endif
