// The header of a data set's stream (kind, size, mode, owner, times), read
// through the module without its data: what identifies the version of a
// data set that is there now.
#ifndef KXSMS_TOOLS_STREAMHEADER_H
#define KXSMS_TOOLS_STREAMHEADER_H

#include <string>
#include <vector>

#include "KXSMS.h"
#include "archive/DataSetStream.h"

namespace kxsms {

// Opens the data set for backup (atScan: the one the scan of `sequence`
// stands on; otherwise found by a scan of its own), reads exactly the header's bytes (the
// stream goes on after them, so nothing ends it) and abandons the stream:
// the data set is never marked as saved. The archive flag is not cleared;
// clearAfter is what SetClearArchiveBitFlag is set back to. buffer holds at
// least KXSMS_MAX_BLOCK bytes. The module's code (0: header read); header
// is left as it was when the stream's first bytes are not a header kxsms
// knows (another TSA's streams).
unsigned int readStreamHeader(CKXSMS &kx, std::string name, bool atScan, unsigned int &sequence, bool clearAfter,
                              std::vector<unsigned char> &buffer, DataSetStream &stream, DataSetHeader &header);

} // namespace kxsms

#endif
