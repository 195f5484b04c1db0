// A program for the seam's own tests: makes a fixed series of file calls in
// the folder it is given and prints how each answered ("write 6", "fsync -1
// Input/output error"), so that a test can see what a SYSFAULTS setting did.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

void report(const char *call, long result)
{
    if (result < 0)
        std::printf("%s -1 %s\n", call, strerror(errno));
    else
        std::printf("%s %ld\n", call, result);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: sysfaults_probe FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    const std::string file = folder + "/file";
    const int fd = open(file.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
    report("open", fd);
    for (int i = 0; i < 3; ++i)
        report("write", write(fd, "abcdef", 6));
    char vectored[] = "ghij";
    struct iovec vector[2] = {{vectored, 2}, {vectored + 2, 2}};
    report("writev", writev(fd, vector, 2));
    // Retried while interrupted, as every caller should.
    int attempts = 0;
    long synced = 0;
    do {
        ++attempts;
        synced = fsync(fd);
    } while (synced < 0 && errno == EINTR);
    report("fsync", synced);
    std::printf("fsync attempts %d\n", attempts);
    report("close", close(fd));
    report("rename", rename(file.c_str(), (folder + "/moved").c_str()));
    report("mkdir", mkdir((folder + "/sub").c_str(), 0700));
    const int read = open((folder + "/moved").c_str(), O_RDONLY);
    char bytes[64];
    report("read", ::read(read, bytes, sizeof bytes));
    close(read);
    // Outside the folder: only counted when no path is selected.
    const int null = open("/dev/null", O_WRONLY);
    report("null", write(null, "x", 1));
    close(null);
    std::fflush(stdout);
    return 0;
}
