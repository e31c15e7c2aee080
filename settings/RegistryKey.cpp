#include "RegistryKey.h"

#include <cstring>

namespace {
constexpr DWORD kBufferSize = 1024;

// Value names of up to 1023 characters; longer ones are cut.
void CopyName(char* buffer, const std::string& name) {
    size_t n = name.size() < kBufferSize - 1 ? name.size() : kBufferSize - 1;
    std::memcpy(buffer, name.data(), n);
    buffer[n] = '\0';
}

// Only a true DWORD is one: "reg add /d 0" without a type stores the text
// "0", whose bytes would read as 0x30, a flag that is on.
bool IsDWORD(DWORD type, DWORD size) { return type == REG_DWORD && size == 4; }

std::string TextOf(const char* data, DWORD size) {
    // Up to the first NUL, never past the bytes the registry returned.
    const void* nul = std::memchr(data, 0, size);
    return std::string(data, nul ? static_cast<const char*>(nul) - data : size);
}
} // namespace

RegistryKey::RegistryKey(const std::string name) : keyName(name) {
    DWORD disposition = 0;
    // Query access too: the reads go through this same handle, and Windows
    // NT and Wine refuse to query a key opened for writing only.
    LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyName.c_str(), 0, nullptr,
                              REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr, &hKey,
                              &disposition);
    // A user who may not change the settings (HKEY_LOCAL_MACHINE, and not
    // an administrator) still reads them: read nothing, and the defaults
    // would serve the whole of drive C:. Writes then fail and say so.
    if (rc == ERROR_ACCESS_DENIED &&
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyName.c_str(), 0, KEY_READ, &hKey) == ERROR_SUCCESS) {
        rc = ERROR_SUCCESS;
        disposition = REG_OPENED_EXISTING_KEY;
    }
    isOpen = rc == ERROR_SUCCESS ? 1 : 0;
    lastError = rc;
    created = isOpen && disposition == REG_CREATED_NEW_KEY ? 1 : 0;
}

RegistryKey::~RegistryKey() {
    if (isOpen) RegCloseKey(hKey);
}

int RegistryKey::GetDWORD(const std::string name, unsigned long* value) {
    if (!value || !isOpen) return 0;
    char nameBuffer[kBufferSize];
    CopyName(nameBuffer, name);
    DWORD type = 0, size = 4, data = 0;
    if (RegQueryValueExA(hKey, nameBuffer, nullptr, &type, reinterpret_cast<BYTE*>(&data),
                         &size) != ERROR_SUCCESS)
        return 0;
    if (!IsDWORD(type, size)) return 0;
    *value = data;
    return 1;
}

int RegistryKey::GetDWORD(const std::string name, int* value) {
    if (!value) return 0;
    unsigned long v = static_cast<unsigned long>(*value);
    if (!GetDWORD(name, &v)) return 0;
    *value = static_cast<int>(v);
    return 1;
}

int RegistryKey::GetString(const std::string name, std::string* value) {
    if (!value || !isOpen) return 0;
    char nameBuffer[kBufferSize];
    char data[kBufferSize];
    CopyName(nameBuffer, name);
    DWORD type = 0, size = kBufferSize;
    if (RegQueryValueExA(hKey, nameBuffer, nullptr, &type, reinterpret_cast<BYTE*>(data),
                         &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return 0;
    *value = TextOf(data, size);
    return 1;
}

unsigned long RegistryKey::TypeOf(const std::string name) {
    if (!isOpen) return REG_NONE;
    char nameBuffer[kBufferSize];
    CopyName(nameBuffer, name);
    DWORD type = REG_NONE;
    if (RegQueryValueExA(hKey, nameBuffer, nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS) return REG_NONE;
    return type;
}

int RegistryKey::HasValue(const std::string name) {
    if (!isOpen) return 0;
    char nameBuffer[kBufferSize];
    CopyName(nameBuffer, name);
    return RegQueryValueExA(hKey, nameBuffer, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS ? 1 : 0;
}

int RegistryKey::GetExpandedString(const std::string name, std::string* value, unsigned long* type) {
    if (!value || !isOpen) return 0;
    char nameBuffer[kBufferSize];
    char data[kBufferSize];
    CopyName(nameBuffer, name);
    DWORD stored = 0, size = kBufferSize;
    if (RegQueryValueExA(hKey, nameBuffer, nullptr, &stored, reinterpret_cast<BYTE*>(data), &size) !=
            ERROR_SUCCESS ||
        (stored != REG_SZ && stored != REG_EXPAND_SZ))
        return 0;
    std::string text = TextOf(data, size);
    if (stored == REG_EXPAND_SZ) {
        char expanded[kBufferSize];
        DWORD n = ExpandEnvironmentStringsA(text.c_str(), expanded, kBufferSize);
        if (n == 0 || n > kBufferSize) return 0;
        text = expanded;
    }
    *value = text;
    if (type) *type = stored;
    return 1;
}

int RegistryKey::Written(long rc) {
    if (rc == ERROR_SUCCESS) return 1;
    lastError = rc;
    return 0;
}

int RegistryKey::SaveDWORD(const std::string name, const unsigned long value) {
    if (!isOpen) return 0;
    DWORD v = static_cast<DWORD>(value);
    return Written(RegSetValueExA(hKey, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4));
}

int RegistryKey::SaveString(const std::string name, const std::string value) {
    if (!isOpen) return 0;
    return Written(RegSetValueExA(hKey, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                  static_cast<DWORD>(value.size() + 1)));
}

int RegistryKey::GetMultiString(const std::string name, std::vector<std::string>* value) {
    if (!value || !isOpen) return 0;
    char nameBuffer[kBufferSize];
    CopyName(nameBuffer, name);
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(hKey, nameBuffer, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_MULTI_SZ || size > kMaxMultiBytes)
        return 0;
    std::vector<char> data(size + 2, '\0');
    if (RegQueryValueExA(hKey, nameBuffer, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) !=
            ERROR_SUCCESS ||
        type != REG_MULTI_SZ || size > kMaxMultiBytes)
        return 0;
    // Strings end in a NUL and the list in a second one; an empty list
    // may be stored as nothing at all. The two NULs added above end a
    // list stored without them.
    std::vector<std::string> strings;
    for (size_t at = 0; at < size && data[at];) {
        size_t end = at;
        while (end < size && data[end]) ++end;
        strings.emplace_back(data.data() + at, end - at);
        at = end + 1;
    }
    *value = strings;
    return 1;
}

int RegistryKey::SaveMultiString(const std::string name, const std::vector<std::string>& value) {
    if (!isOpen) return 0;
    std::string data;
    for (const std::string& s : value)
        if (!s.empty()) data.append(s.c_str()).push_back('\0');
    data.push_back('\0');
    return Written(RegSetValueExA(hKey, name.c_str(), 0, REG_MULTI_SZ,
                                  reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size())));
}

unsigned long RegistryKey::NumValues() {
    if (!isOpen) return 0;
    char className[kBufferSize];
    DWORD classLength = kBufferSize, values = 0;
    if (RegQueryInfoKeyA(hKey, className, &classLength, nullptr, nullptr, nullptr, nullptr,
                         &values, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return 0;
    return values;
}

int RegistryKey::GetEnumString(unsigned long index, std::string* name, std::string* data) {
    if (!isOpen || !name || !data) return 0;
    char nameBuffer[kBufferSize];
    char dataBuffer[kBufferSize];
    DWORD nameLength = kBufferSize, dataLength = kBufferSize, type = 0;
    if (RegEnumValueA(hKey, index, nameBuffer, &nameLength, nullptr, &type,
                      reinterpret_cast<BYTE*>(dataBuffer), &dataLength) != ERROR_SUCCESS ||
        type != REG_SZ)
        return 0;
    *name = std::string(nameBuffer, nameLength);
    *data = TextOf(dataBuffer, dataLength);
    return 1;
}

int RegistryKey::GetEnumDWORD(unsigned long index, std::string* name, unsigned long* value) {
    if (!isOpen || !name || !value) return 0;
    char nameBuffer[kBufferSize];
    DWORD nameLength = kBufferSize, dataLength = 4, type = 0, data = 0;
    if (RegEnumValueA(hKey, index, nameBuffer, &nameLength, nullptr, &type,
                      reinterpret_cast<BYTE*>(&data), &dataLength) != ERROR_SUCCESS ||
        !IsDWORD(type, dataLength))
        return 0;
    *name = std::string(nameBuffer, nameLength);
    *value = data;
    return 1;
}
