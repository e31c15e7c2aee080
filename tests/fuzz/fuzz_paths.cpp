// Any root and request path: a local path that is accepted fits the
// platform's limit, starts with the root, and below it holds no ".." name,
// no colon, no forward slash and no hidden copy's name; a usable root
// has room for its final backslash and no ".." name.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzCheck.h"
#include "engine/core/Paths.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    // The first byte splits the input into a root and a request path.
    if (size < 1) return 0;
    size_t split = bytes[0] % 64;
    std::string rest(reinterpret_cast<const char*>(bytes + 1), size - 1);
    rest = rest.substr(0, rest.find('\0'));
    std::string root = rest.substr(0, split < rest.size() ? split : rest.size());
    std::string request = rest.substr(root.size());

    std::string names = "\\" + root + "\\";
    std::replace(names.begin(), names.end(), '/', '\\');
    if (fsp::UsableRoot(root.c_str()))
        FUZZ_CHECK(root.size() + (root.back() == '\\' ? 0 : 1) < size_t(fsp::kMaxPath) && names.find("\\..\\") == std::string::npos);

    char out[fsp::kMaxLocalPath];
    std::memset(out, 'X', sizeof(out));
    int ok = fsp::BuildLocalPath(out, root.c_str(), request.c_str());
    size_t len = strnlen(out, sizeof(out));
    FUZZ_CHECK(len < sizeof(out));
    if (!ok) {
        FUZZ_CHECK(len == 0);
        return 0;
    }
    std::string local(out);
    FUZZ_CHECK(local.compare(0, root.size(), root) == 0);
    std::string below = "\\" + local.substr(root.size()) + "\\";
    FUZZ_CHECK(below.find("\\..\\") == std::string::npos);
    FUZZ_CHECK(below.find(':') == std::string::npos);
    FUZZ_CHECK(below.find('/') == std::string::npos);
    std::string upper = below;
    for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
    for (size_t at = upper.find("\\.VFSPD-"); at != std::string::npos; at = upper.find("\\.VFSPD-", at + 1))
        FUZZ_CHECK(upper.compare(upper.find('\\', at + 1) - 5, 5, ".PART") != 0);

    // CleanPath is idempotent on what it leaves but for one more backslash
    // at each end, and never lengthens a path.
    char again[fsp::kMaxLocalPath];
    std::memcpy(again, out, len + 1);
    fsp::CleanPath(again);
    FUZZ_CHECK(std::strlen(again) <= len);
    return 0;
}
