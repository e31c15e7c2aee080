// One key below HKEY_LOCAL_MACHINE, open (created when absent) for the
// object's lifetime, with typed reads and writes of its values. A DWORD is
// read only from a REG_DWORD of 4 bytes and a string only from a REG_SZ;
// a value of another type or size reads as missing. A key this user may
// read but not change is opened for reading: its writes then fail, and say
// why in lastError.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class RegistryKey {
public:
    explicit RegistryKey(const std::string name);
    ~RegistryKey();
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    int GetDWORD(const std::string name, unsigned long* value);
    int GetDWORD(const std::string name, int* value);
    int GetString(const std::string name, std::string* value);
    // 1 when a value of that name exists, whatever its type or size.
    int HasValue(const std::string name);
    // The type of a value (REG_SZ, REG_BINARY ...), REG_NONE when missing.
    unsigned long TypeOf(const std::string name);
    // A REG_SZ as GetString does, or a REG_EXPAND_SZ with its environment
    // variables expanded (0 when the result takes more than 1023 bytes);
    // *type, when given, gets which of the two it was.
    int GetExpandedString(const std::string name, std::string* value, unsigned long* type = nullptr);
    // A REG_MULTI_SZ of at most kMaxMultiBytes, one string per entry; 0
    // for a value of another type, too long, or not ending as one must.
    static constexpr unsigned long kMaxMultiBytes = 65536;
    int GetMultiString(const std::string name, std::vector<std::string>* value);
    int SaveMultiString(const std::string name, const std::vector<std::string>& value);
    int SaveDWORD(const std::string name, const unsigned long value);
    int SaveString(const std::string name, const std::string value);
    unsigned long NumValues();
    int GetEnumString(unsigned long index, std::string* name, std::string* data);
    int GetEnumDWORD(unsigned long index, std::string* name, unsigned long* value);

    int created = 0;
    int isOpen = 0;
    std::string keyName;
    HKEY hKey = nullptr;
    // The error of the last open or write that failed, ERROR_SUCCESS if none.
    long lastError = ERROR_SUCCESS;

private:
    int Written(long rc);
};
