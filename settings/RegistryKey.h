// One key below HKEY_LOCAL_MACHINE, open (created when absent) for the
// object's lifetime, with typed reads and writes of its values. A DWORD is
// read only from a REG_DWORD of 4 bytes and a string only from a REG_SZ;
// a value of another type or size reads as missing.
#pragma once

#include <windows.h>

#include <string>

class RegistryKey {
public:
    explicit RegistryKey(const std::string name);
    ~RegistryKey();
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    int GetDWORD(const std::string name, unsigned long* value);
    int GetDWORD(const std::string name, int* value);
    int GetString(const std::string name, std::string* value);
    // 1 when a REG_SZ value of that name exists, even one too long for
    // GetString: such a value is there, it cannot be read whole.
    int HasString(const std::string name);
    int SaveDWORD(const std::string name, const unsigned long value);
    int SaveString(const std::string name, const std::string value);
    unsigned long NumValues();
    int GetEnumString(unsigned long index, std::string* name, std::string* data);
    int GetEnumDWORD(unsigned long index, std::string* name, unsigned long* value);

    int created = 0;
    int isOpen = 0;
    std::string keyName;
    HKEY hKey = nullptr;
};
