#include "page_files.h"

#include <string.h>

const PageFile* FindPageFile(const char* path)
{
    if (path[0] != '/') {
        return nullptr;
    }
    const char* name = path[1] ? path + 1 : "index.html";
    for (const PageFile* file = kPageFiles; file->name != nullptr; file++) {
        if (strcmp(file->name, name) == 0) {
            return file;
        }
    }
    return nullptr;
}

const char* ContentTypeOf(const char* name)
{
    static const struct {
        const char* extension;
        const char* type;
    } kTypes[] = {
        {".html",        "text/html; charset=utf-8"      },
        {".js",          "text/javascript; charset=utf-8"},
        {".css",         "text/css; charset=utf-8"       },
        {".svg",         "image/svg+xml"                 },
        {".png",         "image/png"                     },
        {".webmanifest", "application/manifest+json"     },
    };
    const char* dot = strrchr(name, '.');
    for (const auto& entry : kTypes) {
        if (dot != nullptr && strcmp(dot, entry.extension) == 0) {
            return entry.type;
        }
    }
    return "application/octet-stream";
}
