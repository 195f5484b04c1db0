// Opening the archive named by -f: a file, or "-" for standard input/output.
#ifndef KXSMS_TOOLS_ARCHIVEFILES_H
#define KXSMS_TOOLS_ARCHIVEFILES_H

#include <cstddef>
#include <string>

namespace kxsms {

// A descriptor to read the archive from, or -1 with the reason in error;
// "-" is standard input, refused when it is a terminal.
int openArchiveForReading(const std::string &path, std::string &error);

// The archive a backup writes. A file is written under a temporary name in
// the folder of the name given (".kxsms-partial-XXXXXXXX-NAME", mode 0600,
// made with O_EXCL) and takes the name given only when kept: a job that
// cannot finish its archive removes what it wrote and leaves an archive
// already there as it was. "-" (standard output, refused when it is a
// terminal), a FIFO or a device is written directly.
class NewArchive {
public:
    NewArchive() = default;
    // An archive neither kept nor discarded is discarded.
    ~NewArchive();
    NewArchive(const NewArchive &) = delete;
    NewArchive &operator=(const NewArchive &) = delete;

    // Creates the file to write; false with the reason. An existing file of
    // that name must be one the user may write (as if it were opened for
    // writing); the new archive takes its permissions. Through a symbolic
    // link, the file it names is the one replaced.
    bool create(const std::string &path, std::string &error);

    int fd() const { return fd_; }
    // The file being written: the temporary name, or the name given when it
    // is written directly.
    const std::string &writing() const { return writing_; }
    // The bytes ".kxsms-partial-XXXXXXXX-" puts before the name of a
    // temporary file.
    static constexpr size_t c_TemporaryPrefix = 24;
    // Whether writing() is a temporary name, to be renamed when kept.
    bool temporary() const { return temporary_; }
    // The file the archive replaces when kept ("" when there is none).
    const std::string &replaces() const { return replaces_; }

    // Makes what was written so far durable under the name being written:
    // fsync of the file and of its folder. Standard output and anything but
    // a regular file pass. False with the reason (a full or failing disk).
    bool sync(std::string &error);

    // Ends the archive: fsync of the file (when sync), close, the rename over
    // the name given, fsync of its folder (when sync). False with the reason:
    // up to the rename the archive is not kept (discard it); after it (the
    // folder's sync) the new archive stands but may not be durable.
    bool keep(bool sync, std::string &error);

    // What a discard leaves under the name given, for a message: "NAME is
    // left as it was" or "no archive written to NAME"; "" once kept, or
    // when written directly.
    std::string unwritten() const;

    // Removes the file being written (nothing for one written directly or
    // kept) and closes it.
    void discard();

private:
    bool closeFile(std::string &error);

    int fd_ = -1;
    bool temporary_ = false; // the file being written is ours to remove or rename
    std::string given_;    // the name given, as messages name it
    std::string target_;   // the name the archive takes (a symbolic link's file)
    std::string writing_;  // the name written to
    std::string replaces_; // the file of that name before the job
};

// Closes a descriptor that openArchiveForReading returned; false with the reason
// when the close reports an error (data not written).
bool closeArchive(int fd, std::string &error);

// How the archive is named in messages.
std::string archiveLabel(const std::string &path);

} // namespace kxsms

#endif
