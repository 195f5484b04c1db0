#include "commands/StreamHeader.h"

namespace kxsms {

unsigned int readStreamHeader(CKXSMS &kx, std::string name, bool atScan, unsigned int &sequence, bool clearAfter,
                              std::vector<unsigned char> &buffer, DataSetStream &stream, DataSetHeader &header)
{
    kx.SetClearArchiveBitFlag(false);
    bool parent = false;
    long created = 0, modified = 0;
    unsigned long long size = 0;
    unsigned int nameSpace = 0;
    unsigned int code = atScan ? kx.BeginBackupNoScan(name.data(), &sequence, false)
                               : kx.BeginBackup(name.data(), &sequence, &parent, &created, &modified, &size,
                                                &nameSpace, false);
    unsigned char *data = buffer.data();
    bool endOfData = false;
    unsigned int read = 0;
    if (code == 0)
        code = kx.Backup(&sequence, data, DataSetStream::c_HeaderPrefix, &read, &endOfData);
    const size_t length =
        code == 0 && read == DataSetStream::c_HeaderPrefix ? DataSetStream::declaredHeaderLength(data) : 0;
    if (code == 0 && !endOfData && length > read && length <= KXSMS_MAX_BLOCK)
        code = kx.Backup(&sequence, data + read, static_cast<unsigned int>(length - read), &read, &endOfData);
    if (code == 0 && !endOfData)
        kx.AbortBackup(&sequence);
    kx.SetClearArchiveBitFlag(clearAfter);
    if (code == 0) {
        stream.reset();
        stream.feed(data, length);
        if (stream.headerKnown())
            header = stream.header();
    }
    return code;
}

} // namespace kxsms
