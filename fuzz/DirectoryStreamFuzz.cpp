// The directory TSA's restore of an object's stream: a file stream whose
// data is the object's JSON (type, class, attributes), put together from the
// fuzzer's choices or taken as it comes, under distinguished names inside
// and outside the tree, with and without overwrite. The TSA reads the JSON,
// checks the class and the container and rewrites its store. Nothing may
// crash, every data set is closed, and the store must still be a JSON
// object after every restore (the TSA rewrites it whole).
//
// Input: the open mode (and, in its top bit, streams as a backup made them:
// the rest of the input, one stream after another, their checksums made
// right again), a block size, the number of objects, then per object its
// name, whether its JSON is built or raw, and the choices.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <nlohmann/json.hpp>

#include "FuzzInput.h"
#include "StandInPlace.h"
#include "StreamBuilder.h"

namespace {

namespace fs = std::filesystem;
using fuzzplace::require;

const char *const c_Store = R"({"objects": [
  {"dn": ".O=Acme.[Root]", "class": "Organization", "attributes": {"description": ["The company"]}},
  {"dn": ".OU=Eng.O=Acme.[Root]", "class": "OrganizationalUnit"},
  {"dn": ".CN=Ann.OU=Eng.O=Acme.[Root]", "class": "User", "attributes": {"mail": ["ann@acme.example"]}}
]})";

struct Place {
    fs::path root = fuzzplace::makeScratch();
    fs::path store = root / "tree.json";
    UINT32 connection = 0xFFFFFFFF;

    Place()
    {
        resetStore();
        connection = fuzzplace::connect(root,
                                        "[[tsa]]\ntype = \"Directory\"\ntarget_service = \"ACME_TREE\"\n"
                                        "root_form = \"[Root]\"\nstore = \"" +
                                            store.string() + "\"\n",
                                        "Directory", "ACME_TREE");
    }
    void resetStore() const { std::ofstream(store) << c_Store; }
};

const char *const c_Names[] = {".CN=Bob.OU=Eng.O=Acme.[Root]",
                               ".CN=Ann.OU=Eng.O=Acme.[Root]",
                               ".OU=Eng.O=Acme.[Root]",
                               ".CN=X.OU=Nowhere.O=Acme.[Root]",
                               ".[Root]",
                               ".T=ACME_TREE",
                               ".CN=Esc\\.aped.O=Acme.[Root]",
                               "Schema",
                               ".O=Other.[Root]",
                               ".CN=Bob.CN=Ann.OU=Eng.O=Acme.[Root]"};
const char *const c_Types[] = {"object", "resource", "class definition", "other"};
const char *const c_Classes[] = {"User", "Organization", "OrganizationalUnit", "Top", "Unknown Class", ""};

std::string objectJson(FuzzInput &in)
{
    nlohmann::json object;
    if (in.byte() % 8 != 0)
        object["type"] = in.pick(c_Types);
    if (in.byte() % 8 != 0)
        object["class"] = in.byte() % 4 == 0 ? in.word(12) : std::string(in.pick(c_Classes));
    nlohmann::json attributes = nlohmann::json::object();
    for (size_t i = in.byte() % 4; i > 0; --i) {
        nlohmann::json values = nlohmann::json::array();
        for (size_t v = in.byte() % 3; v > 0; --v)
            values.push_back(in.word(16));
        attributes[in.word(8)] = in.byte() % 8 == 0 ? nlohmann::json(in.word(8)) : values;
    }
    if (in.byte() % 8 != 0)
        object["attributes"] = attributes;
    if (in.byte() % 16 == 0)
        object[in.word(6)] = 1;
    return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// Whether a file holds one JSON object, checked without building its tree.
bool holdsJsonObject(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t first = text.find_first_not_of(" \t\r\n");
    return first != std::string::npos && text[first] == '{' && nlohmann::json::accept(text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Place *place = new Place();
    FuzzInput input(data, size);
    const uint8_t choice = input.byte();
    const UINT32 mode = (choice & 1) != 0 ? NWSM_OVERWRITE_DATA_SET : 0;
    const size_t block = 1 + input.byte() * 7;
    if ((choice & 0x80) != 0) {
        for (std::string &stream : fuzzstream::splitStreams(input.remaining())) {
            fuzzstream::repairStream(stream);
            fuzzplace::restoreStream(place->connection, mode, stream, block);
        }
    }
    const size_t count = 1 + input.byte() % 3;
    for (size_t i = 0; i < count && !input.empty(); ++i) {
        const std::string name = input.byte() % 8 == 0 ? input.word(40) : input.pick(c_Names);
        const uint8_t how = input.byte();
        std::string stream;
        if (how % 4 == 0)
            stream = input.word();
        else
            stream = fuzzstream::fileStream(name, how % 4 == 1 ? input.word() : objectJson(input));
        if (how >= 0xF0)
            fuzzstream::damage(input, stream);
        fuzzplace::restoreStream(place->connection, mode, stream, block);
    }
    require(smsemuOpenDataSets() == 0);
    require(holdsJsonObject(place->store));

    static unsigned runs = 0;
    if (++runs % 64 == 0)
        place->resetStore();
    return 0;
}
