// A third-party host, built against an install tree with nothing but
// `pkg-config --cflags --libs kxsms`: it links the module, creates the object
// through the factory pair, checks what works without a TSA, then logs in to
// the stand-in's file-system TSA as the user it runs as and lists one folder.
//
//   host FOLDER NAME     FOLDER: an absolute folder that holds a file NAME
//
// Prints one line per check; exit status 0 when all hold.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <pwd.h>
#include <unistd.h>

#include "KXSMS.h"
#include "KXSMSErr.h"
#include "NetWarePath.h"

// PathFromC.c: the path-object interface called from C.
extern "C" int hostEncodesInC(const char *nativePath, char *encoded, unsigned int size);

namespace {

int failures = 0;

void check(bool ok, const std::string &what)
{
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
    if (!ok)
        ++failures;
}

// The row of the exported table for a module code, read the way a host may.
const KXSMS_ERROR *tableRow(unsigned int code)
{
    for (const KXSMS_ERROR *row = KXSMSErrors; row->code != 0 || row->message[0] != '\0'; ++row)
        if (row->code == code)
            return row;
    return nullptr;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: host FOLDER NAME\n");
        return 2;
    }
    std::string folder = argv[1];
    const std::string name = argv[2];

    CKXSMS *kx = CreateKXSMS();
    check(kx != nullptr, "CreateKXSMS gives an object");
    if (kx == nullptr)
        return 1;

    // Without a TSA.
    check(kx->GetTSAConnection() == KXSMS_NOT_CONNECTED, "a new object is not connected");
    const KXSMS_ERROR *row = tableRow(KXSMS_ERR_BAD_ARGUMENTS);
    check(row != nullptr, "the exported error table holds KXSMS_ERR_BAD_ARGUMENTS");
    const char *text = kx->GetErrorText(KXSMS_ERR_BAD_ARGUMENTS);
    check(row != nullptr && text != nullptr && std::strcmp(text, row->message) == 0,
          std::string("GetErrorText(KXSMS_ERR_BAD_ARGUMENTS) is the table's message: ") +
              (text != nullptr ? text : "(null)"));
    check(row != nullptr && kx->IsFatalError(KXSMS_ERR_BAD_ARGUMENTS) == row->fatal,
          "IsFatalError(KXSMS_ERR_BAD_ARGUMENTS) is the table's flag");

    char encoded[NETWARE_PATH_BUFFER] = "";
    const bool encodedInC = hostEncodesInC("CN=Ann.O=Acme.[Root]", encoded, sizeof encoded) == 1;
    check(encodedInC && std::strcmp(encoded, ".[Root].O=Acme.CN=Ann") == 0,
          std::string("a path object from C encodes CN=Ann.O=Acme.[Root] as ") + encoded);
    check(NDSstrchr("CN=a\\.b.O=c", '.', 0, false) == 7, "NDSstrchr skips an escaped '.'");

    // With the stand-in's file-system TSA (its default: this machine's "/",
    // peer authentication as the user the process runs as).
    const struct passwd *entry = getpwuid(geteuid());
    std::string user = entry != nullptr ? entry->pw_name : "";
    KXPassword password("");
    const unsigned int connected = kx->Connect(KXSMS_TSA_FILE_SYSTEM, user.data(), &password);
    check(connected == 0, "Connect to the file-system TSA as " + user + " = " + std::to_string(connected));
    if (connected == 0) {
        std::vector<std::string> resources;
        const unsigned int listed = kx->GetTSAResources(resources);
        bool root = false;
        for (const std::string &resource : resources)
            root = root || resource == "/";
        check(listed == 0 && root, "GetTSAResources lists \"/\"");

        bool isParent = false;
        check(kx->IsDataSetParent(folder.data(), &isParent) == 0 && isParent, folder + " is a parent");

        // One level below the folder: the file must be among the children.
        kx->SetScanTraverse(false);
        unsigned int sequence = 0;
        bool found = false;
        unsigned int code = 0;
        for (;;) {
            char out[KXSMS_NAME_BUFFER];
            bool end = false;
            code = kx->Scan(folder.data(), &sequence, out, sizeof out, nullptr, 0, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr, &end);
            if (code != 0 || end)
                break;
            const std::string listedName = out;
            found = found || (listedName.size() > name.size() &&
                              listedName.compare(listedName.size() - name.size(), name.size(), name) == 0);
        }
        if (sequence != 0)
            kx->AbortScan(&sequence);
        check(code == 0 && found, "a scan of " + folder + " finds " + name);
        kx->Disconnect();
    }
    DestroyKXSMS(kx);
    std::printf("%d failed\n", failures);
    return failures == 0 ? 0 : 1;
}
