// Data sets of the directory TSA over an LDAP server. A backup holds its
// whole stream from the open (an entry as it was read then); its archive
// status is cleared only once the stream was read to its end. A restore
// takes the stream in blocks of any size and writes to the server only at
// the close, once the trailer has been checked (LdapTsa::commitRestore).
#pragma once

#include "core/HeldStream.h"
#include "directory/DirectoryStream.h"
#include "directory/LdapTsa.h"

#include <optional>
#include <string>

namespace smsemu {

class LdapBackup : public DataSet {
public:
    // `uuid` empty: a data set without an archive flag of its own.
    LdapBackup(LdapTsa &tsa, UINT32 connection, std::string stream, std::string uuid, std::string stamp)
        : tsa_(tsa), connection_(connection), stream_(std::move(stream)), uuid_(std::move(uuid)),
          stamp_(std::move(stamp))
    {
    }
    CCODE read(UINT8 *buffer, UINT32 size, UINT32 &bytesRead) override;
    CCODE setArchiveStatus(UINT32 setFlag, UINT32 archivedDateAndTime) override;

private:
    LdapTsa &tsa_;
    UINT32 connection_;
    HeldStream stream_;
    std::string uuid_;
    std::string stamp_;
    bool ended_ = false;
    bool clearAtEnd_ = false;
};

class LdapRestore : public DataSet {
public:
    LdapRestore(LdapTsa &tsa, std::shared_ptr<LdapSession> session, UINT32 openMode, std::optional<std::string> name)
        : tsa_(tsa), session_(std::move(session)), openMode_(openMode), name_(std::move(name))
    {
    }
    CCODE write(const UINT8 *buffer, UINT32 size) override;
    CCODE close() override;

private:
    LdapTsa &tsa_;
    std::shared_ptr<LdapSession> session_;
    UINT32 openMode_;
    std::optional<std::string> name_;
    DirectoryStreamReader reader_;
};

} // namespace smsemu
