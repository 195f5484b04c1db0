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
    size_t have = 0; // bytes the module handed out; only those are read
    if (code == 0) {
        code = kx.Backup(&sequence, data, DataSetStream::c_HeaderPrefix, &read, &endOfData);
        have = code == 0 ? read : 0;
    }
    const size_t length =
        code == 0 && have == DataSetStream::c_HeaderPrefix ? DataSetStream::declaredHeaderLength(data) : 0;
    if (code == 0 && !endOfData && length > have && length <= buffer.size() && length <= KXSMS_MAX_BLOCK) {
        code = kx.Backup(&sequence, data + have, static_cast<unsigned int>(length - have), &read, &endOfData);
        have += code == 0 ? read : 0;
    }
    if (code == 0 && !endOfData)
        kx.AbortBackup(&sequence);
    kx.SetClearArchiveBitFlag(clearAfter);
    if (code == 0) {
        // A header handed out in part reads as unknown: the data set is
        // then saved whole, as when the read fails.
        stream.reset();
        stream.feed(data, have);
        if (stream.headerKnown())
            header = stream.header();
    }
    return code;
}

} // namespace kxsms
