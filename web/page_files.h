// The phone's page: the files of web/page/, built into the program so that
// the bridge serves exactly what was built and reads nothing from disk.
#pragma once

#include <stddef.h>

struct PageFile {
    const char* name;  // file name, no folder
    const unsigned char* data;
    size_t size;
};

// The embedded files, ended by an entry whose name is nullptr (generated).
extern const PageFile kPageFiles[];

// The file a request path names: "/" is index.html, "/app.js" is app.js.
// Only names of the table match, so no path leads anywhere else; nullptr
// when there is none.
const PageFile* FindPageFile(const char* path);

// The Content-Type to serve a file name with, by its extension.
const char* ContentTypeOf(const char* name);
