#pragma once
// A command line for the tools' option parsers: the program name, the
// arguments, and the null pointer that ends argv.

#include <initializer_list>
#include <vector>

class CommandLine {
public:
    CommandLine(const char* program, std::initializer_list<const char*> args) : argv{program}
    {
        argv.insert(argv.end(), args.begin(), args.end());
        argv.push_back(nullptr);
    }
    int Argc() const { return (int)argv.size() - 1; }
    char** Argv() { return const_cast<char**>(argv.data()); }

private:
    std::vector<const char*> argv;
};
