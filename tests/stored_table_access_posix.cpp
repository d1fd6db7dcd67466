#include "stored_table_access.h"

#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::string Root()
{
    const char* dir = getenv("STATE_DIRECTORY");
    return dir != nullptr ? dir : "";
}
std::string KeyDir() { return Root() + "/Software/Ovalix"; }
std::string ValuePath() { return KeyDir() + "/Setup"; }
}  // namespace

void UseTemporaryStore()
{
    static std::string dir;
    if (dir.empty()) {
        char tmpl[] = "/tmp/ovalix-store-XXXXXX";
        if (mkdtemp(tmpl) != nullptr)
            dir = tmpl;
    }
    setenv("STATE_DIRECTORY", dir.c_str(), 1);
}

void RemoveStoredKey()
{
    unlink(ValuePath().c_str());
    unlink((KeyDir() + "/Setup.tmp").c_str());
    rmdir(KeyDir().c_str());
    rmdir((Root() + "/Software").c_str());
}

void CreateStoredKeyOnly()
{
    RemoveStoredKey();
    mkdir((Root() + "/Software").c_str(), 0755);
    mkdir(KeyDir().c_str(), 0755);
}

void WriteStoredValue(const void* data, uint32_t size)
{
    CreateStoredKeyOnly();
    FILE* f = fopen(ValuePath().c_str(), "wb");
    if (f == nullptr)
        return;
    fwrite(data, 1, size, f);
    fclose(f);
}

bool ReadStoredValue(std::vector<uint8_t>& out)
{
    FILE* f = fopen(ValuePath().c_str(), "rb");
    if (f == nullptr)
        return false;
    out.clear();
    int c;
    while ((c = fgetc(f)) != EOF)
        out.push_back((uint8_t)c);
    fclose(f);
    return true;
}
